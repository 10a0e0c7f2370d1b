#include "Platform.h"

#include "ImageMount.h"

#include "ProviderFiles.h"
#include "QorApi.h"
#include "QorBusTestSupport.h"
#include "QorImageTestSupport.h"
#include "ResourceStrings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using qorbustest::CDriverTest;
using qorbustest::CMessageBoxCloser;
using qorbustest::ReadBytes;
using qorbustest::ReadProviderLog;
using qorbustest::ReadText;
using qorbustest::WriteBytes;

namespace {

// The log lines written after a mark taken before a call. The provider's
// own table names the data folders with placeholders that are no file
// names, so the mark takes the folder names from the test resource library
// while it lives; the messages of the mount come from the own table.
class CLogMark {
public:
    CLogMark() : m_start((SetResourceLibrary(Fixture()), ReadProviderLog().size())) {}
    ~CLogMark() { SetResourceLibrary(nullptr); }
    CLogMark(const CLogMark&) = delete;
    CLogMark& operator=(const CLogMark&) = delete;
    std::wstring Since() const
    {
        const std::wstring log = ReadProviderLog();
        return log.size() > m_start ? log.substr(m_start) : std::wstring();
    }

private:
    static HMODULE Fixture()
    {
        static HMODULE library = LoadLibraryW(L"provider_strings_fixture.dll");
        return library;
    }
    size_t m_start;
};

// Fields of the stand-in driver's image information block.
constexpr size_t kInfoModeOffset = 12;
constexpr size_t kInfoCompanionOffset = 1057;

std::wstring Hex(DWORD value)
{
    wchar_t text[16];
    swprintf(text, 16, L"%x", static_cast<unsigned>(value));
    return text;
}

std::wstring SummaryLine(const std::wstring& image, const wchar_t* letter, uint32_t index, int result)
{
    return image + L", " + letter + L", " + std::to_wstring(index) + L", " +
           Hex(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(MountEvent()))) + L": " + std::to_wstring(result) + L" ";
}

TEST(ImageMountNames, ChangeAndCompanionFiles)
{
    struct Case {
        const char* image;
        const char* companion;
    } cases[] = {
        {"D:\\backup\\backup.KZF", "D:\\backup\\backup.KFM"},
        {"D:\\backup\\image.data", "D:\\backup\\image.data.KFM"},
        {"D:\\backup\\image", "D:\\backup\\image.KFM"},
        {"D:\\backup.v1\\image", "D:\\backup.v1\\image.KFM"},  // the folder's dot, 9 characters on
        {"D:\\b.x\\ab", "D:\\b.x\\ab.KFM"},
        {"D:\\ab.\\xy", "D:\\ab.KFM"},                         // ".\xy" is 4 characters long
        {"D:\\volume.k", "D:\\volume.k.KFM"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompanionFilePath(c.image), c.companion) << c.image;
        EXPECT_EQ(ChangeFilePath(c.image), std::string(c.image) + ".chunk.dat") << c.image;
    }
}

// Taken while the program's globals are made, as the provider's globals take
// it: whichever file's globals come first, the handle is the event's.
const HANDLE g_eventWhileLoading = MountEvent();

TEST(ImageMountNames, TheMountEventIsManualResetAndShared)
{
    HANDLE event = MountEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event, MountEvent());
    EXPECT_EQ(event, g_eventWhileLoading);
    // Once set it stays set for every waiter, until someone resets it.
    const bool wasSet = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    if (!wasSet)
        ResetEvent(event);
}

class ImageMountNoDriver : public ::testing::Test {
public:
    static void SetUpTestSuite() { qorbustest::RemoveDriver(); }
};

TEST_F(ImageMountNoDriver, MountForTheLogReportsThereOnly)
{
    CMessageBoxCloser boxes;
    CLogMark mark;
    uint32_t index = 99;
    EXPECT_EQ(MountImage(LogOwner(), L"C:\\images\\volume.KZF", L"Q:", &GUID_QOR_IMAGE_ARCHIVE, MountEvent(), &index), 0);
    EXPECT_EQ(index, 0u);
    const std::wstring log = mark.Since();
    EXPECT_NE(log.find(L"Unable to mount the <VendorShortName> Backup archive. Function QorApiControllerOpen() "
                       L"failed, error code E0000010."),
              std::wstring::npos)
        << log;
    EXPECT_NE(log.find(SummaryLine(L"C:\\images\\volume.KZF", L"Q:", 0, 0)), std::wstring::npos) << log;
    Sleep(100);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(ImageMountNoDriver, DismountAndFlushShowOneMessageEach)
{
    std::vector<std::wstring> texts;
    {
        CMessageBoxCloser boxes;
        uint32_t index = 5;
        EXPECT_EQ(DismountImage(nullptr, L"Q:", &index), 0);
        EXPECT_EQ(index, 5u);
        EXPECT_EQ(FlushImage(nullptr, 7), 0);
        texts = boxes.Texts();
    }
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], L"Unable to dismount the <VendorShortName> Backup archive, image index 0. Function "
                        L"QorApiControllerOpen() failed, error code E0000010.");
    EXPECT_EQ(texts[1], L"Unable to flush archive changes caused by log file playing, image index 7. Function "
                        L"QorApiControllerOpen() failed, error code E0000010.");
}

// With the stand-in driver: archive volumes and VHDs holding the FAT
// partitions of the fixtures, under a temporary folder of drive C:.
const std::vector<uint8_t>& ArchiveOfFat(int bits)
{
    static std::vector<uint8_t> images[2];
    std::vector<uint8_t>& image = images[bits == 32];
    if (image.empty())
        image = qorbusimages::MakeArchive(qorbusimages::FixturePartition(bits), {});
    return image;
}

const std::vector<uint8_t>& VhdOfFat(int bits)
{
    static std::vector<uint8_t> images[2];
    std::vector<uint8_t>& image = images[bits == 32];
    if (image.empty())
        image = qorbusimages::MakeVhd(qorbusimages::FixturePartition(bits), bits == 32 ? 0x0C : 0x06);
    return image;
}

std::vector<uint8_t> FixtureBytes(const wchar_t* path)
{
    return ReadBytes(qorbusimages::FixtureFolder() + L"\\files\\" + path);
}
class ImageMountDriver : public CDriverTest {
protected:
    void SetUp() override
    {
        CDriverTest::SetUp();
        ASSERT_TRUE(CreateTempDirectory(m_folder));
        m_letter = qorbustest::FreeDriveLetter();
        ASSERT_NE(m_letter, 0);
        m_letterText[0] = m_letter;
    }
    void TearDown() override
    {
        CDriverTest::TearDown();
        EXPECT_FALSE(qorbustest::IsDriveShown(m_letter)) << "letter left behind";
        DeleteDirectoryTree(m_folder.c_str());
    }
    std::wstring OnDrive(const wchar_t* name) const { return std::wstring(1, m_letter) + L":\\" + name; }

    std::wstring m_folder;
    wchar_t m_letter = 0;
    wchar_t m_letterText[3] = {0, L':', 0};
};

TEST_F(ImageMountDriver, MountReadFlushDismount)
{
    const std::string folder(m_folder.begin(), m_folder.end());
    struct Case {
        const wchar_t* name;
        const GUID* type;
        const std::vector<uint8_t>& bytes;
        std::string companion;  // the VHD sends no extra block
    } cases[] = {{L"backup.KZF", &GUID_QOR_IMAGE_ARCHIVE, ArchiveOfFat(32), folder + "\\backup.KFM"},
                 {L"disk.vhd", &GUID_QOR_IMAGE_VHD, VhdOfFat(16), ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.name, c.name + wcslen(c.name)));
        const std::wstring image = m_folder + L"\\" + c.name;
        ASSERT_TRUE(WriteBytes(image, c.bytes));
        const qorbusimages::FileSum before = qorbusimages::SumOf(image);

        CLogMark mark;
        uint32_t index = 0;
        ASSERT_EQ(MountImage(LogOwner(), image.c_str(), m_letterText, c.type, MountEvent(), &index), 1)
            << mark.Since();
        EXPECT_NE(index, 0u);
        EXPECT_NE(mark.Since().find(SummaryLine(image, m_letterText, index, 1)), std::wstring::npos);
        EXPECT_TRUE(qorbustest::IsDriveShown(m_letter));

        EXPECT_EQ(ReadBytes(OnDrive(L"Mailbox.edb")), FixtureBytes(L"Mailbox.edb"));
        EXPECT_EQ(ReadBytes(OnDrive(L"Logs\\E00.log")), FixtureBytes(L"Logs\\E00.log"));
        EXPECT_EQ(ReadBytes(OnDrive(L"deep\\er\\nested.txt")), FixtureBytes(L"deep\\er\\nested.txt"));
        EXPECT_NE(GetFileAttributesW(OnDrive(L"empty.dat").c_str()), INVALID_FILE_ATTRIBUTES);
        // The image is found by its file name, as the wizard looks for it.
        EXPECT_EQ(qorbusimages::MountedImageName(qorbusimages::MountedDeviceValue(m_letter)), c.name);

        // A file written through the letter goes to the change file, never to the image.
        ASSERT_TRUE(WriteBytes(OnDrive(L"written.txt"), {'n', 'e', 'w'}));
        EXPECT_EQ(ReadText(OnDrive(L"written.txt")), "new");
        EXPECT_TRUE(qorbusimages::SumOf(image) == before);

        HANDLE controller = INVALID_HANDLE_VALUE;
        ASSERT_TRUE(QorApiControllerOpen(&controller));
        uint32_t found = 0;
        EXPECT_TRUE(QorApiGetImageByDriveLetter(controller, m_letter - L'A', &found)) << std::hex << GetLastError();
        EXPECT_EQ(found, index);
        std::vector<uint8_t> info(QOR_IMAGE_INFO_LOOKUP_SIZE);
        const uint32_t size = static_cast<uint32_t>(info.size());
        memcpy(info.data(), &size, 4);
        ASSERT_TRUE(QorApiGetImageInfo(controller, index, info.data()));
        uint32_t mask = 0, mode = 0;
        memcpy(&mask, &info[QOR_IMAGE_INFO_MASK_OFFSET], 4);
        EXPECT_EQ(mask, 1u << (m_letter - L'A'));
        // What the stand-in kept of the request: the mode and the extra block's companion file.
        memcpy(&mode, &info[kInfoModeOffset], 4);
        EXPECT_EQ(mode, 0x18u);
        const std::string companion(reinterpret_cast<const char*>(&info[kInfoCompanionOffset]));
        EXPECT_EQ(companion, c.companion);
        QorApiControllerClose(controller);

        EXPECT_EQ(FlushImage(nullptr, index), 1);
        const std::wstring change = image + L".chunk.dat";
        EXPECT_NE(GetFileAttributesW(change.c_str()), INVALID_FILE_ATTRIBUTES) << "no change file after the flush";
        EXPECT_TRUE(qorbusimages::SumOf(image) == before);
        uint32_t dismounted = 0;
        EXPECT_EQ(DismountImage(nullptr, m_letterText, &dismounted), 1);
        EXPECT_EQ(dismounted, index);
        EXPECT_FALSE(qorbustest::IsDriveShown(m_letter));
        EXPECT_EQ(GetFileAttributesW(OnDrive(L"Mailbox.edb").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(qorbusimages::MountedDeviceValue(m_letter).empty());

        // Mounted again, the image shows the changes kept in its change file.
        ASSERT_EQ(MountImage(LogOwner(), image.c_str(), m_letterText, c.type, MountEvent(), &index), 1);
        EXPECT_EQ(ReadText(OnDrive(L"written.txt")), "new");
        EXPECT_EQ(ReadBytes(OnDrive(L"Mailbox.edb")), FixtureBytes(L"Mailbox.edb"));
        EXPECT_EQ(DismountImage(nullptr, m_letterText, &dismounted), 1);
        EXPECT_TRUE(qorbusimages::MountedDeviceValue(m_letter).empty());
        EXPECT_TRUE(qorbusimages::SumOf(image) == before);
        // The caller deletes the change file after the dismount, as the wizard's Cancel does.
        EXPECT_TRUE(DeleteFileW(change.c_str()));
    }
}

TEST_F(ImageMountDriver, BadImagesAreRefusedWhenOpened)
{
    const std::vector<uint8_t>& archive = ArchiveOfFat(16);
    const std::string longName(800, 'n');
    struct Case {
        const char* what;
        std::wstring name;
        const GUID* type;
        std::vector<uint8_t> bytes;  // not written when empty
        const wchar_t* code;
    } cases[] = {
        {"other magic", L"magic.KZF", &GUID_QOR_IMAGE_ARCHIVE,
         [&] { auto a = archive; a[0] = 'N'; return a; }(), L"0000000B"},
        {"empty file", L"empty.KZF", &GUID_QOR_IMAGE_ARCHIVE, {}, L"0000000B"},
        {"archive cut short", L"truncated.KZF", &GUID_QOR_IMAGE_ARCHIVE,
         std::vector<uint8_t>(archive.begin(), archive.end() - 200), L"0000000B"},
        {"VHD handed over as an archive", L"disk.KZF", &GUID_QOR_IMAGE_ARCHIVE, VhdOfFat(16), L"0000000B"},
        {"archive handed over as a VHD", L"volume.vhd", &GUID_QOR_IMAGE_VHD, archive, L"0000000B"},
        {"passworded archive", L"password.KZF", &GUID_QOR_IMAGE_ARCHIVE,
         [&] { auto a = archive; a[38] |= 0x02; return a; }(), L"00000032"},
        {"missing image", L"missing.KZF", &GUID_QOR_IMAGE_ARCHIVE, {}, L"00000002"},
        {"path too long for the driver", std::wstring(longName.begin(), longName.end()), &GUID_QOR_IMAGE_ARCHIVE, {},
         L"000000CE"},
    };
    for (const Case& c : cases) {
        const std::wstring image = m_folder + L"\\" + c.name;
        if (c.name == L"empty.KZF") {
            ASSERT_TRUE(WriteBytes(image, {}));
        } else if (!c.bytes.empty()) {
            ASSERT_TRUE(WriteBytes(image, c.bytes));
        }
        CLogMark mark;
        uint32_t index = 7;
        EXPECT_EQ(MountImage(LogOwner(), image.c_str(), m_letterText, c.type, MountEvent(), &index), 0) << c.what;
        EXPECT_EQ(index, 0u) << c.what;
        const std::wstring log = mark.Since();
        EXPECT_NE(log.find(std::wstring(L"Function QorApiImageOpen() failed, error code ") + c.code + L"."),
                  std::wstring::npos)
            << c.what << "\n"
            << std::string(log.begin(), log.end());
        EXPECT_FALSE(qorbustest::IsDriveShown(m_letter)) << c.what;
        if (!c.bytes.empty()) {
            EXPECT_EQ(ReadBytes(image), c.bytes) << c.what;
        }
    }
    // The driver's host is still there.
    uint32_t value = 0, version = 0;
    EXPECT_TRUE(QorApiGetVersion(m_controller, &value, &version));
    EXPECT_EQ(version, QOR_DRIVER_VERSION);
}

TEST_F(ImageMountDriver, RefusedLettersReleaseTheIndex)
{
    const std::wstring image = m_folder + L"\\volume.KZF";
    ASSERT_TRUE(WriteBytes(image, ArchiveOfFat(16)));
    // The shared event stays signalled once a mount has come up; a mount
    // after that must still see its own insert fail.
    HANDLE signalled = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct Case {
        const wchar_t* letter;
        HANDLE event;
        const wchar_t* code;
    } cases[] = {{L"C:", fresh, L"E000001A"}, {L"C:", signalled, L"E000001A"}, {L"A:", signalled, L"E000001B"}};
    for (const Case& c : cases) {
        CLogMark mark;
        uint32_t index = 0;
        EXPECT_EQ(MountImage(LogOwner(), image.c_str(), c.letter, &GUID_QOR_IMAGE_ARCHIVE, c.event, &index), 0);
        const std::wstring log = mark.Since();
        EXPECT_NE(log.find(std::wstring(L"Function QorApiImageInsert() failed, error code ") + c.code + L"."),
                  std::wstring::npos)
            << std::string(log.begin(), log.end());
        uint32_t indices[4];
        uint32_t count = 4;
        ASSERT_TRUE(QorApiEnumImages(m_controller, indices, &count, nullptr));
        EXPECT_EQ(count, 0u) << "the failed insert left its index open";
    }
    CloseHandle(signalled);
    CloseHandle(fresh);
}

TEST_F(ImageMountDriver, DismountFailuresNameTheLookup)
{
    std::vector<std::wstring> texts;
    {
        CMessageBoxCloser boxes;
        uint32_t index = 3;
        const wchar_t lower[3] = {static_cast<wchar_t>(m_letter | 0x20), L':', 0};
        EXPECT_EQ(DismountImage(nullptr, lower, &index), 0);
        EXPECT_EQ(DismountImage(nullptr, m_letterText, &index), 0);
        EXPECT_EQ(DismountImage(nullptr, L"C:", &index), 0);
        EXPECT_EQ(index, 3u);
        EXPECT_EQ(FlushImage(nullptr, 29), 0);
        texts = boxes.Texts();
    }
    const std::wstring lookup = L"Unable to dismount the <VendorShortName> Backup archive. Function "
                                L"QorApiGetImageByDriveLetter() failed, error code ";
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], lookup + L"E0000017.");
    EXPECT_EQ(texts[1], lookup + L"E000001F.");
    EXPECT_EQ(texts[2], lookup + L"E000001F.");
    EXPECT_EQ(texts[3], L"Unable to flush archive changes caused by log file playing, image index 29. Function "
                        L"QorApiImageFlush() failed, error code 00000057.");
}

// The driver holds the insert request after the volume is ready: the mount
// returns while its worker still waits, closes its own controller handle,
// and the worker ends later on a handle of its own. So does a mount whose
// event an earlier mount has set already: it returns once its volume is up.
TEST(ImageMountSlowDriver, MountReturnsWhileTheInsertIsStillHeld)
{
    std::string error;
    ASSERT_TRUE(qorbustest::InstallDriver(error, {{L"InsertDelay", 3000}})) << error;
    std::wstring folder;
    ASSERT_TRUE(CreateTempDirectory(folder));
    const std::wstring image = folder + L"\\volume.KZF";
    ASSERT_TRUE(WriteBytes(image, ArchiveOfFat(16)));
    const wchar_t letter = qorbustest::FreeDriveLetter();
    const wchar_t letterText[3] = {letter, L':', 0};
    HANDLE controller = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(QorApiControllerOpen(&controller));

    for (bool alreadySet : {false, true}) {
        SCOPED_TRACE(alreadySet ? "event set by an earlier mount" : "fresh event");
        HANDLE event = CreateEventW(nullptr, TRUE, alreadySet, nullptr);
        uint32_t index = 0;
        const DWORD start = GetTickCount();
        EXPECT_EQ(MountImage(LogOwner(), image.c_str(), letterText, &GUID_QOR_IMAGE_ARCHIVE, event, &index), 1);
        // The driver counts the handles open on it: this test's and the
        // worker's, which is still in the held request.
        uint32_t handles = 0, version = 0;
        EXPECT_TRUE(QorApiGetVersion(controller, &handles, &version));
        EXPECT_EQ(handles, 2u) << "the mount waited for the held request";
        EXPECT_LT(GetTickCount() - start, 2500u) << "the mount waited for the held request";
        EXPECT_EQ(ReadBytes(std::wstring(1, letter) + L":\\Logs\\E00.log"), FixtureBytes(L"Logs\\E00.log"));
        // The dismount's requests queue behind the held insert.
        uint32_t dismounted = 0;
        EXPECT_EQ(DismountImage(nullptr, letterText, &dismounted), 1);
        EXPECT_EQ(dismounted, index);
        EXPECT_FALSE(qorbustest::IsDriveShown(letter));
        CloseHandle(event);
        // The worker lets its handle go once the held request is answered.
        for (int tries = 0; tries < 250 && QorApiGetVersion(controller, &handles, &version) && handles > 1; ++tries)
            Sleep(20);
    }
    QorApiControllerClose(controller);
    EXPECT_TRUE(qorbustest::RemoveDriver());
    DeleteDirectoryTree(folder.c_str());
}

} // namespace
