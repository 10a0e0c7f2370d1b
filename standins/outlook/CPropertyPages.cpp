#include "Platform.h"
#include "CPropertyPages.h"

#include "VariantArgs.h"

namespace olhost {

HRESULT CPropertyPages::Create(StatePtr state, IDispatch* parent, CPropertyPages** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    auto* pages = new (std::nothrow) CPropertyPages(std::move(state), parent);
    if (!pages)
        return E_OUTOFMEMORY;
    *out = pages;
    return S_OK;
}

STDMETHODIMP CPropertyPages::get_Class(long* Class)
{
    if (!Class)
        return E_POINTER;
    *Class = outlook::olPropertyPages;
    return S_OK;
}

STDMETHODIMP CPropertyPages::get_Parent(IDispatch** Parent)
{
    if (!Parent)
        return E_POINTER;
    return m_parent.CopyTo(Parent);
}

STDMETHODIMP CPropertyPages::get_Count(long* Count)
{
    if (!Count)
        return E_POINTER;
    *Count = static_cast<long>(m_pages.size());
    return S_OK;
}

HRESULT CPropertyPages::IndexOf(const VARIANT& index, size_t* position) const
{
    long value = 0;
    if (IsTextIndex(index)) {
        std::wstring title;
        if (FAILED(VariantToString(index, &title)))
            return E_INVALIDARG;
        for (size_t i = 0; i < m_pages.size(); ++i) {
            if (_wcsicmp(m_pages[i].title.c_str(), title.c_str()) == 0) {
                *position = i;
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }
    if (FAILED(VariantToLong(index, &value)) || value < 1 || value > static_cast<long>(m_pages.size()))
        return E_INVALIDARG;
    *position = static_cast<size_t>(value - 1);
    return S_OK;
}

STDMETHODIMP CPropertyPages::Item(VARIANT Index, IDispatch** Item)
{
    if (!Item)
        return E_POINTER;
    *Item = nullptr;
    size_t position = 0;
    HRESULT hr = IndexOf(Index, &position);
    if (FAILED(hr))
        return hr;
    // A page given by ProgID has no object until it is shown.
    const PageEntry& page = m_pages[position];
    if (!page.object)
        return S_OK;
    return page.object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(Item));
}

STDMETHODIMP CPropertyPages::Add(VARIANT Page, BSTR Title)
{
    if (m_closed)
        return E_FAIL;
    PageEntry entry;
    entry.title.assign(Title ? Title : L"", SysStringLen(Title));
    const VARIANT* page = &Page;
    if (page->vt == (VT_VARIANT | VT_BYREF) && page->pvarVal)
        page = page->pvarVal;
    switch (page->vt) {
    case VT_BSTR:
        entry.progId.assign(page->bstrVal ? page->bstrVal : L"", SysStringLen(page->bstrVal));
        if (entry.progId.empty())
            return E_INVALIDARG;
        break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        if (!page->punkVal)
            return E_INVALIDARG;
        entry.object = page->punkVal;
        break;
    default:
        return E_INVALIDARG;
    }
    m_pages.push_back(std::move(entry));
    return S_OK;
}

STDMETHODIMP CPropertyPages::Remove(VARIANT Index)
{
    if (m_closed)
        return E_FAIL;
    size_t position = 0;
    HRESULT hr = IndexOf(Index, &position);
    if (FAILED(hr))
        return hr;
    m_pages.erase(m_pages.begin() + static_cast<long>(position));
    return S_OK;
}

} // namespace olhost
