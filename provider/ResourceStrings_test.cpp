#include "ProviderPlatform.h"
#include "ResourceStrings.h"
#include "ProviderFiles.h"
#include "ProviderLog.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using providertest::FileExists;
using providertest::ReadLogLines;
using providertest::SplitLogLine;

const wchar_t kAddInKey[] = L"Software\\Microsoft\\Office\\Outlook\\AddIns\\KOLVEN32.Connect";

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
    // The ids the table carries; every other id in 300-389 has no text.
    const std::set<UINT> present = {301, 302, 303, 304, 305, 306, 307, 308, 309, 310, 311, 312, 313, 314, 315,
                                    318, 319, 320, 321, 322, 323, 324, 325, 326, 327, 328, 329, 330, 331, 332,
                                    333, 334, 335, 343, 344, 345, 346, 347, 350, 351, 352, 353, 354, 355, 356,
                                    360, 361, 362, 363, 364, 365, 366, 367, 368, 369, 370, 371, 372, 373, 374,
                                    375, 376, 377, 378, 380, 381, 382, 383, 384, 385, 386, 387, 388};
    for (UINT id = 300; id <= 389; ++id)
        EXPECT_EQ(present.count(id) != 0, !LoadResString(id).empty()) << id;

    struct Case {
        UINT id;
        const wchar_t* text;
    };
    const Case cases[] = {
        {301, L"<ProductName> Configuration"},
        {304, L"The specified folder was not found:\n%s"},
        {308, L"EDB files (*.edb)|*.edb|All Files(*.*)|*.*|"},
        {335, L"Unable to dismount the <VendorShortName> Backup archive, image index %d. Function %s failed, "
              L"error code %08X."},
        {364, L"Unexpected error. Please consult with <VendorShortName> Technical Support.%s"},
        {370, L"Unable to retrieve Exchange database list.\n"},
        {383, L"The root archive file '%s' does not exist."},
        {386, L"<VendorShortName> Mail Archive"},
        {387, L"<VendorName>"},
        {388, L"<ProductShortName>"},
        {316, L""}, // an empty entry inside a block that exists
        {389, L""},
        {9999, L""}, // no block at all
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, LoadResString(c.id)) << c.id;
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
    const LANGID thread = SetThreadUILanguage(0);
    EXPECT_EQ(thread, LoadUiLanguage());
    struct Case {
        DWORD value;
        LANGID language;
    };
    const Case cases[] = {
        {1049, 1049}, {1028, 1028}, {1041, 1041}, {1033, 1033},
        {2052, thread}, // not a shipped language: the thread's, not English
        {0, thread},
    };
    for (const Case& c : cases) {
        SetLangId(c.value);
        EXPECT_EQ(c.language, LoadUiLanguage()) << c.value;
    }
    const wchar_t asText[] = L"1049";
    SetLangId(REG_SZ, asText, sizeof(asText));
    EXPECT_EQ(thread, LoadUiLanguage());
    const BYTE shortValue[2] = {0x19, 0x04};
    SetLangId(REG_BINARY, shortValue, 2);
    EXPECT_EQ(thread, LoadUiLanguage());
}

TEST_F(ResourceStrings, ResourceLibraryTextsInTheChosenLanguage)
{
    ASSERT_NE(nullptr, Fixture());
    SetResourceLibrary(Fixture());
    struct Case {
        const char* what;
        DWORD type;
        DWORD langId;
        UINT id;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"no LangID", REG_NONE, 0, 386, L"Kolvenmark Mail Archive"},
        {"Russian block present", REG_DWORD, 1049, 386, L"Почтовый архив Kolvenmark"},
        {"no Russian block: English", REG_DWORD, 1049, 364,
         L"Unexpected error. Please consult with Kolvenmark Technical Support.%s"},
        {"no German block: English", REG_DWORD, 1031, 386, L"Kolvenmark Mail Archive"},
        {"2052 is not shipped: its block is not used", REG_DWORD, 2052, 386, L"Kolvenmark Mail Archive"},
        {"LangID as text is ignored", REG_SZ, 1049, 386, L"Kolvenmark Mail Archive"},
        {"block missing from the library: own table", REG_DWORD, 1049, 301, L"<ProductName> Configuration"},
        {"empty entry of a library block", REG_DWORD, 1049, 385, L""},
    };
    for (const Case& c : cases) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAddInKey);
        if (c.type == REG_DWORD)
            SetLangId(c.langId);
        else if (c.type == REG_SZ)
            SetLangId(REG_SZ, L"1049", 10);
        EXPECT_EQ(c.text, LoadResString(c.id)) << c.what;
    }
    // No string cache: the language is read again for every lookup.
    SetLangId(1049);
    EXPECT_EQ(L"Почтовый архив Kolvenmark", LoadResString(386));
    SetLangId(1033);
    EXPECT_EQ(L"Kolvenmark Mail Archive", LoadResString(386));

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
