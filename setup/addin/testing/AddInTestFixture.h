#pragma once
// The fixture of the add-in's tests: the library registered as Outlook finds
// it (COM classes and the message service in MAPISVC.INF), a fresh MAPI
// profile with one writable store, no add-in state left in the current
// user's add-in key and no command-bar customization left from an earlier
// test. The stand-in Outlook host is started by each test.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "COutlookHost.h"
#include "testing/AutomationValues.h"
#include "CUnknownImpl.h"
#include "ProviderFiles.h"
#include "WizardSession.h"

#include <mapix.h>
#include <mapiutil.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace addintest {

constexpr wchar_t kAddInProgId[] = L"KOLVEN32.Connect";
constexpr wchar_t kPageProgId[] = L"KOLVEN32.ProvPropPage";
constexpr wchar_t kButtonTag[] = L"ORMEL_TOOLBAR_ITEM";
constexpr wchar_t kAddInKey[] = L"Software\\Microsoft\\Office\\Outlook\\AddIns\\KOLVEN32.Connect";

using olhosttest::Bool;
using olhosttest::CText;
using olhosttest::Long;
using olhosttest::Missing;
using olhosttest::Take;
using olhosttest::W;

// The library as the tests' process loads it (MAPI and COM share it), and its
// texts as it shows them.
inline HMODULE Library()
{
    return wizardtest::Kolven32();
}
using wizardtest::LibraryText;

// A folder as Outlook hands it to OptionsPagesAdd, with the EntryID a test
// chooses.
class CFolder final : public common::CUnknownImpl<CFolder, outlook::MAPIFolder> {
public:
    static ComPtr<outlook::MAPIFolder> Make(const std::wstring& entryId)
    {
        ComPtr<outlook::MAPIFolder> folder;
        *folder.GetAddressOf() = new CFolder(entryId);
        return folder;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
    STDMETHODIMP get_Application(outlook::_Application**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Class(long* Class) override
    {
        *Class = outlook::olFolder;
        return S_OK;
    }
    STDMETHODIMP get_Session(outlook::_NameSpace**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Parent(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_DefaultItemType(long*) override { return E_NOTIMPL; }
    STDMETHODIMP get_DefaultMessageClass(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Description(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Description(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_EntryID(BSTR* EntryID) override
    {
        *EntryID = SysAllocString(m_entryId.c_str());
        return S_OK;
    }
    STDMETHODIMP get_Folders(outlook::_Folders**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Items(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Name(BSTR* Name) override
    {
        *Name = SysAllocString(L"Archive");
        return S_OK;
    }
    STDMETHODIMP put_Name(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_StoreID(BSTR*) override { return E_NOTIMPL; }

private:
    friend class common::CUnknownImpl<CFolder, outlook::MAPIFolder>;
    explicit CFolder(std::wstring entryId) : m_entryId(std::move(entryId)) {}
    std::wstring m_entryId;
};

inline const MAPIUID kStoreUid = {{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD,
                                    0xEF}};

// The EntryID text of a folder of a store as Outlook shows it.
inline std::wstring EntryIdHex(EEntryKind kind, const MAPIUID& provider = kProviderUid,
                               const MAPIUID& store = kStoreUid)
{
    CEntryId id(kind, store);
    id.providerUid = provider;
    return BytesToHex(reinterpret_cast<const BYTE*>(&id), sizeof(id));
}

struct StoredValue {
    const wchar_t* name;
    DWORD type;
    DWORD value;
};

class AddInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, MAPIInitialize(nullptr));
        ASSERT_NE(nullptr, Library());
        m_serviceFiles.emplace();
        for (const char* entry : {"DllRegisterServer", "RegProvider"}) {
            auto call = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(Library(), entry)));
            ASSERT_NE(nullptr, call) << entry;
            ASSERT_EQ(S_OK, call()) << entry;
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, kAddInKey);
        olhost::COutlookHost::ForgetCustomizations();

        ASSERT_EQ(S_OK, MAPIAdminProfiles(0, m_profAdmin.GetAddressOf()));
        m_profile = L"AddInProfile" + std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++s_counter);
        ASSERT_EQ(S_OK, m_profAdmin->CreateProfile(W(m_profile.c_str()), nullptr, 0, MAPI_UNICODE));
        ASSERT_EQ(S_OK, m_profAdmin->AdminServices(W(m_profile.c_str()), nullptr, 0, MAPI_UNICODE,
                                                    m_services.GetAddressOf()));
        ASSERT_EQ(S_OK, m_services->CreateMsgService(W(L"WRITABLESTORE"), W(L"Host Store"), 0, MAPI_UNICODE));
    }

    void TearDown() override
    {
        m_host.reset();
        m_services.Reset();
        if (m_profAdmin)
            m_profAdmin->DeleteProfile(W(m_profile.c_str()), MAPI_UNICODE);
        m_profAdmin.Reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, kAddInKey);
        // The prefix's registry and MAPI's service files are shared with
        // other tests.
        if (auto unregister = reinterpret_cast<HRESULT(WINAPI*)()>(
                reinterpret_cast<void*>(GetProcAddress(Library(), "DllUnregisterServer"))))
            unregister();
        m_serviceFiles.reset();
        MAPIUninitialize();
        CoUninitialize();
    }

    HRESULT StartHost(const olhost::HostOptions& options = olhost::HostOptions())
    {
        m_host.reset();
        return olhost::COutlookHost::Start(m_profile, options, &m_host);
    }

    // Registers the add-in with Outlook as its installer does.
    static void RegisterAddIn(DWORD loadBehavior) { SetValue(L"LoadBehavior", REG_DWORD, loadBehavior); }

    static void SetValue(const wchar_t* name, DWORD type, DWORD value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kAddInKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &key, nullptr));
        if (type == REG_DWORD) {
            RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        } else {
            const std::wstring text = std::to_wstring(value);
            RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
    }

    // A REG_DWORD value of the add-in key, or nothing.
    static std::optional<DWORD> StoredDword(const wchar_t* name)
    {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (RegGetValueW(HKEY_CURRENT_USER, kAddInKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
            return std::nullopt;
        return value;
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

    // Every control carrying the add-in's tag, on any bar.
    static size_t TaggedControls(const std::vector<olhost::BarSnapshot>& bars)
    {
        size_t count = 0;
        for (const auto& bar : bars) {
            for (const auto& control : bar.controls)
                count += control.tag == kButtonTag ? 1 : 0;
        }
        return count;
    }

    ComPtr<office::_CommandBars> CommandBars()
    {
        ComPtr<outlook::_Explorer> explorer;
        ComPtr<office::_CommandBars> bars;
        EXPECT_EQ(S_OK, m_host->Application()->ActiveExplorer(explorer.GetAddressOf()));
        if (explorer) {
            EXPECT_EQ(S_OK, explorer->get_CommandBars(bars.GetAddressOf()));
        }
        return bars;
    }

    ComPtr<office::CommandBar> Bar(const std::wstring& name)
    {
        ComPtr<office::_CommandBars> bars = CommandBars();
        ComPtr<office::CommandBar> bar;
        CText text(name.c_str());
        if (bars) {
            EXPECT_EQ(S_OK, bars->get_Item(text.Value(), bar.GetAddressOf()));
        }
        return bar;
    }

    static std::wstring BarName() { return LibraryText(314); }

    static int s_counter;
    std::optional<wizardtest::CServiceFilesSnapshot> m_serviceFiles;
    ComPtr<IProfAdmin> m_profAdmin;
    ComPtr<IMsgServiceAdmin> m_services;
    std::wstring m_profile;
    std::unique_ptr<olhost::COutlookHost> m_host;
};

inline int AddInTest::s_counter = 0;

} // namespace addintest
