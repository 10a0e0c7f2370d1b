#include "Platform.h"

#include "QorApi.h"

#include "ImageMount.h"
#include "ProviderFiles.h"
#include "QorBusTestSupport.h"
#include "QorImageTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using qorbustest::CDriverTest;
using qorbustest::WriteBytes;

namespace {

// No driver installed: every path that reaches the controller fails with
// the client's own code, and the checks made before any request hold.
class QorApiNoDriver : public ::testing::Test {
public:
    static void SetUpTestSuite() { qorbustest::RemoveDriver(); }
};

TEST_F(QorApiNoDriver, ControllerOpenFailsWithItsOwnCode)
{
    HANDLE raw = CreateFileA("\\\\.\\QorBus", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(raw, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE controller = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(QorApiControllerOpen(&controller), 0);
    EXPECT_EQ(GetLastError(), QOR_E_CONTROLLER_OPEN);
    EXPECT_EQ(controller, INVALID_HANDLE_VALUE);
}

TEST_F(QorApiNoDriver, ChecksMadeBeforeAnyRequest)
{
    ASSERT_NE(GetLogicalDrives() & (1u << ('C' - 'A')), 0u);
    const wchar_t freeLetter = qorbustest::FreeDriveLetter();
    ASSERT_NE(freeLetter, 0);
    const HANDLE none = INVALID_HANDLE_VALUE;
    uint32_t index = 0;
    struct Case {
        const char* what;
        std::function<int()> call;
        DWORD expected;
    } cases[] = {
        {"insert at A:", [&] { return QorApiImageInsert(none, 1, 0x00000001); }, QOR_E_BAD_DRIVE_MASK},
        {"insert at B:", [&] { return QorApiImageInsert(none, 1, 0x00000002); }, QOR_E_BAD_DRIVE_MASK},
        {"insert above Z:", [&] { return QorApiImageInsert(none, 1, 0x04000000); }, QOR_E_BAD_DRIVE_MASK},
        {"insert at C: (in use)", [&] { return QorApiImageInsert(none, 1, 1u << ('C' - 'A')); }, QOR_E_LETTER_IN_USE},
        {"letter index 26", [&] { return QorApiGetImageByDriveLetter(none, 26, &index); }, QOR_E_BAD_PARAMETER},
        {"letter without a drive",
         [&] { return QorApiGetImageByDriveLetter(none, static_cast<uint32_t>(freeLetter - L'A'), &index); },
         QOR_E_NO_IMAGE_AT_LETTER},
        {"C: is no volume of the driver", [&] { return QorApiGetImageByDriveLetter(none, 'C' - 'A', &index); },
         QOR_E_NO_IMAGE_AT_LETTER},
        {"enumeration without a count", [&] { return QorApiEnumImages(none, &index, nullptr, nullptr); },
         QOR_E_BAD_PARAMETER},
        {"information buffer of 3 bytes",
         [&] {
             uint32_t info[1] = {3};
             return QorApiGetImageInfo(none, 1, info);
         },
         QOR_E_BAD_PARAMETER},
        {"information size that wraps",
         [&] {
             uint32_t info[1] = {0xFFFFFFF8};
             return QorApiGetImageInfo(none, 1, info);
         },
         QOR_E_BAD_PARAMETER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(c.call(), 0) << c.what;
        EXPECT_EQ(GetLastError(), c.expected) << c.what;
    }
}

// A driver of another version is refused, and the refused handle is closed
// again (the stand-in's version reply counts the handles open on it).
TEST(QorApiOtherDriver, VersionOtherThanTheOneKnownIsRefused)
{
    std::string error;
    ASSERT_TRUE(qorbustest::InstallDriver(error, {{L"ReportedVersion", QOR_DRIVER_VERSION + 1}})) << error;
    HANDLE controller = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(QorApiControllerOpen(&controller), 0);
    EXPECT_EQ(GetLastError(), QOR_E_DRIVER_VERSION);
    EXPECT_EQ(controller, INVALID_HANDLE_VALUE);

    HANDLE raw = CreateFileA("\\\\.\\QorBus", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(raw, INVALID_HANDLE_VALUE);
    uint32_t handles = 0, version = 0;
    EXPECT_TRUE(QorApiGetVersion(raw, &handles, &version));
    EXPECT_EQ(version, QOR_DRIVER_VERSION + 1);
    EXPECT_EQ(handles, 1u) << "the refused controller handle is still open";
    CloseHandle(raw);
    EXPECT_TRUE(qorbustest::RemoveDriver());
}

// With the driver: the protocol itself.
class QorApiDriver : public CDriverTest {
protected:
    void SetUp() override
    {
        CDriverTest::SetUp();
        ASSERT_TRUE(CreateTempDirectory(m_folder));
        m_image = m_folder + L"\\volume.vhd";
        ASSERT_TRUE(WriteBytes(m_image, qorbusimages::MakeVhd(qorbusimages::FixturePartition(16), 0x06)));
    }
    void TearDown() override
    {
        CDriverTest::TearDown();
        DeleteDirectoryTree(m_folder.c_str());
    }

    uint32_t OpenImage()
    {
        QOR_IMAGE_DESCRIPTOR descriptor = {};
        descriptor.one = 1;
        const std::string path(m_image.begin(), m_image.end());
        const std::string change = ChangeFilePath(path);
        memcpy(descriptor.imagePath, path.c_str(), path.size() + 1);
        memcpy(descriptor.changeFilePath, change.c_str(), change.size() + 1);
        uint32_t index = 0;
        EXPECT_TRUE(QorApiImageOpen(m_controller, &index, &GUID_QOR_IMAGE_VHD, &descriptor, 0x18, nullptr, 0))
            << std::hex << GetLastError();
        return index;
    }

    std::wstring m_folder;
    std::wstring m_image;
};

TEST_F(QorApiDriver, VersionOfTheDriver)
{
    uint32_t value = 0, version = 0;
    ASSERT_TRUE(QorApiGetVersion(m_controller, &value, &version));
    EXPECT_EQ(version, QOR_DRIVER_VERSION);
}

TEST_F(QorApiDriver, EnumerationReportsTheNeededCount)
{
    const uint32_t opened[3] = {OpenImage(), OpenImage(), OpenImage()};
    uint32_t indices[3] = {};
    uint32_t count = 2;
    EXPECT_EQ(QorApiEnumImages(m_controller, indices, &count, nullptr), 0);
    EXPECT_EQ(GetLastError(), QOR_E_ARRAY_TOO_SMALL);
    EXPECT_EQ(count, 3u);

    count = 3;
    ASSERT_TRUE(QorApiEnumImages(m_controller, indices, &count, nullptr));
    ASSERT_EQ(count, 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(indices[i], opened[i]);

    // An image that is open but not inserted shows no drive.
    std::vector<uint8_t> info(QOR_IMAGE_INFO_LOOKUP_SIZE);
    const uint32_t size = static_cast<uint32_t>(info.size());
    memcpy(info.data(), &size, 4);
    ASSERT_TRUE(QorApiGetImageInfo(m_controller, opened[1], info.data()));
    uint32_t index, mask;
    memcpy(&index, &info[QOR_IMAGE_INFO_INDEX_OFFSET], 4);
    memcpy(&mask, &info[QOR_IMAGE_INFO_MASK_OFFSET], 4);
    EXPECT_EQ(index, opened[1]);
    EXPECT_EQ(mask, 0u);

    for (uint32_t i : opened)
        EXPECT_TRUE(QorApiImageClose(m_controller, i));
    count = 3;
    ASSERT_TRUE(QorApiEnumImages(m_controller, indices, &count, nullptr));
    EXPECT_EQ(count, 0u);
}

TEST_F(QorApiDriver, DriverCodesPassThrough)
{
    const uint32_t unknown = 31;
    struct Case {
        const char* what;
        int (*call)(HANDLE, uint32_t);
        DWORD expected;
    } cases[] = {
        {"close", [](HANDLE h, uint32_t i) { return QorApiImageClose(h, i); }, ERROR_INVALID_PARAMETER},
        {"flush", [](HANDLE h, uint32_t i) { return QorApiImageFlush(h, i); }, ERROR_INVALID_PARAMETER},
        {"remove", [](HANDLE h, uint32_t i) { return QorApiImageRemove(h, i, 1); }, ERROR_INVALID_PARAMETER},
        {"remove without flag", [](HANDLE h, uint32_t i) { return QorApiImageRemove(h, i, 0); },
         ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(m_controller, unknown), 0) << c.what;
        EXPECT_EQ(GetLastError(), c.expected) << c.what;
    }
    // Removing an image that was opened but never inserted.
    const uint32_t index = OpenImage();
    EXPECT_EQ(QorApiImageRemove(m_controller, index, 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_TRUE(QorApiImageFlush(m_controller, index));
    EXPECT_TRUE(QorApiImageClose(m_controller, index));
}

TEST_F(QorApiDriver, ImageOpenRefusesABadDescriptor)
{
    QOR_IMAGE_DESCRIPTOR descriptor = {};
    descriptor.one = 1;
    const std::string path(m_image.begin(), m_image.end());
    memcpy(descriptor.imagePath, path.c_str(), path.size() + 1);
    uint32_t index = 0;
    // No change-file path.
    EXPECT_EQ(QorApiImageOpen(m_controller, &index, &GUID_QOR_IMAGE_VHD, &descriptor, 0x18, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // An image type the driver does not know.
    const std::string change = ChangeFilePath(path);
    memcpy(descriptor.changeFilePath, change.c_str(), change.size() + 1);
    const GUID unknownType = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 4}};
    EXPECT_EQ(QorApiImageOpen(m_controller, &index, &unknownType, &descriptor, 0x18, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace
