#pragma once
// A MAPI session on one profile (MAPILogonEx). It opens the profile's
// message stores the way MAPI does: the provider DLL named in the store's
// provider section is loaded once per session, MSProviderInit is called with
// MAPI's allocators and the SPI version, and IMSProvider::Logon gets a
// support object of its own for each store. Entry identifiers are routed to
// the store whose provider registered their MAPIUID (SetProviderUID).
// A provider whose Logon fails with anything but MAPI_E_FAILONEPROVIDER
// (or a cancel) is failed for the rest of the session, as MAPI does: later
// opens of that store return the same error without calling it again.
// Logoff logs the stores off, shuts the providers down and releases them;
// the DLLs stay loaded, since clients may still hold the providers' objects.
//
// The session is also what Outlook's object model hands out as MAPIOBJECT:
// its IUnknown answers IMAPISession.
#include "MapiSubsystem.h"

#include <memory>
#include <string>
#include <vector>

class CMapiSupport;
class CNotifyHub;

class CMapiSession final : public common::CUnknownImpl<CMapiSession, IMAPISession> {
public:
    static HRESULT Create(const std::wstring& profile, ULONG flags, IMAPISession** out);

    // For the support objects of the session's providers.
    HRESULT ModifyStatusRow(const MAPIUID& section, ULONG cValues, const SPropValue* values, ULONG flags);
    const std::wstring& Profile() const { return m_profile; }
    bool IsShared() const { return m_shared; }

    MAPI_IMAPISESSION_METHODS(override)

private:
    friend class common::CUnknownImpl<CMapiSession, IMAPISession>;
    CMapiSession(const std::wstring& profile, ULONG flags);
    ~CMapiSession() override;

    struct LoadedProvider {
        std::wstring dll;   // the name as loaded, upper-case
        HMODULE module = nullptr;
        ComPtr<IMSProvider> provider;
    };
    struct StoreLogon {
        MAPIUID section;
        ComPtr<CMapiSupport> support;
        ComPtr<IMSLogon> logon;
        ComPtr<IMsgStore> store;
        std::vector<MAPIUID> uids;
    };

    HRESULT FindStoreSection(ULONG cbEntryID, const ENTRYID* entryId, MAPIUID& section) const;
    HRESULT LoadProvider(const std::wstring& dll, IMSProvider** provider);
    const StoreLogon* LogonFor(ULONG cbEntryID, const ENTRYID* entryId) const;
    std::vector<MAPIUID> StoreSections() const;
    void LogoffAll();

    std::wstring m_profile;
    bool m_shared;
    bool m_loggedOff = false;
    std::shared_ptr<CNotifyHub> m_hub;
    ComPtr<ITableData> m_status;
    std::vector<LoadedProvider> m_providers;
    std::vector<StoreLogon> m_logons;
    std::vector<std::pair<MAPIUID, HRESULT>> m_failed;
    CRITICAL_SECTION m_lock;
};
