#include "Platform.h"
#include "CMapiFolder.h"

#include "VariantArgs.h"

namespace olhost {

HRESULT CMapiFolder::Create(StatePtr state, FolderInfo folder, IDispatch* parent, outlook::MAPIFolder** out)
{
    return CreateInstance(__uuidof(outlook::MAPIFolder), reinterpret_cast<void**>(out), std::move(state),
                          std::move(folder), parent);
}

STDMETHODIMP CMapiFolder::get_Class(long* Class)
{
    if (!Class)
        return E_POINTER;
    *Class = outlook::olFolder;
    return S_OK;
}

STDMETHODIMP CMapiFolder::get_Parent(IDispatch** Parent)
{
    if (!Parent)
        return E_POINTER;
    return m_parent.CopyTo(Parent);
}

STDMETHODIMP CMapiFolder::get_DefaultItemType(long* Type)
{
    if (!Type)
        return E_POINTER;
    *Type = 0; // olMailItem
    return S_OK;
}

STDMETHODIMP CMapiFolder::get_DefaultMessageClass(BSTR* Class)
{
    return CopyText(L"IPM.Note", Class);
}

STDMETHODIMP CMapiFolder::get_Description(BSTR* Description)
{
    return CopyText(L"", Description);
}

STDMETHODIMP CMapiFolder::get_EntryID(BSTR* EntryID)
{
    return CopyText(ToHex(m_folder.entryId), EntryID);
}

STDMETHODIMP CMapiFolder::get_Folders(outlook::_Folders** Folders)
{
    if (!Folders)
        return E_POINTER;
    *Folders = nullptr;
    std::vector<FolderInfo> children;
    HRESULT hr = ReadSubFolders(m_folder, &children);
    if (FAILED(hr))
        return hr;
    return CFolders::Create(m_state, std::move(children), this, Folders);
}

STDMETHODIMP CMapiFolder::get_Items(IDispatch** Items)
{
    if (Items)
        *Items = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CMapiFolder::get_Name(BSTR* Name)
{
    return CopyText(m_folder.name, Name);
}

STDMETHODIMP CMapiFolder::get_StoreID(BSTR* StoreID)
{
    return CopyText(ToHex(m_folder.storeId), StoreID);
}

HRESULT CFolders::Create(StatePtr state, std::vector<FolderInfo> folders, IDispatch* parent, outlook::_Folders** out)
{
    return CreateInstance(__uuidof(outlook::_Folders), reinterpret_cast<void**>(out), std::move(state),
                          std::move(folders), parent);
}

STDMETHODIMP CFolders::get_Class(long* Class)
{
    if (!Class)
        return E_POINTER;
    *Class = outlook::olFolders;
    return S_OK;
}

STDMETHODIMP CFolders::get_Parent(IDispatch** Parent)
{
    if (!Parent)
        return E_POINTER;
    return m_parent.CopyTo(Parent);
}

STDMETHODIMP CFolders::get_Count(long* Count)
{
    if (!Count)
        return E_POINTER;
    *Count = static_cast<long>(m_folders.size());
    return S_OK;
}

STDMETHODIMP CFolders::Item(VARIANT Index, outlook::MAPIFolder** Item)
{
    if (!Item)
        return E_POINTER;
    *Item = nullptr;
    if (IsTextIndex(Index)) {
        std::wstring name;
        if (FAILED(VariantToString(Index, &name)))
            return E_INVALIDARG;
        for (size_t i = 0; i < m_folders.size(); ++i) {
            if (_wcsicmp(m_folders[i].name.c_str(), name.c_str()) == 0)
                return CMapiFolder::Create(m_state, m_folders[i], m_parent.Get(), Item);
        }
        return MAPI_E_NOT_FOUND;
    }
    long index = 0;
    if (FAILED(VariantToLong(Index, &index)) || index < 1 || index > static_cast<long>(m_folders.size()))
        return E_INVALIDARG;
    return CMapiFolder::Create(m_state, m_folders[index - 1], m_parent.Get(), Item);
}

STDMETHODIMP CFolders::get_RawTable(IUnknown** Table)
{
    if (Table)
        *Table = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFolders::Add(BSTR, VARIANT, outlook::MAPIFolder** Folder)
{
    if (Folder)
        *Folder = nullptr;
    return E_NOTIMPL;
}

HRESULT CFolders::At(long position, outlook::MAPIFolder** Folder)
{
    if (!Folder)
        return E_POINTER;
    *Folder = nullptr;
    if (position < 0 || position >= static_cast<long>(m_folders.size())) {
        m_cursor = position < 0 ? -1 : static_cast<long>(m_folders.size());
        return S_OK; // Nothing
    }
    m_cursor = position;
    return CMapiFolder::Create(m_state, m_folders[position], m_parent.Get(), Folder);
}

} // namespace olhost
