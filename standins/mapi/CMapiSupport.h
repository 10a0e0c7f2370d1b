#pragma once
// The support object MAPI hands to a service's ServiceEntry (profile
// support: the service's own section) and to a store provider's Logon
// (logon support: the provider's own section, the session's notifications,
// status rows and entry identifiers). OpenProfileSection with no UID opens
// the object's own section. The copy services (DoCopyTo, DoCopyProps,
// CopyMessages, CopyFolder) work on any provider's objects through their
// interfaces (CMapiCopier).
#include "MapiSubsystem.h"

#include <memory>
#include <string>
#include <vector>

class CMapiSession;
class CNotifyHub;

class CMapiSupport final : public common::CUnknownImpl<CMapiSupport, IMAPISupport> {
public:
    // session may be null (profile support); hub is then private to the object.
    static HRESULT Create(const std::wstring& profile, const MAPIUID& ownSection, CMapiSession* session,
                          std::shared_ptr<CNotifyHub> hub, CMapiSupport** out);

    // The session has logged off: later calls that need it fail.
    void DetachSession() { m_session = nullptr; }
    const std::vector<MAPIUID>& ProviderUids() const { return m_providerUids; }
    const MAPIUID& OwnSection() const { return m_ownSection; }

    MAPI_IMAPISUPPORT_METHODS1(override)
    MAPI_IMAPISUPPORT_METHODS2(override)
    MAPI_IMAPISUPPORT_METHODS3(override)

private:
    friend class common::CUnknownImpl<CMapiSupport, IMAPISupport>;
    CMapiSupport(const std::wstring& profile, const MAPIUID& ownSection, CMapiSession* session,
                 std::shared_ptr<CNotifyHub> hub);
    ~CMapiSupport() override;

    std::wstring m_profile;
    MAPIUID m_ownSection;
    CMapiSession* m_session;
    std::shared_ptr<CNotifyHub> m_hub;
    std::vector<MAPIUID> m_providerUids;
};
