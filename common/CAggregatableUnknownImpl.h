#pragma once
// The reference count and QueryInterface of a COM object that can be
// aggregated: created with an outer unknown, it hands the outer object its
// own (non-delegating) inner unknown, and every interface it serves answers
// IUnknown calls through the outer object, so the aggregate keeps one
// identity and one lifetime. Without an outer unknown it behaves as
// CUnknownImpl does.
//
// CAggregatableUnknownImpl<Derived, B1, B2, ...> derives from the listed
// bases. A base is an interface (with its InterfaceBase chain, as for
// CUnknownImpl) or an implementation base that serves several interfaces and
// names them through ServedInterfaces. Base interfaces reached along more
// than one path (IDispatch under two dual interfaces, IOleWindow under the
// in-place interfaces) are handed out along the first path that names them.
// The object holds one module lock for its lifetime.
#include "Platform.h"
#include "CUnknownImpl.h"
#include "ModuleLock.h"

#include <new>
#include <utility>

namespace common {

template <typename... Interfaces>
struct InterfaceList {};

// The interfaces an implementation base serves; an interface serves itself.
template <typename Base>
struct ServedInterfaces {
    using Type = InterfaceList<Base>;
};

namespace detail {

// Walks I's chain of base interfaces from a pointer to I, so that each step
// is an unambiguous conversion.
template <typename I>
bool QueryAlong(I* object, REFIID riid, void** ppv)
{
    if constexpr (std::is_same_v<I, void>) {
        return false;
    } else {
        if (IsEqualIID(riid, InterfaceIid<I>::Get())) {
            *ppv = object;
            return true;
        }
        using Next = typename InterfaceBase<I>::Type;
        if constexpr (std::is_same_v<Next, void>)
            return false;
        else
            return QueryAlong<Next>(static_cast<Next*>(object), riid, ppv);
    }
}

template <typename Base, typename... Served>
bool QueryServed(Base* base, REFIID riid, void** ppv, InterfaceList<Served...>*)
{
    return (QueryAlong<Served>(static_cast<Served*>(base), riid, ppv) || ...);
}

} // namespace detail

template <typename Derived, typename... Bases>
class CAggregatableUnknownImpl : public Bases... {
public:
    // The IUnknown of every served interface: the controlling unknown's.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_controlling->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return m_controlling->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_controlling->Release(); }

    bool IsAggregated() const { return m_controlling != &m_inner; }

protected:
    explicit CAggregatableUnknownImpl(IUnknown* outer) : m_inner(this), m_controlling(outer ? outer : &m_inner)
    {
        ModuleLock();
    }
    virtual ~CAggregatableUnknownImpl() { ModuleUnlock(); }

    // Creates the object. With an outer unknown only IUnknown may be asked
    // for, and the caller receives the inner unknown; otherwise riid.
    template <typename... Args>
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv, Args&&... args)
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer && !IsEqualIID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        Derived* object = new (std::nothrow) Derived(outer, std::forward<Args>(args)...);
        if (!object)
            return E_OUTOFMEMORY;
        CAggregatableUnknownImpl* self = object;
        // The object starts with one inner reference; a QueryInterface
        // through the inner unknown adds the caller's.
        HRESULT hr = self->m_inner.QueryInterface(riid, ppv);
        self->m_inner.Release();
        return hr;
    }

private:
    template <typename First, typename...>
    struct FirstOf {
        using Type = First;
    };
    using FirstBase = typename FirstOf<Bases...>::Type;

    // The non-delegating unknown: the object's own count and identity.
    class CInner final : public IUnknown {
    public:
        explicit CInner(CAggregatableUnknownImpl* owner) : m_owner(owner) {}

        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
        {
            if (!ppv)
                return E_POINTER;
            *ppv = nullptr;
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            Derived* self = static_cast<Derived*>(m_owner);
            if (!(detail::QueryServed<Bases>(static_cast<Bases*>(self), riid, ppv,
                                              static_cast<typename ServedInterfaces<Bases>::Type*>(nullptr)) ||
                  ...))
                return E_NOINTERFACE;
            // Through the served interface, so that an aggregate counts on
            // its outer object.
            static_cast<IUnknown*>(*ppv)->AddRef();
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }
        STDMETHODIMP_(ULONG) Release() override
        {
            LONG count = InterlockedDecrement(&m_refCount);
            if (count == 0)
                delete static_cast<Derived*>(m_owner);
            return static_cast<ULONG>(count);
        }

    private:
        CAggregatableUnknownImpl* m_owner;
        volatile LONG m_refCount = 1;
    };

    CInner m_inner;
    IUnknown* m_controlling; // the outer object (not counted) or m_inner
};

} // namespace common
