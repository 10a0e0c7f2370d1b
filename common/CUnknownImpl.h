#pragma once
// The only reference count and QueryInterface of our COM objects.
//
// CUnknownImpl<Derived, I1, I2, ...> derives from the listed interfaces and
// answers QueryInterface for IUnknown, each listed interface, and every base
// interface a listed one names through its BaseInterfaces typedef (see
// InterfaceChain below). The object holds one module lock for its lifetime.
// Objects start with a count of 1 and are made only through Create helpers.
#include "Platform.h"
#include "ModuleLock.h"

#include <new>
#include <type_traits>
#include <utility>

namespace common {

// Maps an interface to the interface it derives from, so that IEseFolder also
// answers for IEseProperty. Specialise InterfaceBase<I> to name a base (the
// default is "no base besides IUnknown").
template <typename I>
struct InterfaceBase {
    using Type = void;
};

// The IID an implementation base answers for; a mix-in that implements a
// system interface (CSupportErrorInfoFor) specialises it.
template <typename I>
struct InterfaceIid {
    static const IID& Get() { return __uuidof(I); }
};

template <typename Self, typename I>
bool QueryChain(Self* self, REFIID riid, void** ppv)
{
    if constexpr (std::is_same_v<I, void>) {
        return false;
    } else {
        if (IsEqualIID(riid, InterfaceIid<I>::Get())) {
            *ppv = static_cast<I*>(self);
            return true;
        }
        return QueryChain<Self, typename InterfaceBase<I>::Type>(self, riid, ppv);
    }
}

template <typename Derived, typename... Interfaces>
class CUnknownImpl : public Interfaces... {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        Derived* self = static_cast<Derived*>(this);
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(static_cast<FirstInterface*>(self));
        } else if (!(QueryChain<Derived, Interfaces>(self, riid, ppv) || ...)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG count = InterlockedDecrement(&m_refCount);
        if (count == 0)
            delete static_cast<Derived*>(this);
        return static_cast<ULONG>(count);
    }

protected:
    CUnknownImpl() { ModuleLock(); }
    virtual ~CUnknownImpl() { ModuleUnlock(); }

    // Creates the object with its first reference and hands out riid.
    template <typename... Args>
    static HRESULT CreateInstance(REFIID riid, void** ppv, Args&&... args)
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        Derived* object = new (std::nothrow) Derived(std::forward<Args>(args)...);
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

private:
    template <typename First, typename...>
    struct FirstOf {
        using Type = First;
    };
    using FirstInterface = typename FirstOf<Interfaces...>::Type;

    volatile LONG m_refCount = 1;
};

} // namespace common
