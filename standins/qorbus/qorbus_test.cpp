#include "Platform.h"

#include "ImageMount.h"
#include "ProviderFiles.h"
#include "QorApi.h"
#include "QorBusTestSupport.h"
#include "QorImageTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using qorbusimages::FileSum;
using qorbusimages::FixtureFile;
using qorbusimages::ReadAll;
using qorbusimages::SumOf;
using qorbusimages::WriteAll;
using qorbustest::CDriverTest;

namespace {

constexpr DWORD kFileCorrupt = 1392;  // ERROR_FILE_CORRUPT
constexpr DWORD kFileInvalid = 1006;  // ERROR_FILE_INVALID

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The stand-in driver talked to through the product's client, request by request.
class QorBusDriver : public CDriverTest {
protected:
    void SetUp() override
    {
        CDriverTest::SetUp();
        ASSERT_TRUE(CreateTempDirectory(m_folder));
        m_letter = qorbustest::FreeDriveLetter();
        ASSERT_NE(m_letter, 0);
    }
    void TearDown() override
    {
        CDriverTest::TearDown();
        EXPECT_FALSE(qorbustest::IsDriveShown(m_letter)) << "letter left behind";
        EXPECT_TRUE(qorbusimages::MountedDeviceValue(m_letter).empty()) << "mounted-device value left behind";
        DeleteDirectoryTree(m_folder.c_str());
    }

    // Opens the image; 0 when refused, with the driver's code in *code.
    uint32_t Open(const std::wstring& image, const GUID* type, DWORD* code = nullptr)
    {
        QOR_IMAGE_DESCRIPTOR descriptor = {};
        descriptor.one = 1;
        const std::string path = Narrow(image);
        const std::string change = ChangeFilePath(path);
        memcpy(descriptor.imagePath, path.c_str(), path.size() + 1);
        memcpy(descriptor.changeFilePath, change.c_str(), change.size() + 1);
        // An archive volume goes with the extra block naming its companion file, as the product sends it.
        QOR_IMAGE_EXTRA extra = {};
        const std::string companion = CompanionFilePath(path);
        memcpy(extra.companionPath, companion.c_str(), companion.size() + 1);
        const bool archive = IsEqualGUID(*type, GUID_QOR_IMAGE_ARCHIVE);
        uint32_t index = 0;
        SetLastError(0);
        if (!QorApiImageOpen(m_controller, &index, type, &descriptor, 0x18, archive ? &extra : nullptr,
                             archive ? sizeof extra : 0))
            index = 0;
        if (code)
            *code = index ? 0 : GetLastError();
        return index;
    }
    // Open and insert at the test's letter.
    uint32_t Mount(const std::wstring& image, const GUID* type)
    {
        DWORD code = 0;
        const uint32_t index = Open(image, type, &code);
        EXPECT_NE(index, 0u) << "open refused: " << code;
        if (!index)
            return 0;
        if (!QorApiImageInsert(m_controller, index, 1u << (m_letter - L'A'))) {
            ADD_FAILURE() << "insert failed: " << GetLastError();
            QorApiImageClose(m_controller, index);
            return 0;
        }
        return index;
    }
    void Dismount(uint32_t index)
    {
        EXPECT_TRUE(QorApiImageRemove(m_controller, index, 1)) << GetLastError();
        EXPECT_TRUE(QorApiImageClose(m_controller, index)) << GetLastError();
    }
    std::wstring OnDrive(const std::wstring& path) const { return std::wstring(1, m_letter) + L":\\" + path; }
    std::wstring ChangeFile(const std::wstring& image) const { return image + L".chunk.dat"; }

    std::wstring m_folder;
    wchar_t m_letter = 0;
};

bool WriteAt(const std::wstring& path, LONG offset, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = SetFilePointer(file, offset, nullptr, FILE_BEGIN) == static_cast<DWORD>(offset) &&
                    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    CloseHandle(file);
    return ok;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

struct ImageCase {
    const char* what;
    const wchar_t* name;
    const GUID* type;
    std::function<std::vector<uint8_t>()> make;
};

const ImageCase kImages[] = {
    {"archive volume, FAT16", L"backup.KZF", &GUID_QOR_IMAGE_ARCHIVE,
     [] { return qorbusimages::MakeArchive(qorbusimages::FixturePartition(16), {}); }},
    {"fixed VHD, FAT32", L"disk-LOG.VHD", &GUID_QOR_IMAGE_VHD,
     [] { return qorbusimages::MakeVhd(qorbusimages::FixturePartition(32), 0x0C); }},
};

// Mounted, the image's files show at the letter; what is written there goes
// to the change file, never to the image, and a later mount shows it.
TEST_F(QorBusDriver, WritesLiveInTheChangeFileAndComeBack)
{
    const std::vector<FixtureFile> files = qorbusimages::FixtureFiles();
    ASSERT_FALSE(files.empty());
    for (const ImageCase& c : kImages) {
        SCOPED_TRACE(c.what);
        const std::wstring image = m_folder + L"\\" + c.name;
        ASSERT_TRUE(WriteAll(image, c.make()));
        const FileSum before = SumOf(image);

        uint32_t index = Mount(image, c.type);
        ASSERT_NE(index, 0u);
        for (const FixtureFile& file : files)
            EXPECT_TRUE(ReadAll(OnDrive(file.path)) == file.data) << Narrow(file.path);

        // The platform's record of the letter names the driver's device and the image file.
        DWORD type = 0;
        const std::vector<uint8_t> value = qorbusimages::MountedDeviceValue(m_letter, &type);
        ASSERT_GT(value.size(), 46u);
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(memcmp(value.data(), L"_??_QorBus#ImageDevice#", 46), 0);
        EXPECT_EQ(qorbusimages::MountedImageName(value), c.name);
        EXPECT_EQ(value[value.size() - 1], 0);
        EXPECT_EQ(value[value.size() - 2], 0);

        // What log replay does: a new log, pages of the database rewritten; and a file removed, a folder made.
        ASSERT_TRUE(WriteAll(OnDrive(L"Logs\\E0000000002.log"), Bytes("replayed log")));
        ASSERT_TRUE(WriteAt(OnDrive(L"Mailbox.edb"), 8192, "page rewritten by replay"));
        ASSERT_TRUE(DeleteFileW(OnDrive(L"empty.dat").c_str()));
        ASSERT_TRUE(CreateDirectoryW(OnDrive(L"new folder").c_str(), nullptr));
        ASSERT_TRUE(WriteAll(OnDrive(L"new folder\\inner.txt"), Bytes("inner")));
        EXPECT_TRUE(SumOf(image) == before);

        ASSERT_TRUE(QorApiImageFlush(m_controller, index)) << GetLastError();
        EXPECT_NE(GetFileAttributesW(ChangeFile(image).c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(SumOf(image) == before);
        Dismount(index);
        EXPECT_FALSE(qorbustest::IsDriveShown(m_letter));
        EXPECT_TRUE(qorbusimages::MountedDeviceValue(m_letter).empty());
        EXPECT_TRUE(SumOf(image) == before);

        // Mounted again with the same change file: every write is there.
        index = Mount(image, c.type);
        ASSERT_NE(index, 0u);
        EXPECT_EQ(ReadAll(OnDrive(L"Logs\\E0000000002.log")), Bytes("replayed log"));
        EXPECT_EQ(ReadAll(OnDrive(L"new folder\\inner.txt")), Bytes("inner"));
        EXPECT_EQ(GetFileAttributesW(OnDrive(L"empty.dat").c_str()), INVALID_FILE_ATTRIBUTES);
        std::vector<uint8_t> database;
        for (const FixtureFile& file : files)
            if (file.path == L"Mailbox.edb")
                database = file.data;
        const std::string page = "page rewritten by replay";
        std::copy(page.begin(), page.end(), database.begin() + 8192);
        EXPECT_TRUE(ReadAll(OnDrive(L"Mailbox.edb")) == database);
        EXPECT_TRUE(ReadAll(OnDrive(L"Logs\\E00.log")) == ReadAll(qorbusimages::FixtureFolder() + L"\\files\\Logs\\E00.log"));

        // A removal without a flush keeps what was written too; a file put back as it was costs nothing.
        ASSERT_TRUE(DeleteFileW(OnDrive(L"Logs\\E0000000002.log").c_str()));
        ASSERT_TRUE(WriteAll(OnDrive(L"empty.dat"), {}));
        Dismount(index);
        index = Mount(image, c.type);
        ASSERT_NE(index, 0u);
        EXPECT_EQ(GetFileAttributesW(OnDrive(L"Logs\\E0000000002.log").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_NE(GetFileAttributesW(OnDrive(L"empty.dat").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(ReadAll(OnDrive(L"new folder\\inner.txt")), Bytes("inner"));
        Dismount(index);
        EXPECT_TRUE(SumOf(image) == before);
    }
}

// Without a write, a mount makes no change file.
TEST_F(QorBusDriver, ReadingOnlyLeavesNoChangeFile)
{
    const std::wstring image = m_folder + L"\\clean.vhd";
    ASSERT_TRUE(WriteAll(image, qorbusimages::MakeVhd(qorbusimages::FixturePartition(16), 0x06)));
    const uint32_t index = Mount(image, &GUID_QOR_IMAGE_VHD);
    ASSERT_NE(index, 0u);
    EXPECT_FALSE(ReadAll(OnDrive(L"Mailbox.edb")).empty());
    EXPECT_TRUE(QorApiImageFlush(m_controller, index));
    Dismount(index);
    EXPECT_EQ(GetFileAttributesW(ChangeFile(image).c_str()), INVALID_FILE_ATTRIBUTES);
}

// Bad images, and change files that are not whole or belong to another
// image, are refused when opened with the driver's code; the driver lives
// on and nothing it was given changes.
TEST_F(QorBusDriver, HostileImagesAreRefusedWhenOpened)
{
    const std::vector<uint8_t> archive = qorbusimages::MakeArchive(qorbusimages::FixturePartition(16), {});
    const std::vector<uint8_t> vhd = qorbusimages::MakeVhd(qorbusimages::FixturePartition(16), 0x06);
    ASSERT_FALSE(archive.empty());
    struct Case {
        const char* what;
        std::wstring name;
        const GUID* type;
        std::vector<uint8_t> image;
        std::vector<uint8_t> change;  // none when empty
        DWORD code;
    } cases[] = {
        {"archive cut in half", L"half.KZF", &GUID_QOR_IMAGE_ARCHIVE,
         std::vector<uint8_t>(archive.begin(), archive.begin() + archive.size() / 2), {}, ERROR_BAD_FORMAT},
        {"archive without its end", L"noend.KZF", &GUID_QOR_IMAGE_ARCHIVE,
         std::vector<uint8_t>(archive.begin(), archive.end() - 95), {}, ERROR_BAD_FORMAT},
        {"VHD handed over as an archive", L"wrongkind.KZF", &GUID_QOR_IMAGE_ARCHIVE, vhd, {}, ERROR_BAD_FORMAT},
        {"VHD without its footer", L"nofooter.vhd", &GUID_QOR_IMAGE_VHD,
         std::vector<uint8_t>(vhd.begin(), vhd.end() - 512), {}, ERROR_BAD_FORMAT},
        {"empty file", L"empty.vhd", &GUID_QOR_IMAGE_VHD, {}, {}, ERROR_BAD_FORMAT},
        {"passworded archive", L"password.KZF", &GUID_QOR_IMAGE_ARCHIVE,
         [&] { auto a = archive; a[38] |= 0x02; return a; }(), {}, ERROR_NOT_SUPPORTED},
        {"change file that is not whole", L"corrupt.KZF", &GUID_QOR_IMAGE_ARCHIVE, archive, Bytes("QORCHG1\n"),
         kFileCorrupt},
        {"change file of another image", L"other.vhd", &GUID_QOR_IMAGE_VHD, vhd,
         [] {
             std::vector<uint8_t> other(25, 0);
             memcpy(other.data(), "QORCHG1\n", 8);
             other[8] = 1;  // an image of one byte
             return other;
         }(),
         kFileInvalid},
        {"missing image", L"missing.vhd", &GUID_QOR_IMAGE_VHD, {}, {}, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring image = m_folder + L"\\" + c.name;
        if (c.name != L"missing.vhd") {
            ASSERT_TRUE(WriteAll(image, c.image));
        }
        if (!c.change.empty()) {
            ASSERT_TRUE(WriteAll(ChangeFile(image), c.change));
        }
        const FileSum imageSum = SumOf(image), changeSum = SumOf(ChangeFile(image));
        DWORD code = 0;
        EXPECT_EQ(Open(image, c.type, &code), 0u);
        EXPECT_EQ(code, c.code);
        EXPECT_TRUE(SumOf(image) == imageSum);
        EXPECT_TRUE(SumOf(ChangeFile(image)) == changeSum);
    }
    uint32_t value = 0, version = 0;
    EXPECT_TRUE(QorApiGetVersion(m_controller, &value, &version)) << "the driver host is gone";
    EXPECT_EQ(version, QOR_DRIVER_VERSION);
}

// A request of a size or magic other than the protocol's is refused; the
// product's own requests, for either kind of image, all go through.
TEST_F(QorBusDriver, OnlyTheProtocolsRequestsAreAnswered)
{
    const std::wstring image = m_folder + L"\\strict.KZF";
    ASSERT_TRUE(WriteAll(image, qorbusimages::MakeArchive(qorbusimages::FixturePartition(16), {})));
    const std::wstring vhd = m_folder + L"\\strict.vhd";
    ASSERT_TRUE(WriteAll(vhd, qorbusimages::MakeVhd(qorbusimages::FixturePartition(16), 0x06)));
    const wchar_t letterText[3] = {m_letter, L':', 0};

    for (const auto& [path, type] : {std::pair{image, &GUID_QOR_IMAGE_ARCHIVE}, std::pair{vhd, &GUID_QOR_IMAGE_VHD}}) {
        SCOPED_TRACE(Narrow(path));
        uint32_t index = 0;
        ASSERT_EQ(MountImage(LogOwner(), path.c_str(), letterText, type, MountEvent(), &index), 1)
            << Narrow(qorbustest::ReadProviderLog());
        uint32_t found = 0;
        EXPECT_TRUE(QorApiGetImageByDriveLetter(m_controller, m_letter - L'A', &found)) << std::hex << GetLastError();
        EXPECT_EQ(found, index);
        uint32_t indices[4] = {}, count = 4;
        EXPECT_TRUE(QorApiEnumImages(m_controller, indices, &count, nullptr)) << std::hex << GetLastError();
        EXPECT_EQ(count, 1u);
        std::vector<uint8_t> info(QOR_IMAGE_INFO_LOOKUP_SIZE);
        const uint32_t size = static_cast<uint32_t>(info.size());
        memcpy(info.data(), &size, 4);
        EXPECT_TRUE(QorApiGetImageInfo(m_controller, index, info.data())) << std::hex << GetLastError();
        EXPECT_TRUE(QorApiImageFlush(m_controller, index)) << std::hex << GetLastError();
        uint32_t dismounted = 0;
        EXPECT_EQ(DismountImage(nullptr, letterText, &dismounted), 1);
        EXPECT_EQ(dismounted, index);
    }

    // Raw requests: buffer of the larger size, magic (or not) first, index 1 at byte 8.
    struct Raw {
        const char* what;
        DWORD code;
        DWORD in, out;
    } sizes[] = {
        {"version, input larger", IOCTL_QOR_GET_VERSION, 8, 12},
        {"version, output larger", IOCTL_QOR_GET_VERSION, 4, 16},
        {"insert, output of 4", IOCTL_QOR_IMAGE_INSERT, 16, 4},
        {"insert, input larger", IOCTL_QOR_IMAGE_INSERT, 20, 16},
        {"remove, output of 4", IOCTL_QOR_IMAGE_REMOVE, 12, 4},
        {"remove without flag, output of 8", IOCTL_QOR_IMAGE_REMOVE_NOFLAG, 12, 8},
        {"close, input larger", IOCTL_QOR_IMAGE_CLOSE, 16, 12},
        {"flush, output larger", IOCTL_QOR_IMAGE_FLUSH, 12, 16},
        {"enumeration, output of 8", IOCTL_QOR_ENUM_IMAGES, 8, 8},
        {"enumeration, input larger", IOCTL_QOR_ENUM_IMAGES, 12, QOR_ENUM_REPLY_SIZE},
        {"information, output larger", IOCTL_QOR_GET_IMAGE_INFO, 12, 16},
        {"open, output other than input", IOCTL_QOR_IMAGE_OPEN, QOR_OPEN_FIXED_SIZE, QOR_OPEN_FIXED_SIZE + 8},
    };
    for (const Raw& r : sizes) {
        SCOPED_TRACE(r.what);
        std::vector<uint8_t> buffer(std::max(r.in, r.out) + 8, 0);
        const uint32_t magic = QOR_REQUEST_MAGIC, one = 1;
        memcpy(buffer.data(), &magic, 4);
        memcpy(buffer.data() + 8, &one, 4);
        DWORD returned = 0;
        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(m_controller, r.code, buffer.data(), r.in, buffer.data(), r.out, &returned, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }

    // Without the magic the version query tells no version, so the client takes it for no driver of its own.
    uint32_t version[3] = {0x12345678, 0, 0};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(m_controller, IOCTL_QOR_GET_VERSION, version, 4, version, 12, &returned, nullptr));
    EXPECT_EQ(version[0], static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(version[2], 0u);

    // The volume query likewise, on a volume that is the driver's.
    const uint32_t index = Mount(vhd, &GUID_QOR_IMAGE_VHD);
    ASSERT_NE(index, 0u);
    const char volumePath[] = {'\\', '\\', '.', '\\', static_cast<char>(m_letter), ':', 0};
    HANDLE volume = CreateFileA(volumePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    struct VolumeCase {
        const char* what;
        uint32_t head;
        DWORD in, out;
        bool answered;
        uint32_t reply;
    } queries[] = {
        {"the client's query", QOR_REQUEST_MAGIC, 12, 8, true, QOR_REPLY_MAGIC},
        {"without the magic", 0x12345678, 12, 8, true, ERROR_INVALID_PARAMETER},
        {"input larger", QOR_REQUEST_MAGIC, 16, 8, false, 0},
        {"output of 12", QOR_REQUEST_MAGIC, 12, 12, false, 0},
    };
    for (const VolumeCase& q : queries) {
        SCOPED_TRACE(q.what);
        uint32_t request[4] = {q.head, 0, 0, 0};
        SetLastError(0);
        const BOOL sent = DeviceIoControl(volume, IOCTL_QOR_QUERY_VOLUME, request, q.in, request, q.out, &returned, nullptr);
        EXPECT_EQ(sent != FALSE, q.answered);
        if (q.answered) {
            EXPECT_EQ(request[0], q.reply);
            EXPECT_EQ(request[1], q.reply == QOR_REPLY_MAGIC ? index : 0u);
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
    }
    CloseHandle(volume);
    Dismount(index);

    // The extra block: an archive only with its companion named, a VHD only without a block.
    QOR_IMAGE_DESCRIPTOR descriptor = {};
    descriptor.one = 1;
    struct OpenCase {
        const char* what;
        const std::wstring* path;
        const GUID* type;
        bool sendsExtra;
        const char* companion;
    } opens[] = {
        {"archive without its block", &image, &GUID_QOR_IMAGE_ARCHIVE, false, ""},
        {"archive whose block names no companion", &image, &GUID_QOR_IMAGE_ARCHIVE, true, ""},
        {"VHD with a block", &vhd, &GUID_QOR_IMAGE_VHD, true, "strict.KFM"},
    };
    for (const OpenCase& o : opens) {
        SCOPED_TRACE(o.what);
        const std::string path = Narrow(*o.path), change = ChangeFilePath(path);
        memcpy(descriptor.imagePath, path.c_str(), path.size() + 1);
        memcpy(descriptor.changeFilePath, change.c_str(), change.size() + 1);
        QOR_IMAGE_EXTRA extra = {};
        strcpy(extra.companionPath, o.companion);
        uint32_t opened = 0;
        EXPECT_EQ(QorApiImageOpen(m_controller, &opened, o.type, &descriptor, 0x18, o.sendsExtra ? &extra : nullptr,
                                  o.sendsExtra ? sizeof extra : 0),
                  0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

// The driver stops with an image inserted: what was written is kept, the
// letter and its record go. A value a session left behind is taken back at
// the next start; the values of others stay.
TEST(QorBusDriverLifetime, StoppingKeepsWritesAndLeavesNoRecords)
{
    std::string error;
    ASSERT_TRUE(qorbustest::InstallDriver(error)) << error;
    std::wstring folder;
    ASSERT_TRUE(CreateTempDirectory(folder));
    const std::wstring image = folder + L"\\stop.vhd";
    ASSERT_TRUE(WriteAll(image, qorbusimages::MakeVhd(qorbusimages::FixturePartition(16), 0x06)));
    const FileSum before = SumOf(image);
    const wchar_t letter = qorbustest::FreeDriveLetter();
    const wchar_t letterText[3] = {letter, L':', 0};
    uint32_t index = 0;
    ASSERT_EQ(MountImage(LogOwner(), image.c_str(), letterText, &GUID_QOR_IMAGE_VHD, MountEvent(), &index), 1);
    ASSERT_TRUE(WriteAll(std::wstring(1, letter) + L":\\kept.txt", Bytes("kept")));
    EXPECT_TRUE(qorbustest::RemoveDriver());
    EXPECT_FALSE(qorbustest::IsDriveShown(letter));
    EXPECT_TRUE(qorbusimages::MountedDeviceValue(letter).empty());

    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\MountedDevices", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t stale[] = L"_??_QorBus#ImageDevice#Image3&old.KZF#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
    const wchar_t others[] = L"_??_SomeoneElse#Device";
    const wchar_t staleName[] = {L'\\', L'D', L'o', L's', L'D', L'e', L'v', L'i', L'c', L'e', L's', L'\\', letter, L':', 0};
    RegSetValueExW(key, staleName, 0, REG_BINARY, reinterpret_cast<const BYTE*>(stale), sizeof stale);
    RegSetValueExW(key, L"\\DosDevices\\B:", 0, REG_BINARY, reinterpret_cast<const BYTE*>(others), sizeof others);

    ASSERT_TRUE(qorbustest::InstallDriver(error)) << error;
    EXPECT_TRUE(qorbusimages::MountedDeviceValue(letter).empty()) << "stale value kept";
    EXPECT_FALSE(qorbusimages::MountedDeviceValue(L'B').empty()) << "another's value removed";
    RegDeleteValueW(key, L"\\DosDevices\\B:");
    RegCloseKey(key);

    ASSERT_EQ(MountImage(LogOwner(), image.c_str(), letterText, &GUID_QOR_IMAGE_VHD, MountEvent(), &index), 1);
    EXPECT_EQ(ReadAll(std::wstring(1, letter) + L":\\kept.txt"), Bytes("kept"));
    uint32_t dismounted = 0;
    EXPECT_EQ(DismountImage(nullptr, letterText, &dismounted), 1);
    EXPECT_TRUE(SumOf(image) == before);
    EXPECT_TRUE(qorbustest::RemoveDriver());
    DeleteDirectoryTree(folder.c_str());
}

}  // namespace
