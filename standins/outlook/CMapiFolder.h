#pragma once
// Outlook's MAPIFolder over a folder of the MAPI session, and its Folders
// collection (CFolders).
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"
#include "MapiFolderInfo.h"

namespace olhost {

class CMapiFolder final : public common::CUnknownImpl<CMapiFolder, CDispatchImpl<CMapiFolder, outlook::MAPIFolder>> {
public:
    // parent: the NameSpace for a store's top folder, else the parent folder.
    static HRESULT Create(StatePtr state, FolderInfo folder, IDispatch* parent, outlook::MAPIFolder** out);

    STDMETHODIMP get_Application(outlook::_Application** Application) override
    {
        return m_state->GetApplication(Application);
    }
    STDMETHODIMP get_Class(long* Class) override;
    STDMETHODIMP get_Session(outlook::_NameSpace** Session) override { return m_state->GetNameSpace(Session); }
    STDMETHODIMP get_Parent(IDispatch** Parent) override;
    STDMETHODIMP get_DefaultItemType(long* Type) override;
    STDMETHODIMP get_DefaultMessageClass(BSTR* Class) override;
    STDMETHODIMP get_Description(BSTR* Description) override;
    STDMETHODIMP put_Description(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_EntryID(BSTR* EntryID) override;
    STDMETHODIMP get_Folders(outlook::_Folders** Folders) override;
    STDMETHODIMP get_Items(IDispatch** Items) override;
    STDMETHODIMP get_Name(BSTR* Name) override;
    STDMETHODIMP put_Name(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_StoreID(BSTR* StoreID) override;

    const FolderInfo& Info() const { return m_folder; }

private:
    friend class common::CUnknownImpl<CMapiFolder, CDispatchImpl<CMapiFolder, outlook::MAPIFolder>>;
    CMapiFolder(StatePtr state, FolderInfo folder, IDispatch* parent)
        : m_state(std::move(state)), m_folder(std::move(folder)), m_parent(parent)
    {
    }

    StatePtr m_state;
    FolderInfo m_folder;
    ComPtr<IDispatch> m_parent;
};

class CFolders final : public common::CUnknownImpl<CFolders, CDispatchImpl<CFolders, outlook::_Folders>> {
public:
    static HRESULT Create(StatePtr state, std::vector<FolderInfo> folders, IDispatch* parent, outlook::_Folders** out);

    STDMETHODIMP get_Application(outlook::_Application** Application) override
    {
        return m_state->GetApplication(Application);
    }
    STDMETHODIMP get_Class(long* Class) override;
    STDMETHODIMP get_Session(outlook::_NameSpace** Session) override { return m_state->GetNameSpace(Session); }
    STDMETHODIMP get_Parent(IDispatch** Parent) override;
    STDMETHODIMP get_Count(long* Count) override;
    STDMETHODIMP Item(VARIANT Index, outlook::MAPIFolder** Item) override;
    STDMETHODIMP get_RawTable(IUnknown** Table) override;
    STDMETHODIMP Add(BSTR, VARIANT, outlook::MAPIFolder** Folder) override;
    STDMETHODIMP GetFirst(outlook::MAPIFolder** Folder) override { return At(0, Folder); }
    STDMETHODIMP GetLast(outlook::MAPIFolder** Folder) override
    {
        return At(static_cast<long>(m_folders.size()) - 1, Folder);
    }
    STDMETHODIMP GetNext(outlook::MAPIFolder** Folder) override { return At(m_cursor + 1, Folder); }
    STDMETHODIMP GetPrevious(outlook::MAPIFolder** Folder) override { return At(m_cursor - 1, Folder); }
    STDMETHODIMP Remove(long) override { return E_NOTIMPL; }

private:
    friend class common::CUnknownImpl<CFolders, CDispatchImpl<CFolders, outlook::_Folders>>;
    CFolders(StatePtr state, std::vector<FolderInfo> folders, IDispatch* parent)
        : m_state(std::move(state)), m_folders(std::move(folders)), m_parent(parent)
    {
    }
    // The folder at a 0-based position (Nothing past either end), which
    // becomes the position of GetNext and GetPrevious.
    HRESULT At(long position, outlook::MAPIFolder** Folder);

    StatePtr m_state;
    std::vector<FolderInfo> m_folders;
    ComPtr<IDispatch> m_parent;
    long m_cursor = -1;
};

} // namespace olhost
