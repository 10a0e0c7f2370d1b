#include "Platform.h"
#include "CAddInModule.h"

#include "CUnknownImpl.h"
#include "testing/FailingAllocations.h"

#include <gtest/gtest.h>

namespace {

using setup::CAddInModule;

// Any object built on the common COM base; it takes the module lock for its
// lifetime as every provider object does.
class CLockedObject final : public common::CUnknownImpl<CLockedObject, IPersist> {
public:
    static HRESULT Create(IPersist** out) { return CreateInstance(IID_IPersist, reinterpret_cast<void**>(out)); }
    STDMETHODIMP GetClassID(CLSID* id) override
    {
        *id = CLSID_NULL;
        return S_OK;
    }

private:
    friend class common::CUnknownImpl<CLockedObject, IPersist>;
    CLockedObject() = default;
    ~CLockedObject() override = default;
};

TEST(CAddInModuleTest, CanUnloadFollowsTheLockCount)
{
    CAddInModule module;
    ASSERT_TRUE(module.IsInitialised());
    EXPECT_EQ(S_OK, module.CanUnloadNow());
    EXPECT_EQ(1, module.Lock());
    EXPECT_EQ(2, module.Lock());
    EXPECT_EQ(S_FALSE, module.CanUnloadNow());
    EXPECT_EQ(1, module.Unlock());
    EXPECT_EQ(S_FALSE, module.CanUnloadNow());
    EXPECT_EQ(0, module.Unlock());
    EXPECT_EQ(S_OK, module.CanUnloadNow());
}

TEST(CAddInModuleTest, ObjectsHoldTheLibraryModuleWhileTheyLive)
{
    CAddInModule& module = setup::Module();
    long before = module.GetLockCount();
    ASSERT_EQ(0, before);
    ComPtr<IPersist> first;
    ComPtr<IPersist> second;
    ASSERT_EQ(S_OK, CLockedObject::Create(&first));
    ASSERT_EQ(S_OK, CLockedObject::Create(&second));
    EXPECT_EQ(2, module.GetLockCount());
    EXPECT_EQ(S_FALSE, module.CanUnloadNow());
    first.Reset();
    EXPECT_EQ(S_FALSE, module.CanUnloadNow());
    second.Reset();
    EXPECT_EQ(S_OK, module.CanUnloadNow());
}

TEST(CAddInModuleTest, ClassObjectsAreMadeOnceAndKeepTheirClasssAggregationRule)
{
    CAddInModule& module = setup::Module();
    ComPtr<IClassFactory> connect;
    ComPtr<IClassFactory> again;
    ASSERT_EQ(S_OK, module.GetClassObject(setup::kClsidConnect, IID_IClassFactory,
                                          reinterpret_cast<void**>(connect.GetAddressOf())));
    ASSERT_EQ(S_OK, module.GetClassObject(setup::kClsidConnect, IID_IUnknown, reinterpret_cast<void**>(again.GetAddressOf())));
    EXPECT_EQ(connect.Get(), again.Get());

    // The add-in is never aggregated.
    ComPtr<IPersist> outer;
    ASSERT_EQ(S_OK, CLockedObject::Create(&outer));
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, connect->CreateInstance(outer.Get(), IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    outer.Reset();

    // An add-in object and a factory lock each hold the module.
    ASSERT_EQ(S_OK, module.CanUnloadNow());
    ComPtr<IUnknown> addIn;
    ASSERT_EQ(S_OK, connect->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(addIn.GetAddressOf())));
    EXPECT_EQ(S_FALSE, module.CanUnloadNow());
    addIn.Reset();
    EXPECT_EQ(S_OK, module.CanUnloadNow());
    EXPECT_EQ(S_OK, connect->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, module.CanUnloadNow());
    EXPECT_EQ(S_OK, connect->LockServer(FALSE));
    EXPECT_EQ(S_OK, module.CanUnloadNow());

    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, module.GetClassObject(CLSID_StdGlobalInterfaceTable, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    for (const CLSID* clsid : {&setup::kClsidConnect, &setup::kClsidProvPropPage, &CLSID_StdGlobalInterfaceTable})
        EXPECT_EQ(E_POINTER, module.GetClassObject(*clsid, IID_IClassFactory, nullptr));
}

TEST(CAddInModuleTest, InterfaceTableIsMadeOnceAndSharedWithNewReferences)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        CAddInModule module;
        EXPECT_EQ(E_POINTER, module.GetGlobalInterfaceTable(nullptr));
        ComPtr<IGlobalInterfaceTable> first;
        ComPtr<IGlobalInterfaceTable> second;
        ASSERT_EQ(S_OK, module.GetGlobalInterfaceTable(&first));
        ASSERT_EQ(S_OK, module.GetGlobalInterfaceTable(&second));
        ASSERT_NE(nullptr, first.Get());
        EXPECT_EQ(first.Get(), second.Get());

        // A pointer registered through one reference comes back through the other.
        ComPtr<IPersist> object;
        ASSERT_EQ(S_OK, CLockedObject::Create(&object));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, first->RegisterInterfaceInGlobal(object.Get(), IID_IPersist, &cookie));
        ComPtr<IPersist> back;
        EXPECT_EQ(S_OK, second->GetInterfaceFromGlobal(cookie, IID_IPersist, reinterpret_cast<void**>(back.GetAddressOf())));
        EXPECT_EQ(object.Get(), back.Get());
        EXPECT_EQ(S_OK, first->RevokeInterfaceFromGlobal(cookie));
    }
    CoUninitialize();
}

struct TermRecord {
    int* order;
    int* next;
    int id;
};

void RecordTerm(void* context)
{
    auto* record = static_cast<TermRecord*>(context);
    record->order[(*record->next)++] = record->id;
}

TEST(CAddInModuleTest, TerminationCallbacksRunMostRecentFirstWhenTheModuleEnds)
{
    int order[2] = {0, 0};
    int next = 0;
    TermRecord first{order, &next, 1};
    TermRecord second{order, &next, 2};
    {
        CAddInModule module;
        EXPECT_EQ(E_INVALIDARG, module.AddTermFunc(nullptr, nullptr));
        ASSERT_EQ(S_OK, module.AddTermFunc(&RecordTerm, &first));
        ASSERT_EQ(S_OK, module.AddTermFunc(&RecordTerm, &second));
        EXPECT_EQ(0, next);
    }
    ASSERT_EQ(2, next);
    EXPECT_EQ(2, order[0]);
    EXPECT_EQ(1, order[1]);
}

TEST(CAddInModuleTest, RegistrationAnswersAnExhaustedHeapWithAFailureAndKeepsTheLocale)
{
    const struct {
        const char* what;
        HRESULT (CAddInModule::*call)();
    } cases[] = {
        {"register", &CAddInModule::RegisterServer},
        {"unregister", &CAddInModule::UnregisterServer},
    };
    const LCID locale = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CAddInModule module;
        const LCID saved = GetThreadLocale();
        ASSERT_TRUE(SetThreadLocale(locale));
        HRESULT hr = S_OK;
        bool escaped = false;
        try {
            testing_support::CFailingAllocations failing;
            hr = (module.*c.call)();
        } catch (...) {
            escaped = true;
        }
        const LCID after = GetThreadLocale();
        SetThreadLocale(saved);
        EXPECT_FALSE(escaped);
        EXPECT_EQ(E_OUTOFMEMORY, hr);
        EXPECT_EQ(locale, after);
    }
}

} // namespace
