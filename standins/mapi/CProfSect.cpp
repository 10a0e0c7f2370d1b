#include "MapiSubsystem.h"
#include "CProfSect.h"
#include "CNamedProps.h"
#include "CProfileStore.h"

#include <memory>

HRESULT CProfSect::Create(const std::wstring& profile, const MAPIUID& uid, ULONG flags, IProfSect** out)
{
    return CreateInstance(IID_IProfSect, reinterpret_cast<void**>(out), profile, uid, flags);
}

CProfSect::CProfSect(const std::wstring& profile, const MAPIUID& uid, ULONG flags)
    : m_profile(profile), m_uid(uid), m_writable((flags & MAPI_MODIFY) != 0),
      m_helper(mapistub::DefaultAllocators(), std::make_shared<CNamedProps>())
{
}

STDMETHODIMP CProfSect::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}

STDMETHODIMP CProfSect::SaveChanges(ULONG)
{
    return m_writable ? S_OK : MAPI_E_NO_ACCESS;
}

STDMETHODIMP CProfSect::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                 LPSPropValue* lppPropArray)
{
    return mapistub::Guarded([&]() -> HRESULT {
        CPropBag bag;
        HRESULT hr = CProfileStore::LoadSection(m_profile, m_uid, bag);
        if (FAILED(hr))
            return hr;
        return m_helper.GetProps(bag, lpPropTagArray, ulFlags, lpcValues, lppPropArray);
    });
}

STDMETHODIMP CProfSect::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    return mapistub::Guarded([&]() -> HRESULT {
        CPropBag bag;
        HRESULT hr = CProfileStore::LoadSection(m_profile, m_uid, bag);
        if (FAILED(hr))
            return hr;
        return m_helper.GetPropList(bag, ulFlags, lppPropTagArray);
    });
}

STDMETHODIMP CProfSect::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* lppUnk)
{
    if (lppUnk)
        *lppUnk = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProfSect::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (lppProblems)
            *lppProblems = nullptr;
        if (!m_writable)
            return MAPI_E_NO_ACCESS;
        CPropBag bag;
        HRESULT hr = CProfileStore::LoadSection(m_profile, m_uid, bag);
        if (FAILED(hr))
            return hr;
        hr = m_helper.SetProps(bag, cValues, lpPropArray, lppProblems, {});
        if (FAILED(hr))
            return hr;
        return CProfileStore::SaveSection(m_profile, m_uid, bag);
    });
}

STDMETHODIMP CProfSect::DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (lppProblems)
            *lppProblems = nullptr;
        if (!m_writable)
            return MAPI_E_NO_ACCESS;
        CPropBag bag;
        HRESULT hr = CProfileStore::LoadSection(m_profile, m_uid, bag);
        if (FAILED(hr))
            return hr;
        hr = m_helper.DeleteProps(bag, lpPropTagArray, lppProblems, {});
        if (FAILED(hr))
            return hr;
        if (!CProfileStore::SectionExists(m_profile, m_uid))
            return S_OK;
        return CProfileStore::SaveSection(m_profile, m_uid, bag);
    });
}

STDMETHODIMP CProfSect::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                               LPSPropProblemArray* lppProblems)
{
    if (lppProblems)
        *lppProblems = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProfSect::CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                  LPSPropProblemArray* lppProblems)
{
    if (lppProblems)
        *lppProblems = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProfSect::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                        ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return mapistub::Guarded([&]() -> HRESULT {
        return m_helper.GetNamesFromIDs(lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    });
}

STDMETHODIMP CProfSect::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                        LPSPropTagArray* lppPropTags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        return m_helper.GetIDsFromNames(cPropNames, lppPropNames, ulFlags, lppPropTags);
    });
}
