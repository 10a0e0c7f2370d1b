#pragma once
// The fixture of the host's tests: a fresh MAPI profile with one writable
// store, the test DLL registered and its script reset, no add-in registered
// with Outlook and no command-bar customization left from an earlier test.
#include "Platform.h"
#include "COutlookHost.h"
#include "AutomationValues.h"
#include "TestAddInScript.h"

#include <mapix.h>
#include <mapiutil.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace olhosttest {

class HostTest : public ::testing::Test {
protected:
    static constexpr wchar_t kAddInsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, MAPIInitialize(nullptr));
        m_testDll = LoadLibraryW(L"OutlookHostTestAddIn.dll");
        ASSERT_NE(nullptr, m_testDll);
        auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(m_testDll, "DllRegisterServer")));
        auto scriptOf = reinterpret_cast<TestAddInScriptFn>(
            reinterpret_cast<void*>(GetProcAddress(m_testDll, "TestAddInScriptOf")));
        ASSERT_TRUE(registerServer && scriptOf);
        ASSERT_EQ(S_OK, registerServer());
        m_script = scriptOf();
        *m_script = TestAddInScript();
        RegDeleteTreeW(HKEY_CURRENT_USER, kAddInsKey);
        olhost::COutlookHost::ForgetCustomizations();

        ASSERT_EQ(S_OK, MAPIAdminProfiles(0, m_profAdmin.GetAddressOf()));
        m_profile = L"HostProfile" + std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++s_counter);
        ASSERT_EQ(S_OK, m_profAdmin->CreateProfile(W(m_profile.c_str()), nullptr, 0, MAPI_UNICODE));
        ComPtr<IMsgServiceAdmin> services;
        ASSERT_EQ(S_OK, m_profAdmin->AdminServices(W(m_profile.c_str()), nullptr, 0, MAPI_UNICODE,
                                                    services.GetAddressOf()));
        ASSERT_EQ(S_OK, services->CreateMsgService(W(L"WRITABLESTORE"), W(L"Host Store"), 0, MAPI_UNICODE));
    }

    void TearDown() override
    {
        m_host.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, kAddInsKey);
        if (m_profAdmin)
            m_profAdmin->DeleteProfile(W(m_profile.c_str()), MAPI_UNICODE);
        m_profAdmin.Reset();
        MAPIUninitialize();
        CoUninitialize();
    }

    HRESULT StartHost(const olhost::HostOptions& options = olhost::HostOptions())
    {
        m_host.reset();
        return olhost::COutlookHost::Start(m_profile, options, &m_host);
    }

    void RegisterAddIn(DWORD loadBehavior)
    {
        HKEY key = nullptr;
        std::wstring path = std::wstring(kAddInsKey) + L"\\" + kTestAddInProgId;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        RegSetValueExW(key, L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&loadBehavior),
                       sizeof(loadBehavior));
        RegCloseKey(key);
    }

    DWORD LoadBehavior()
    {
        DWORD value = 0;
        DWORD size = sizeof(value);
        std::wstring path = std::wstring(kAddInsKey) + L"\\" + kTestAddInProgId;
        RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"LoadBehavior", RRF_RT_REG_DWORD, nullptr, &value, &size);
        return value;
    }

    ComPtr<office::_CommandBars> Bars()
    {
        ComPtr<outlook::_Explorer> explorer;
        ComPtr<office::_CommandBars> bars;
        EXPECT_EQ(S_OK, m_host->Application()->ActiveExplorer(explorer.GetAddressOf()));
        if (explorer) {
            EXPECT_EQ(S_OK, explorer->get_CommandBars(bars.GetAddressOf()));
        }
        return bars;
    }

    static std::optional<olhost::BarSnapshot> FindBar(const std::vector<olhost::BarSnapshot>& bars,
                                                      const std::wstring& name)
    {
        for (const auto& bar : bars) {
            if (bar.name == name)
                return bar;
        }
        return std::nullopt;
    }

    // The top folder of the profile's store as NameSpace.Folders shows it.
    ComPtr<outlook::MAPIFolder> TopFolder()
    {
        ComPtr<outlook::_NameSpace> ns;
        ComPtr<outlook::_Folders> folders;
        ComPtr<outlook::MAPIFolder> top;
        EXPECT_EQ(S_OK, m_host->Application()->get_Session(ns.GetAddressOf()));
        EXPECT_EQ(S_OK, ns->get_Folders(folders.GetAddressOf()));
        EXPECT_EQ(S_OK, folders->Item(Long(1), top.GetAddressOf()));
        return top;
    }

    static int s_counter;
    HMODULE m_testDll = nullptr;
    TestAddInScript* m_script = nullptr;
    ComPtr<IProfAdmin> m_profAdmin;
    std::wstring m_profile;
    std::unique_ptr<olhost::COutlookHost> m_host;
};

inline int HostTest::s_counter = 0;

} // namespace olhosttest
