#pragma once
// One class factory for every creatable class. By default it refuses
// aggregation and calls T::CreateInstance(riid, ppv); a class that can be
// aggregated (EAggregation::Allowed) gets T::CreateInstance(outer, riid, ppv)
// with the outer unknown or null. LockServer moves the module lock. The
// factory object itself is static and holds no lock, so that a registered
// class object does not keep the module alive.
#include "Platform.h"
#include "ModuleLock.h"

namespace common {

enum class EAggregation { Refused, Allowed };

template <typename T, EAggregation Aggregation = EAggregation::Refused>
class CClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if constexpr (Aggregation == EAggregation::Allowed) {
            return T::CreateInstance(outer, riid, ppv);
        } else {
            if (outer)
                return CLASS_E_NOAGGREGATION;
            return T::CreateInstance(riid, ppv);
        }
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ModuleLock();
        else
            ModuleUnlock();
        return S_OK;
    }
};

} // namespace common
