// The IMAPIProp part that the store, folders, messages and attachments
// share, on top of CMapiObject. The store is read-only: SaveChanges,
// SetProps and DeleteProps clear the last error and refuse with
// MAPI_E_NO_SUPPORT (a class with a reason to answer otherwise replaces its
// slot, as CFolder does for Outlook's extended folder flags). Copies out of
// an object are MAPI's support object's work (CopyThroughSupport).
//
// The slots are IMAPIProp's own, filled here instead of in each class: the
// layer adds no virtual function, so every class keeps its interface's
// slot order, followed by its own virtual functions.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CMapiObject.h"
#include "CStoreShared.h"

template <typename Derived, typename... Interfaces>
class CMapiProp : public CMapiObject<Derived, Interfaces...> {
public:
    STDMETHODIMP SaveChanges(ULONG) override
    {
        this->m_lastError.SetText(nullptr);
        return MAPI_E_NO_SUPPORT;
    }

    STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override
    {
        this->m_lastError.SetText(nullptr);
        return MAPI_E_NO_SUPPORT;
    }

    STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override
    {
        this->m_lastError.SetText(nullptr);
        return MAPI_E_NO_SUPPORT;
    }

protected:
    CMapiProp() = default;
    ~CMapiProp() override = default;

    // copy(support) with the support object of the store storeId names, as
    // a copy frame (GuardCopy: a failure is logged under method, a success
    // clears the last error); E_FAIL when that store is not open.
    template <typename Copy>
    HRESULT CopyThroughSupport(const char* method, const CEntryId& storeId, Copy&& copy) noexcept
    {
        return this->GuardCopy(method, [&]() -> HRESULT {
            ComPtr<IMAPISupport> support = StoreSupportOf(storeId);
            if (!support)
                return E_FAIL;
            return copy(support.Get());
        });
    }
};
