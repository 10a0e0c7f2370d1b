// An object that can stand alone or inside an aggregate: one identity and one
// count either way, interfaces served through implementation bases, and the
// class factory's aggregation rule.
#include "Platform.h"
#include "CAggregatableUnknownImpl.h"
#include "CClassFactory.h"

#include <gtest/gtest.h>

namespace {

struct ITestA : public IDispatch {
    STDMETHOD(A)(int* value) = 0;
};
struct ITestB : public IDispatch {
    STDMETHOD(B)(int* value) = 0;
};

} // namespace

__CRT_UUID_DECL(ITestA, 0x6A3C1E10, 0x51B2, 0x4C8D, 0x9E, 0x01, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70)
__CRT_UUID_DECL(ITestB, 0x6A3C1E11, 0x51B2, 0x4C8D, 0x9E, 0x01, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x70)

namespace {

// Both dual interfaces share one IDispatch, as a dispatch base over a type
// library gives them.
class CPairImpl : public ITestA, public ITestB {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP A(int* value) override
    {
        *value = 1;
        return S_OK;
    }
    STDMETHODIMP B(int* value) override
    {
        *value = 2;
        return S_OK;
    }
};

} // namespace

namespace common {
template <>
struct InterfaceBase<ITestA> {
    using Type = IDispatch;
};
template <>
struct InterfaceBase<ITestB> {
    using Type = IDispatch;
};
template <>
struct ServedInterfaces<CPairImpl> {
    using Type = InterfaceList<ITestA, ITestB>;
};
} // namespace common

namespace {

int g_alive = 0;

class CInnerObject final : public common::CAggregatableUnknownImpl<CInnerObject, CPairImpl, IPersist> {
public:
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
    {
        return CAggregatableUnknownImpl::CreateInstance(outer, riid, ppv);
    }
    STDMETHODIMP GetClassID(CLSID* clsid) override
    {
        *clsid = CLSID_NULL;
        return S_OK;
    }

private:
    friend class common::CAggregatableUnknownImpl<CInnerObject, CPairImpl, IPersist>;
    explicit CInnerObject(IUnknown* outer) : CAggregatableUnknownImpl(outer) { ++g_alive; }
    ~CInnerObject() override { --g_alive; }
};

// The object that aggregates: it serves IOleWindow itself and hands out the
// inner object's interfaces.
class COuter final : public IOleWindow {
public:
    COuter()
    {
        EXPECT_EQ(S_OK, CInnerObject::CreateInstance(static_cast<IUnknown*>(this), IID_IUnknown,
                                                     reinterpret_cast<void**>(&m_inner)));
    }
    ~COuter()
    {
        if (m_inner)
            m_inner->Release();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow)) {
            *ppv = static_cast<IOleWindow*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner ? m_inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_count; }
    STDMETHODIMP_(ULONG) Release() override { return --m_count; }
    STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    IUnknown* m_inner = nullptr;
    ULONG m_count = 1;
};

IUnknown* IdentityOf(IUnknown* object)
{
    IUnknown* identity = nullptr;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    identity->Release();
    return identity;
}

TEST(AggregatableUnknownImpl, StandingAloneEveryInterfaceIsOneObject)
{
    ComPtr<ITestB> b;
    ASSERT_EQ(S_OK, CInnerObject::CreateInstance(nullptr, __uuidof(ITestB), reinterpret_cast<void**>(b.GetAddressOf())));
    EXPECT_EQ(1, g_alive);
    ComPtr<ITestA> a;
    ComPtr<IPersist> persist;
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, b.As(&a));
    ASSERT_EQ(S_OK, a.As(&persist));
    ASSERT_EQ(S_OK, persist.As(&dispatch));
    int value = 0;
    EXPECT_EQ(S_OK, a->A(&value));
    EXPECT_EQ(1, value);
    EXPECT_EQ(S_OK, b->B(&value));
    EXPECT_EQ(2, value);
    EXPECT_EQ(IdentityOf(a.Get()), IdentityOf(b.Get()));
    EXPECT_EQ(IdentityOf(a.Get()), IdentityOf(persist.Get()));
    EXPECT_EQ(IdentityOf(a.Get()), IdentityOf(dispatch.Get()));

    ComPtr<IOleWindow> none;
    EXPECT_EQ(E_NOINTERFACE, a.As(&none));
    EXPECT_EQ(nullptr, none.Get());
    a.Reset();
    persist.Reset();
    dispatch.Reset();
    b.Reset();
    EXPECT_EQ(0, g_alive);
}

TEST(AggregatableUnknownImpl, InsideAnAggregateTheOuterObjectIsTheIdentityAndTheCount)
{
    {
        COuter outer;
        ASSERT_NE(nullptr, outer.m_inner);
        EXPECT_EQ(1, g_alive);
        // The inner unknown is the inner object's own.
        EXPECT_NE(static_cast<IUnknown*>(&outer), IdentityOf(outer.m_inner));

        ITestA* a = nullptr;
        const ULONG before = outer.m_count;
        ASSERT_EQ(S_OK, outer.QueryInterface(__uuidof(ITestA), reinterpret_cast<void**>(&a)));
        EXPECT_EQ(before + 1, outer.m_count);
        EXPECT_EQ(static_cast<IUnknown*>(&outer), IdentityOf(a));
        // The outer object's own interfaces are reached from the inner one's.
        IOleWindow* window = nullptr;
        ASSERT_EQ(S_OK, a->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window)));
        EXPECT_EQ(static_cast<IOleWindow*>(&outer), window);
        window->Release();
        a->Release();
        EXPECT_EQ(before, outer.m_count);
        EXPECT_EQ(1, g_alive);
    }
    EXPECT_EQ(0, g_alive);
}

TEST(AggregatableUnknownImpl, AnAggregateAsksForIUnknownOnly)
{
    COuter outer;
    const int alive = g_alive;
    ITestA* a = reinterpret_cast<ITestA*>(&outer);
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CInnerObject::CreateInstance(static_cast<IUnknown*>(&outer), __uuidof(ITestA), reinterpret_cast<void**>(&a)));
    EXPECT_EQ(nullptr, a);
    EXPECT_EQ(alive, g_alive);
}

struct CPlainObject final : public common::CUnknownImpl<CPlainObject, IPersist> {
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
};

TEST(ClassFactory, AggregationIsPassedOnOnlyWhereAllowed)
{
    COuter outer;
    IUnknown* outerUnknown = static_cast<IUnknown*>(&outer);
    common::CClassFactory<CPlainObject> refusing;
    common::CClassFactory<CInnerObject, common::EAggregation::Allowed> allowing;

    IUnknown* object = outerUnknown;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, refusing.CreateInstance(outerUnknown, IID_IUnknown, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    ASSERT_EQ(S_OK, refusing.CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&object)));
    object->Release();

    const int alive = g_alive;
    ASSERT_EQ(S_OK, allowing.CreateInstance(outerUnknown, IID_IUnknown, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(alive + 1, g_alive);
    EXPECT_NE(outerUnknown, object);
    object->Release();
    EXPECT_EQ(alive, g_alive);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, allowing.CreateInstance(outerUnknown, IID_IPersist, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    ASSERT_EQ(S_OK, allowing.CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&object)));
    object->Release();
    EXPECT_EQ(alive, g_alive);
}

} // namespace
