#include "Platform.h"
#include "CRegistrar.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using common::CRegistrar;
using common::RegistryRow;

// Rows below a scratch key of the current user's classes.
const RegistryRow kRows[] = {
    {L"VostrelRegistrarTest", nullptr, nullptr, RegistryRow::NoRemove},
    {L"VostrelRegistrarTest\\Keep", nullptr, nullptr, RegistryRow::NoRemove},
    {L"VostrelRegistrarTest\\Keep\\%NAME%", nullptr, L"module at %MODULE%", 0},
    {L"VostrelRegistrarTest\\Keep\\%NAME%", L"Named", L"%NAME%-%NAME%", 0},
    {L"VostrelRegistrarTest\\Whole", nullptr, L"rewritten", RegistryRow::ForceRemove},
    {L"VostrelRegistrarTest\\Whole\\Child", nullptr, L"child", 0},
};

std::wstring Read(const wchar_t* key, const wchar_t* name = nullptr)
{
    wchar_t data[512] = {};
    DWORD size = sizeof data;
    std::wstring path = std::wstring(L"Software\\Classes\\") + key;
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<none>";
    return data;
}

bool Exists(const wchar_t* key)
{
    HKEY handle = nullptr;
    std::wstring path = std::wstring(L"Software\\Classes\\") + key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

TEST(CRegistrar, RegistersExpandedRowsAndRemovesAllButNoRemoveKeys)
{
    CRegistrar registrar(kRows, sizeof kRows / sizeof kRows[0]);
    registrar.AddReplacement(L"%MODULE%", L"C:\\bin\\x.exe");
    registrar.AddReplacement(L"%NAME%", L"Item");
    EXPECT_EQ(L"Item and Item", registrar.Expand(L"%NAME% and %NAME%"));

    // A stray value under the force-removed key disappears on registration.
    HKEY stray = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\VostrelRegistrarTest\\Whole\\Old", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &stray, nullptr);
    RegCloseKey(stray);

    ASSERT_EQ(S_OK, registrar.Register(true));
    EXPECT_EQ(L"module at C:\\bin\\x.exe", Read(L"VostrelRegistrarTest\\Keep\\Item"));
    EXPECT_EQ(L"Item-Item", Read(L"VostrelRegistrarTest\\Keep\\Item", L"Named"));
    EXPECT_EQ(L"rewritten", Read(L"VostrelRegistrarTest\\Whole"));
    EXPECT_EQ(L"child", Read(L"VostrelRegistrarTest\\Whole\\Child"));
    EXPECT_FALSE(Exists(L"VostrelRegistrarTest\\Whole\\Old"));

    ASSERT_EQ(S_OK, registrar.Unregister(true));
    EXPECT_TRUE(Exists(L"VostrelRegistrarTest\\Keep"));
    EXPECT_FALSE(Exists(L"VostrelRegistrarTest\\Keep\\Item"));
    EXPECT_FALSE(Exists(L"VostrelRegistrarTest\\Whole"));
    // Unregistering what is already gone is not a failure.
    EXPECT_EQ(S_OK, registrar.Unregister(true));

    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\VostrelRegistrarTest");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\VostrelRegistrarTest");
}

} // namespace
