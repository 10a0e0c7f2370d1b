#pragma once
// Outlook's "MAPI" NameSpace: the session's stores as Folders, the MAPI
// session as MAPIOBJECT, and the source of NameSpaceEvents.
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

#include <ocidl.h>

namespace olhost {

class CNameSpace final : public common::CUnknownImpl<CNameSpace, CDispatchImpl<CNameSpace, outlook::_NameSpace>,
                                                     IConnectionPointContainer> {
public:
    static HRESULT Create(StatePtr state, outlook::_NameSpace** out);

    STDMETHODIMP get_Application(outlook::_Application** Application) override
    {
        return m_state->GetApplication(Application);
    }
    STDMETHODIMP get_Class(long* Class) override;
    STDMETHODIMP get_Session(outlook::_NameSpace** Session) override;
    STDMETHODIMP get_Parent(IDispatch** Parent) override;
    STDMETHODIMP get_CurrentUser(IDispatch** User) override { return NotServed(User); }
    STDMETHODIMP get_Folders(outlook::_Folders** Folders) override;
    STDMETHODIMP get_Type(BSTR* Type) override;
    STDMETHODIMP get_AddressLists(IDispatch** Lists) override { return NotServed(Lists); }
    STDMETHODIMP CreateRecipient(BSTR, IDispatch** Recipient) override { return NotServed(Recipient); }
    STDMETHODIMP GetDefaultFolder(long, outlook::MAPIFolder** Folder) override { return NotServed(Folder); }
    STDMETHODIMP GetFolderFromID(BSTR EntryIDFolder, VARIANT EntryIDStore, outlook::MAPIFolder** Folder) override;
    STDMETHODIMP GetItemFromID(BSTR, VARIANT, IDispatch** Item) override { return NotServed(Item); }
    STDMETHODIMP GetRecipientFromID(BSTR, IDispatch** Recipient) override { return NotServed(Recipient); }
    STDMETHODIMP GetSharedDefaultFolder(IDispatch*, long, outlook::MAPIFolder** Folder) override
    {
        return NotServed(Folder);
    }
    STDMETHODIMP Logoff() override { return E_NOTIMPL; }
    // Outlook is logged on already: Logon does nothing.
    STDMETHODIMP Logon(VARIANT, VARIANT, VARIANT, VARIANT) override { return S_OK; }
    STDMETHODIMP PickFolder(outlook::MAPIFolder** Folder) override { return NotServed(Folder); }
    STDMETHODIMP RefreshRemoteHeaders() override { return E_NOTIMPL; }
    STDMETHODIMP get_SyncObjects(IDispatch** Objects) override { return NotServed(Objects); }
    STDMETHODIMP AddStore(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveStore(outlook::MAPIFolder*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Offline(VARIANT_BOOL* Offline) override;
    STDMETHODIMP Dial(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_MAPIOBJECT(IUnknown** MAPIOBJECT) override;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

private:
    friend class common::CUnknownImpl<CNameSpace, CDispatchImpl<CNameSpace, outlook::_NameSpace>,
                                      IConnectionPointContainer>;
    explicit CNameSpace(StatePtr state) : m_state(std::move(state)) { m_state->nameSpace = this; }
    ~CNameSpace() override
    {
        if (m_state->nameSpace == this)
            m_state->nameSpace = nullptr;
    }
    template <typename T>
    static HRESULT NotServed(T** out)
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }

    StatePtr m_state;
};

} // namespace olhost
