// The backups made from a database, end to end without the wizard: each
// volume or VHD is mounted through the image-mounting driver at a free drive
// letter as the wizard's backup pages and logon mount it, the database server
// opens the database there with its logs (replaying what only the logs hold),
// the image is flushed and dismounted, and mounted again as logon does when
// the drive is gone. The catalog is read as the catalog version page reads
// it. Every archive, image and catalog file stays as it was.
#include "Platform.h"

#include "BackupSampleFixture.h"
#include "BackupSourceBuilder.h"
#include "CLorvArchive.h"
#include "EseFixture.h"
#include "EseValueMemory.h"
#include "ImageMount.h"
#include "QorBusTestSupport.h"
#include "Vostrel2007.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace backupsource;
using qorbustest::CDriverTest;

namespace {

// Size and CRC-32 of every file under a folder.
std::map<std::wstring, std::pair<uint64_t, uint32_t>> Sums(const std::wstring& folder)
{
    std::map<std::wstring, std::pair<uint64_t, uint32_t>> sums;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return sums;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const auto inner = Sums(path);
            sums.insert(inner.begin(), inner.end());
            continue;
        }
        const std::vector<uint8_t> bytes = qorbustest::ReadBytes(path);
        sums[path] = {bytes.size(), static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())))};
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return sums;
}

wchar_t FreeLetterBut(wchar_t taken)
{
    for (wchar_t letter = L'Y'; letter >= L'M'; --letter)
        if (letter != taken && !qorbustest::IsDriveShown(letter))
            return letter;
    return 0;
}

std::wstring Description()
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"<no error object>";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    return description;
}

// The mailbox names the server lists from the database at these paths, as
// logon opens it: a fresh working folder as log and system path.
std::vector<std::wstring> MailboxesThroughTheServer(const std::wstring& database, const std::wstring& logs)
{
    std::vector<std::wstring> names;
    esefixture::CTempFolder work;
    ComPtr<IEseInstance> instance;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                     reinterpret_cast<void**>(instance.GetAddressOf())));
    if (!instance)
        return names;
    std::wstring workPath = Wide(work.Path()) + L"\\", databasePath = database, logPath = logs;
    EXPECT_EQ(S_OK, instance->Init(4096, &workPath[0], &workPath[0]));
    ComPtr<IEseStore> store;
    const HRESULT opened = instance->OpenStore(&databasePath[0], &logPath[0], &store);
    EXPECT_EQ(S_OK, opened) << Utf8(Description());
    if (opened != S_OK)
        return names;
    ComPtr<IEseTable> table;
    EXPECT_EQ(S_OK, store->GetMailboxesTable(0, nullptr, 0, &table));
    ULONG tag = 0x3001001F;
    EXPECT_EQ(S_OK, table->SetColumns(1, &tag));
    ULONG count = 0;
    _SEseRow* rows = nullptr;
    EXPECT_EQ(S_OK, table->GetRows(0x7FFFFFFF, 1, &count, &rows));
    for (ULONG i = 0; i < count; ++i) {
        const _SEsePropertyValue& value = rows[i].m_p_values[0];
        names.push_back(value.m_type == ESE_PT_STRING16 && value.m_value.m_p_ws ? value.m_value.m_p_ws : L"?");
    }
    FreeEseRows(rows, count);
    return names;
}

struct SMounted {
    wchar_t letter = 0;
    std::wstring root;  // "X:\"
    uint32_t index = 0;
};

class BackupSourcesMounted : public CDriverTest {
public:
    static void SetUpTestSuite()
    {
        CDriverTest::SetUpTestSuite();
        s_user = new esefixture::CTempFolder();
        s_files = new SDatabaseFiles(WriteSampleWithLogs(s_user->Path()));
    }
    static void TearDownTestSuite()
    {
        delete s_files;
        s_files = nullptr;
        delete s_user;
        s_user = nullptr;
        CDriverTest::TearDownTestSuite();
    }

protected:
    void SetUp() override
    {
        CDriverTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_FALSE(s_files->logs.empty());
    }
    void TearDown() override
    {
        CoUninitialize();
        CDriverTest::TearDown();
    }

    // Mounts at a free letter (other than `taken`) as the pages do.
    SMounted Mount(const std::string& image, const GUID* type, wchar_t taken = 0)
    {
        SMounted mounted;
        mounted.letter = FreeLetterBut(taken);
        EXPECT_NE(0, mounted.letter);
        mounted.root = std::wstring(1, mounted.letter) + L":\\";
        EXPECT_EQ(1, MountImage(LogOwner(), Wide(image).c_str(), mounted.root.c_str(), type, MountEvent(),
                                &mounted.index));
        EXPECT_NE(0u, mounted.index);
        return mounted;
    }
    // Flushes as the mailbox page's Finish does, then dismounts as logoff
    // and the service's delete do.
    void Dismount(const SMounted& mounted)
    {
        EXPECT_EQ(1, FlushImage(nullptr, mounted.index));
        uint32_t index = 0;
        const wchar_t text[3] = {mounted.letter, L':', 0};
        EXPECT_EQ(1, DismountImage(nullptr, text, &index));
        EXPECT_EQ(mounted.index, index);
        EXPECT_FALSE(qorbustest::IsDriveShown(mounted.letter));
    }
    // Opens the database from the drives twice: mounted as the pages mount
    // it, then, the drives gone, mounted again as logon remounts them.
    void OpenTwice(const std::string& databaseImage, const std::string& logImage, const GUID* type,
                   const std::wstring& databasePath, const std::wstring& logFolder)
    {
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round ? "remounted" : "first mount");
            const SMounted database = Mount(databaseImage, type);
            const SMounted logs = logImage == databaseImage ? database : Mount(logImage, type, database.letter);
            const std::vector<std::wstring> names =
                MailboxesThroughTheServer(database.root + databasePath, logs.root + logFolder);
            EXPECT_NE(std::find(names.begin(), names.end(), kSampleMailboxName), names.end());
            EXPECT_NE(std::find(names.begin(), names.end(), kLoggedMailboxName), names.end()) << "logs not replayed";
            // The files on the drive are the user's: the server replays into its own copy.
            EXPECT_TRUE(qorbustest::ReadBytes(database.root + databasePath) == s_files->database.data);
            Dismount(database);
            if (logs.letter != database.letter)
                Dismount(logs);
        }
        for (const std::string& image : {databaseImage, logImage})
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Wide(image) + L".chunk.dat").c_str()))
                << "something was written on the drive";
    }

    static esefixture::CTempFolder* s_user;
    static SDatabaseFiles* s_files;
    esefixture::CTempFolder m_sources;
};

esefixture::CTempFolder* BackupSourcesMounted::s_user = nullptr;
SDatabaseFiles* BackupSourcesMounted::s_files = nullptr;

TEST_F(BackupSourcesMounted, ArchiveVolumes)
{
    for (bool separate : {false, true}) {
        SCOPED_TRACE(separate ? "database and log volumes" : "one volume");
        SArchiveSourceOptions options;
        options.separateLogVolume = separate;
        options.bits = separate ? 32 : 16;
        const std::string folder = m_sources.Folder(separate ? "split" : "one");
        const SArchiveSource source = MakeArchiveSource(folder, "Sample", *s_files, options);
        const auto before = Sums(Wide(folder));
        ASSERT_EQ(separate ? 3u : 1u, before.size());
        OpenTwice(source.databaseVolume, source.logVolume, &GUID_QOR_IMAGE_ARCHIVE, source.databasePath,
                  source.logFolder);
        EXPECT_EQ(before, Sums(Wide(folder)));
    }
}

// The image and the paths on its drive come from the catalog as the catalog
// version page reads them.
TEST_F(BackupSourcesMounted, CatalogVersions)
{
    for (ECatalogLayout layout : {ECatalogLayout::Exchange2010, ECatalogLayout::Exchange2007}) {
        const bool is2010 = layout == ECatalogLayout::Exchange2010;
        SCOPED_TRACE(is2010 ? "2010" : "2007");
        SCatalogOptions options;
        options.layout = layout;
        options.bits = is2010 ? 32 : 16;
        options.versions = {{"2010-11-12 13:14:15", 1, "Full"}};
        const std::string folder = m_sources.Folder(is2010 ? "c2010" : "c2007");
        MakeCatalogSource(folder, *s_files, options);
        const auto before = Sums(Wide(folder));
        ASSERT_EQ(2u, before.size());

        CLorvArchive catalog;
        catalog.SetCatalogFolder(Wide(folder));
        std::vector<SCatalogDatabase> databases;
        std::vector<SCatalogVersion> versions;
        SCatalogImagePaths paths;
        ASSERT_EQ(1, catalog.ReadSettings(nullptr, nullptr, nullptr));
        ASSERT_EQ(1, catalog.ListDatabases(&databases));
        ASSERT_EQ(1u, databases.size());
        ASSERT_EQ(1, catalog.ListDatabaseVersions(databases[0].name, &versions));
        ASSERT_EQ(1u, versions.size());
        ASSERT_EQ(1, catalog.GetImagePaths(versions[0].databaseId, &paths)) << Utf8(catalog.GetLastErrorText());
        std::wstring file = is2010 ? versions[0].fileName : databases[0].caption + L".edb";
        file = file.substr(file.rfind(L'\\') + 1);
        const std::string image = Utf8(paths.imagePath);
        OpenTwice(image, image, &GUID_QOR_IMAGE_VHD, L"Data\\" + file, L"Data");
        EXPECT_EQ(before, Sums(Wide(folder)));
    }
}

}  // namespace
