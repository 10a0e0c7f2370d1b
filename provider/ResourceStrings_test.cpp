#include "ProviderPlatform.h"
#include "ResourceStrings.h"
#include "ProviderFiles.h"
#include "ProviderLog.h"
#include "testing/ProviderTestSupport.h"
#include "WineHost.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using providertest::FileExists;
using providertest::ReadLogLines;
using providertest::SplitLogLine;

const wchar_t kAddInKey[] = L"Software\\Microsoft\\Office\\Outlook\\AddIns\\KOLVEN32.Connect";

// A thread UI language other than the prefix's own (English), so that a
// lookup falling back to English where the thread's language is due cannot
// pass by chance. Windows sets it with SetThreadUILanguage. Wine 8 ignores
// that and answers SetThreadUILanguage(0) with the process's default UI
// language, which it keeps in memory only: the test changes that on Wine
// (on Windows the same call would change the user's setting).
class ScopedUiLanguage {
public:
    explicit ScopedUiLanguage(LANGID language) : m_previous(SetThreadUILanguage(0)) { Apply(language); }
    ~ScopedUiLanguage() { Apply(m_previous); }
    ScopedUiLanguage(const ScopedUiLanguage&) = delete;
    ScopedUiLanguage& operator=(const ScopedUiLanguage&) = delete;

private:
    static void Apply(LANGID language)
    {
        SetThreadUILanguage(language);
        if (SetThreadUILanguage(0) == language || !common::IsRunningOnWine())
            return;
        using SetDefaultUiLanguage = LONG(NTAPI*)(LANGID);
        auto set = reinterpret_cast<SetDefaultUiLanguage>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetDefaultUILanguage")));
        if (set)
            set(language);
    }
    LANGID m_previous;
};

const LANGID kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT); // 1049: the fixture has a block
const LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);     // 1031: no block anywhere

// The add-in key's "LangID" in HKLM of the prefix, removed after each test;
// the resource library is the fixture or none.
class ResourceStrings : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAddInKey);
        SetResourceLibrary(nullptr);
    }
    void TearDown() override
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAddInKey);
        SetResourceLibrary(nullptr);
    }
    static HMODULE Fixture()
    {
        static HMODULE fixture = LoadLibraryW(L"provider_strings_fixture.dll");
        return fixture;
    }
    static void SetLangId(DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAddInKey, 0, nullptr, 0, KEY_SET_VALUE,
                                                 nullptr, &key, nullptr));
        RegSetValueExW(key, L"LangID", 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    static void SetLangId(DWORD value) { SetLangId(REG_DWORD, &value, sizeof(value)); }
};

TEST_F(ResourceStrings, OwnTableHoldsEveryIdWithItsTokens)
{
    // The own table is English only: under a thread language it lacks, every
    // text still comes from the English block.
    ScopedUiLanguage thread(kGerman);
    ASSERT_EQ(kGerman, SetThreadUILanguage(0));

    const std::map<UINT, std::wstring> texts = {
        {301, L"<ProductName> Configuration"},
        {302, L"The specified folder contains log files with different base names and ESE engine cannot play them "
              L"back correctly. Please place log files with the same base name into a separate folder before "
              L"trying to open the database."},
        {303, L"Please add the <VendorShortName> Stellbrook Mail Archive provider to this Outlook profile."},
        {304, L"The specified folder was not found:\n%s"},
        {305, L"Please specify an existing Exchange EDB file."},
        {306, L"Database file not found:\n%s"},
        {307, L"Select an Exchange Database file"},
        {308, L"EDB files (*.edb)|*.edb|All Files(*.*)|*.*|"},
        {309, L"Select the folder containing the Exchange log file(s)"},
        {310, L"Exchange Database Selection"},
        {311, L"Specify Exchange EDB file"},
        {312, L"Mailbox selection"},
        {313, L"Select mailboxes to be presented in Outlook."},
        {314, L"<ProductName>"},
        {315, L"Add an Exchange Database Archive"},
        {318, L"Cannot open Exchange Database file.\nAccess denied."},
        {319, L"Cannot open Exchange Database file.\nThe file is corrupted."},
        {320, L"Cannot open Exchange Database file.\nError code: 0x%08X."},
        {321, L"Unable to determinate database page size."},
        {322, L"Cannot open the specified Exchange database file."},
        {323, L"Cannot open the specified Exchange database file.\nFile not found."},
        {324, L"Unable to open the specified Exchange database file. The file is already in use by this or some "
              L"other application."},
        {325, L"Data Source Type Selection"},
        {326, L"Specify kind of data to select Exchange Database"},
        {327, L"KZF archives (*.kzf)|*.kzf|All Files(*.*)|*.*|"},
        {328, L"Select <VendorShortName> Backup archive containing Exchange database"},
        {329, L"Select <VendorShortName> Backup archive containing Exchange database log files"},
        {330, L"Please specify an existing <VendorShortName> Backup archive containing an Exchange database."},
        {331, L"Please specify an existing <VendorShortName> Backup archive containing Exchange database log files."},
        {332, L"There is no drive letter available to mount a <VendorShortName> Backup archive."},
        {333, L"Unable to mount the <VendorShortName> Backup archive. Function %s failed, error code %08X."},
        {334, L"Unable to dismount the <VendorShortName> Backup archive. Function %s failed, error code %08X."},
        {335, L"Unable to dismount the <VendorShortName> Backup archive, image index %d. Function %s failed, error "
              L"code %08X."},
        {343, L"Please wait ..."},
        {344, L"Volume Selection"},
        {345, L"Please select volume(s) containing database and log files"},
        {346, L"Data Selection"},
        {347, L"Please select database and version to restore"},
        {350, L"Exchange &EDB file:"},
        {351, L"Exchange &log file path (optional):"},
        {352, L"Note: The specified path must contain only the log files related to EDB file specified above!"},
        {353, L"&Browse..."},
        {354, L"B&rowse..."},
        {355, L"Br&owse"},
        {356, L"Please select file from disk %c:"},
        {360, L"&Mailboxes:"},
        {361, L"To complete the configuration, click Finish."},
        {362, L"Mailboxes"},
        {363, L"Configuration Wizard cannot retrieve a mailbox list from the specified Exchange database file."},
        {364, L"Unexpected error. Please consult with <VendorShortName> Technical Support.%s"},
        {365, L"Note: Database contains only public folders"},
        {366, L"Database Archive:"},
        {367, L"Logs Archive:"},
        {368, L"Select Archive Folder"},
        {369, L"Please specify a <VendorShortName> Backup archive directory"},
        {370, L"Unable to retrieve Exchange database list.\n"},
        {371, L"Unable to open <VendorShortName> archive catalog.\n"},
        {372, L"Unable to retrieve database version list.\n"},
        {373, L"Please specify database version."},
        {374, L"Unable to create virtual drive for the version specified.\n"},
        {375, L"Label"},
        {376, L"Size"},
        {377, L"Used"},
        {378, L"The <VendorShortName> Backup archive should be located at a drive with fixed or removable media."},
        {380, L"Microsoft Exchange Database File"},
        {381, L"<VendorShortName> Stellbrook Archive"},
        {382, L"<VendorShortName> Velmora Archive"},
        {383, L"The root archive file '%s' does not exist."},
        {384, L"The catalog file '%s' does not exist."},
        {385, L"Unable to flush archive changes caused by log file playing, image index %d. Function %s failed, "
              L"error code %08X."},
        {386, L"<VendorShortName> Mail Archive"},
        {387, L"<VendorName>"},
        {388, L"<ProductShortName>"},
    };
    ASSERT_EQ(73u, texts.size());
    // Every other id in 300-389 has no text (empty entries of blocks that
    // exist, e.g. 316, 389), nor has an id without a block.
    for (UINT id = 300; id <= 389; ++id) {
        const auto found = texts.find(id);
        EXPECT_EQ(found != texts.end() ? found->second : std::wstring(), LoadResString(id)) << id;
    }
    EXPECT_EQ(L"", LoadResString(9999));
}

TEST_F(ResourceStrings, FindResStringMeasuresCopiesAndTerminates)
{
    const int length = static_cast<int>(wcslen(L"<VendorShortName> Mail Archive"));
    EXPECT_EQ(length, FindResString(386, nullptr, 0));
    EXPECT_EQ(0, FindResString(386, nullptr, 10));
    EXPECT_EQ(0, FindResString(9999, nullptr, 0));

    wchar_t buffer[64];
    wmemset(buffer, L'#', 64);
    EXPECT_EQ(6, FindResString(386, buffer, 7));
    EXPECT_STREQ(L"<Vendo", buffer);
    EXPECT_EQ(L'#', buffer[7]);
    EXPECT_EQ(length, FindResString(386, buffer, 64));
    EXPECT_STREQ(L"<VendorShortName> Mail Archive", buffer);

    _bstr_t caption;
    LoadResBstr(386, caption);
    EXPECT_STREQ(L"<VendorShortName> Mail Archive", static_cast<const wchar_t*>(caption));
    std::wstring text = L"stale";
    LoadResStdString(9999, text);
    EXPECT_EQ(L"", text);
}

TEST_F(ResourceStrings, LanguageComesFromTheAddInsLangId)
{
    ScopedUiLanguage thread(kRussian);
    ASSERT_EQ(kRussian, SetThreadUILanguage(0));
    EXPECT_EQ(kRussian, LoadUiLanguage());
    struct Case {
        DWORD value;
        LANGID language;
    };
    const Case cases[] = {
        {1049, 1049}, {1028, 1028}, {1041, 1041}, {1033, 1033}, {1031, 1031},
        {2052, kRussian}, // not a shipped language: the thread's, not English
        {0, kRussian},
    };
    for (const Case& c : cases) {
        SetLangId(c.value);
        EXPECT_EQ(c.language, LoadUiLanguage()) << c.value;
    }
    const wchar_t asText[] = L"1033";
    SetLangId(REG_SZ, asText, sizeof(asText));
    EXPECT_EQ(kRussian, LoadUiLanguage());
    const BYTE shortValue[2] = {0x09, 0x04};
    SetLangId(REG_BINARY, shortValue, 2);
    EXPECT_EQ(kRussian, LoadUiLanguage());
}

TEST_F(ResourceStrings, ResourceLibraryTextsInTheChosenLanguage)
{
    ASSERT_NE(nullptr, Fixture());
    SetResourceLibrary(Fixture());
    const wchar_t* const english = L"Kolvenmark Mail Archive";
    const wchar_t* const russian = L"Почтовый архив Kolvenmark";
    struct Case {
        const char* what;
        LANGID thread;
        DWORD type;
        DWORD langId;
        UINT id;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"no LangID: the thread's language", kRussian, REG_NONE, 0, 386, russian},
        {"no LangID, no block of the thread's language: English", kGerman, REG_NONE, 0, 386, english},
        {"LangID over the thread's language", kRussian, REG_DWORD, 1033, 386, english},
        {"Russian block present", kGerman, REG_DWORD, 1049, 386, russian},
        {"no Russian block: English", kRussian, REG_DWORD, 1049, 364,
         L"Unexpected error. Please consult with Kolvenmark Technical Support.%s"},
        {"no German block: English, not the thread's", kRussian, REG_DWORD, 1031, 386, english},
        {"2052 is not shipped: the thread's, not its block", kRussian, REG_DWORD, 2052, 386, russian},
        {"2052 is not shipped: the thread's, else English", kGerman, REG_DWORD, 2052, 386, english},
        {"LangID as text is ignored", kRussian, REG_SZ, 1033, 386, russian},
        {"block missing from the library: own table", kRussian, REG_DWORD, 1049, 301,
         L"<ProductName> Configuration"},
        {"empty entry of a library block", kGerman, REG_DWORD, 1049, 385, L""},
    };
    for (const Case& c : cases) {
        ScopedUiLanguage thread(c.thread);
        ASSERT_EQ(c.thread, SetThreadUILanguage(0)) << c.what;
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAddInKey);
        if (c.type == REG_DWORD)
            SetLangId(c.langId);
        else if (c.type == REG_SZ)
            SetLangId(REG_SZ, std::to_wstring(c.langId).c_str(),
                      static_cast<DWORD>((std::to_wstring(c.langId).size() + 1) * sizeof(wchar_t)));
        EXPECT_EQ(c.text, LoadResString(c.id)) << c.what;
    }
    // No string cache: the language is read again for every lookup.
    SetLangId(1049);
    EXPECT_EQ(russian, LoadResString(386));
    SetLangId(1033);
    EXPECT_EQ(english, LoadResString(386));

    // Without the library the own table's tokens show.
    SetResourceLibrary(nullptr);
    EXPECT_EQ(L"<VendorShortName> Mail Archive", LoadResString(386));
}

TEST_F(ResourceStrings, DataDirectoryIsNamedByTheLibrarysTexts)
{
    // The own table's tokens are not valid folder names: no data directory,
    // and a log line has nowhere to go (never the drive's root).
    std::wstring path = L"stale";
    EXPECT_FALSE(GetDataDirectory(path));
    EXPECT_EQ(L"", path);
    std::wstring logPath;
    WriteLogLine(logPath, L"lost");
    EXPECT_EQ(L"", logPath);
    EXPECT_FALSE(FileExists(L"C:\\KOLWEN32.log"));
    EXPECT_FALSE(FileExists(L"\\KOLWEN32.log"));

    SetResourceLibrary(Fixture());
    wchar_t common[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common));
    const std::wstring expected = std::wstring(common) + L"\\VostrelTestVendor\\VostrelTestProduct";
    RemoveDirectoryW(expected.c_str()); // only when left empty by an earlier run
    ASSERT_TRUE(GetDataDirectory(path));
    EXPECT_EQ(expected, path);
    EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(GetDataDirectory(path)); // existing folders are fine
    EXPECT_EQ(expected, path);

    // A holder's first line fills its path with the data directory's log.
    const std::wstring log = expected + L"\\KOLWEN32.log";
    DeleteFileW(log.c_str());
    WriteLogLine(logPath, L"first");
    EXPECT_EQ(log, logPath);
    const std::vector<std::wstring> lines = ReadLogLines(log);
    ASSERT_EQ(1u, lines.size());
    std::wstring stamp, thread, text;
    ASSERT_TRUE(SplitLogLine(lines[0], stamp, thread, text));
    EXPECT_EQ(L"first", text);
    DeleteFileW(log.c_str());
    RemoveDirectoryW(expected.c_str());
    RemoveDirectoryW((std::wstring(common) + L"\\VostrelTestVendor").c_str());
}

} // namespace
