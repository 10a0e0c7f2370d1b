// MAPI profiles that hold stores of the provider, made the way the
// provider's service entry completes them: the store's private properties
// in the service's profile section, its settings file (".cfg") in the data
// directory, and the provider section's identity (entry identifier, record
// keys, display name). The service used here is registered in MAPISVC.INF
// without a configuration entry of its own, so the profile is written by
// these helpers rather than by a wizard. Used by the provider's tests, its
// benchmark and the main job.
#pragma once
#include "ProviderPlatform.h"

#include <mapispi.h>

#include <string>
#include <vector>

namespace providertest {

// The service's name in MAPISVC.INF and its provider's DLL name.
extern const wchar_t kStoreServiceName[];

// Writes the service's sections into MAPISVC.INF.
HRESULT RegisterStoreService();

struct SStoreSettings {
    std::wstring databasePath;
    std::wstring logFolder;
    std::wstring mailboxSelection;
    bool publicFoldersOnly = false;
    // Without a settings file the store counts as not configured.
    bool writeSettingsFile = true;
    // Other private properties: source kind and image paths (absent when
    // not set).
    bool hasSourceKind = false;
    LONG sourceKind = 0;
    bool hasImages = false;
    std::wstring databaseImage;
    std::wstring logImage;
};

// A profile made for one test or run, deleted with its settings files when
// the object goes.
class CStoreProfile {
public:
    explicit CStoreProfile(const std::wstring& namePrefix);
    ~CStoreProfile();
    CStoreProfile(const CStoreProfile&) = delete;
    CStoreProfile& operator=(const CStoreProfile&) = delete;

    const std::wstring& Name() const { return m_name; }
    HRESULT Status() const { return m_status; }

    // Adds a store of the provider; its service UID comes back.
    HRESULT AddStore(const SStoreSettings& settings, MAPIUID* serviceUid);
    // Adds the MAPI subsystem's own writable store.
    HRESULT AddWritableStore(MAPIUID* serviceUid);
    // Changes the mailbox selection in a store's settings file.
    HRESULT SetMailboxSelection(const MAPIUID& serviceUid, const std::wstring& selection);

    HRESULT Logon(IMAPISession** session) const;

private:
    HRESULT NewestService(const wchar_t* serviceName, MAPIUID* serviceUid);

    std::wstring m_name;
    HRESULT m_status = S_OK;
    ComPtr<IProfAdmin> m_admin;
    ComPtr<IMsgServiceAdmin> m_services;
    std::vector<MAPIUID> m_settingsFiles;
};

// The entry identifier of a service's store in the session's stores table.
HRESULT StoreEntryIdOf(IMAPISession* session, const MAPIUID& serviceUid, std::vector<BYTE>& entryId);
// Opens a service's store through the stores table.
HRESULT OpenStoreOf(IMAPISession* session, const MAPIUID& serviceUid, IMsgStore** store,
                    ULONG flags = MDB_NO_DIALOG);

// "<id> <checked> <length> <name> " for each mailbox, as the mailbox pages
// write the selection.
std::wstring MailboxSelectionText(const std::vector<std::pair<LONGLONG, std::wstring>>& checked,
                                  const std::vector<std::pair<LONGLONG, std::wstring>>& unchecked = {});

} // namespace providertest
