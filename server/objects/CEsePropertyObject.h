#pragma once
// The IEseProperty half shared by the folder, mailbox and message objects:
// each forwards to its property row (CEsePropImpl) and reports failures
// under the IID of the object's own interface I.
//
// The objects hold their row and the store context; dropping them may close
// the database, so they are dropped with the store-map lock held, as the
// store object drops its context.
#include "Platform.h"
#include "CSupportErrorInfoFor.h"
#include "CUnknownImpl.h"
#include "ComErrors.h"
#include "EseInterfaceTraits.h"
#include "Vostrel2007.h"
#include "objects/CEsePropImpl.h"
#include "objects/CEseStoreContext.h"
#include "objects/CEseStream.h"

template <typename Derived, typename I>
class CEsePropertyObject : public common::CUnknownImpl<Derived, I, common::CSupportErrorInfoFor<I>> {
public:
    STDMETHODIMP GetPropertyTags(ULONG* pTagCount, ULONG** ppTags) override
    {
        if (pTagCount)
            *pTagCount = 0;
        if (ppTags)
            *ppTags = nullptr;
        return Serve([&] { m_row->GetPropertyTags(pTagCount, ppTags); });
    }
    STDMETHODIMP GetProperties(ULONG tagCount, ULONG* pTags, ULONG* pValueCount,
                               _SEsePropertyValue** ppValues) override
    {
        return Serve([&] { m_row->GetProperties(tagCount, pTags, pValueCount, ppValues); });
    }
    STDMETHODIMP GetProperty(ULONG tag, ULONG* pCount, BYTE** ppValue) override
    {
        return Serve([&] { m_row->GetProperty(tag, pCount, ppValue); });
    }
    // A stream that cannot be made (the property missing or null included)
    // is reported as a failed creation, with the failure's HRESULT.
    STDMETHODIMP OpenProperty(ULONG tag, IStream** ppStream) override
    {
        if (!ppStream)
            return E_POINTER;
        *ppStream = nullptr;
        HRESULT hr = E_UNEXPECTED;
        if (m_row) {
            try {
                hr = CEseStream::Create(tag, Engine(), ppStream);
            } catch (CException& error) {
                hr = error.GetHResult();
            } catch (const std::bad_alloc&) {
                hr = E_OUTOFMEMORY;
            }
        }
        if (FAILED(hr))
            ReportEseError(__uuidof(I), kErrCreateObject, kSrcHResult, hr, L"cannot create stream");
        return hr;
    }
    STDMETHODIMP GetPropNamesFromTags(ULONG* pTagCount, ULONG** ppTags, GUID* pPropSetGuid, ULONG flags,
                                      ULONG* pPropNamesCount, _SEseNamedPropertyId** ppPropNames) override
    {
        return Serve([&] {
            m_row->GetPropNamesFromTags(pTagCount, ppTags, pPropSetGuid, flags, pPropNamesCount, ppPropNames);
        });
    }
    STDMETHODIMP GetTagsFromPropNames(ULONG propNamesCount, _SEseNamedPropertyId** ppPropNames, ULONG* pTagCount,
                                      ULONG** ppTags) override
    {
        return Serve([&] { m_row->GetTagsFromPropNames(propNamesCount, ppPropNames, pTagCount, ppTags); });
    }

    const NJbFramework::CSharedRef<CEsePropImpl>& Row() const { return m_row; }
    const NJbFramework::CSharedRef<CEseStoreContext>& Context() const { return m_context; }

protected:
    CEsePropertyObject() = default;
    ~CEsePropertyObject() override
    {
        CStoreMapLock lock;
        m_row.Reset();
        m_context.Reset();
    }

    NJbFramework::CSharedRef<CEseTableImpl> Engine() const { return NJbFramework::CSharedRef<CEseTableImpl>(m_row); }

    // Runs body in the server's error pattern under I's IID; S_OK when it
    // returns.
    template <typename Body>
    HRESULT Serve(Body&& body)
    {
        return ServeComCall(__uuidof(I), [&]() -> HRESULT {
            if (!m_row)
                ThrowServerError(kErrUnspecified, L"the object has no property row");
            body();
            return S_OK;
        });
    }

    NJbFramework::CSharedRef<CEsePropImpl> m_row;
    NJbFramework::CSharedRef<CEseStoreContext> m_context;
};
