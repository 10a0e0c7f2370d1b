#include "ProviderPlatform.h"
#include "ProviderFiles.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using providertest::CScratchDir;
using providertest::FileExists;
using providertest::WriteBytes;

TEST(ProviderFiles, HexTextBothWays)
{
    const BYTE bytes[] = {0x00, 0x0A, 0xA0, 0xFF, 0x7C};
    EXPECT_EQ(L"000AA0FF7C", BytesToHex(bytes, 5));
    wchar_t out[11];
    wmemset(out, L'#', 11);
    BytesToHex(bytes, 5, out);
    EXPECT_STREQ(L"000AA0FF7C", out);

    struct Case {
        const wchar_t* text;
        bool parsed;
        std::vector<BYTE> bytes;
    };
    const Case cases[] = {
        {L"000AA0FF7C", true, {0x00, 0x0A, 0xA0, 0xFF, 0x7C}},
        {L"000aa0ff7cEXTRA", true, {0x00, 0x0A, 0xA0, 0xFF, 0x7C}}, // only 2n digits are read
        {L"000AA0FF7", false, {0, 0, 0, 0, 0}},                      // short: never read past the end
        {L"", false, {0, 0, 0, 0, 0}},
        {L"000AG0FF7C", false, {0, 0, 0, 0, 0}},
        {nullptr, false, {0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> parsed(5, 0x55);
        EXPECT_EQ(c.parsed, HexToBytes(c.text, parsed.data(), 5)) << (c.text ? c.text : L"(null)");
        EXPECT_EQ(c.bytes, parsed) << (c.text ? c.text : L"(null)");
    }
    EXPECT_FALSE(HexToBytes(L"00", nullptr, 1));
}

TEST(ProviderFiles, DeleteDirectoryTreeRemovesNestedFoldersButNoDriveRoot)
{
    CScratchDir dir;
    const std::wstring root = dir.File(L"work");
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\logs").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\logs\\deep").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(root + L"\\tmp.edb", {1, 2, 3}));
    ASSERT_TRUE(WriteBytes(root + L"\\logs\\E00.log", {4}));
    ASSERT_TRUE(WriteBytes(root + L"\\logs\\deep\\x", {}));
    const std::wstring sibling = dir.File(L"work2");
    ASSERT_TRUE(WriteBytes(sibling, {9}));

    EXPECT_TRUE(DeleteDirectoryTree(root.c_str()));
    EXPECT_FALSE(FileExists(root));
    EXPECT_TRUE(FileExists(sibling)); // a name that merely starts the same

    const std::wstring empty = dir.File(L"empty");
    ASSERT_TRUE(CreateDirectoryW(empty.c_str(), nullptr));
    EXPECT_TRUE(DeleteDirectoryTree(empty.c_str()));
    EXPECT_FALSE(FileExists(empty));

    for (const wchar_t* refused : {L"C:\\", L"C:", L"\\", L""})
        EXPECT_FALSE(DeleteDirectoryTree(refused)) << refused;
    EXPECT_FALSE(DeleteDirectoryTree(nullptr));
    EXPECT_TRUE(FileExists(L"C:\\windows"));
}

TEST(ProviderFiles, TempDirectoriesAreFreshEvenWithinOneTick)
{
    std::vector<std::wstring> made;
    for (int i = 0; i < 3; ++i) {
        std::wstring path;
        ASSERT_TRUE(CreateTempDirectory(path));
        const DWORD attributes = GetFileAttributesW(path.c_str());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
        const std::wstring leaf = path.substr(path.rfind(L'\\') + 1);
        EXPECT_EQ(0, _wcsnicmp(leaf.c_str(), L"KO", 2)) << path;
        EXPECT_EQ(std::wstring::npos, leaf.find(L'.')) << path;
        for (const std::wstring& earlier : made)
            EXPECT_NE(earlier, path);
        made.push_back(path);
    }
    for (const std::wstring& path : made) {
        // No file of the same name was left behind by the name generator.
        EXPECT_FALSE(FileExists(path + L".tmp"));
        RemoveDirectoryW(path.c_str());
    }
}

class InstallLocation : public ::testing::Test {
protected:
    static constexpr const wchar_t* kKey =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6F93A0C5-B21E-4D7C-8F48-3E5D07A9B162}";
    void TearDown() override { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey); }
    void SetValue(DWORD type, const std::wstring& value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                                 &key, nullptr));
        RegSetValueExW(key, L"InstallLocation", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
};

TEST_F(InstallLocation, HelpFileLiesInTheInstallLocation)
{
    std::wstring path = L"stale";
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_FALSE(GetInstallLocation(path));
    EXPECT_EQ(L"", path);
    EXPECT_FALSE(GetHelpFilePath(path));

    struct Case {
        DWORD type;
        std::wstring value;
        bool found;
        std::wstring help;
    };
    const Case cases[] = {
        {REG_SZ, L"C:\\Program Files\\Vostrel", true, L"C:\\Program Files\\Vostrel\\Trevassa.chm"},
        {REG_SZ, L"C:\\Program Files\\Vostrel\\ \\  ", true, L"C:\\Program Files\\Vostrel\\Trevassa.chm"},
        {REG_EXPAND_SZ, L"D:\\V", true, L"D:\\V\\Trevassa.chm"},
        {REG_BINARY, L"C:\\x", false, L""},
        {REG_SZ, std::wstring(300, L'a'), false, L""}, // over 520 bytes
    };
    for (const Case& c : cases) {
        SetValue(c.type, c.value);
        EXPECT_EQ(c.found, GetInstallLocation(path)) << c.type;
        EXPECT_EQ(c.found, GetHelpFilePath(path)) << c.type;
        EXPECT_EQ(c.help, path);
    }
}

} // namespace
