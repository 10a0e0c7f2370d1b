#include "Platform.h"
#include "CNameSpace.h"

#include "CConnectionPoint.h"
#include "CMapiFolder.h"
#include "VariantArgs.h"

namespace olhost {

HRESULT CNameSpace::Create(StatePtr state, outlook::_NameSpace** out)
{
    return CreateInstance(__uuidof(outlook::_NameSpace), reinterpret_cast<void**>(out), std::move(state));
}

STDMETHODIMP CNameSpace::get_Class(long* Class)
{
    if (!Class)
        return E_POINTER;
    *Class = outlook::olNamespace;
    return S_OK;
}

STDMETHODIMP CNameSpace::get_Session(outlook::_NameSpace** Session)
{
    if (!Session)
        return E_POINTER;
    *Session = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP CNameSpace::get_Parent(IDispatch** Parent)
{
    return m_state->GetApplication(Parent);
}

STDMETHODIMP CNameSpace::get_Folders(outlook::_Folders** Folders)
{
    if (!Folders)
        return E_POINTER;
    *Folders = nullptr;
    std::vector<FolderInfo> tops;
    HRESULT hr = ReadTopFolders(m_state->session.Get(), &tops);
    if (FAILED(hr))
        return hr;
    return CFolders::Create(m_state, std::move(tops), this, Folders);
}

STDMETHODIMP CNameSpace::get_Type(BSTR* Type)
{
    return CopyText(L"MAPI", Type);
}

STDMETHODIMP CNameSpace::GetFolderFromID(BSTR EntryIDFolder, VARIANT EntryIDStore, outlook::MAPIFolder** Folder)
{
    if (!Folder)
        return E_POINTER;
    *Folder = nullptr;
    std::vector<BYTE> entryId;
    std::vector<BYTE> storeId;
    std::wstring storeText;
    if (!EntryIDFolder || !FromHex(std::wstring(EntryIDFolder, SysStringLen(EntryIDFolder)), &entryId) ||
        entryId.empty())
        return E_INVALIDARG;
    bool hasStore = !IsMissing(EntryIDStore);
    if (hasStore && (FAILED(VariantToString(EntryIDStore, &storeText)) || !FromHex(storeText, &storeId)))
        return E_INVALIDARG;
    FolderInfo info;
    HRESULT hr = ReadFolder(m_state->session.Get(), entryId, hasStore ? &storeId : nullptr, &info);
    if (FAILED(hr))
        return hr;
    return CMapiFolder::Create(m_state, std::move(info), this, Folder);
}

STDMETHODIMP CNameSpace::get_Offline(VARIANT_BOOL* Offline)
{
    if (!Offline)
        return E_POINTER;
    *Offline = VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CNameSpace::get_MAPIOBJECT(IUnknown** MAPIOBJECT)
{
    if (!MAPIOBJECT)
        return E_POINTER;
    *MAPIOBJECT = nullptr;
    if (!m_state->session)
        return E_FAIL;
    return m_state->session->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(MAPIOBJECT));
}

STDMETHODIMP CNameSpace::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (points)
        *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CNameSpace::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    return CConnectionPoint::Find(m_state->nameSpaceSinks, this, riid, point);
}

} // namespace olhost
