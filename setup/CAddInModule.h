#pragma once
// The one module object of KOLVEN32: the module lock count, the module's
// critical section, the class objects of its COM classes (made on first
// request, kept for the module's life), termination callbacks and the cached
// Global Interface Table through which provider objects keep the database
// server's interface pointers across apartments.
#include "Platform.h"

#include <string>
#include <vector>

namespace setup {

extern const CLSID kClsidConnect;
extern const CLSID kClsidProvPropPage;
extern const GUID kLibidKolven32;

class CAddInModule {
public:
    using TermFn = void (*)(void* context);

    CAddInModule();
    ~CAddInModule();
    CAddInModule(const CAddInModule&) = delete;
    CAddInModule& operator=(const CAddInModule&) = delete;

    // False when the critical section could not be created; the library then
    // refuses to load.
    bool IsInitialised() const { return m_initialised; }

    long Lock();
    long Unlock();
    long GetLockCount() const { return m_lockCount; }

    void SetInstance(HINSTANCE instance) { m_instance = instance; }
    HINSTANCE GetInstance() const { return m_instance; }
    const GUID& GetLibid() const { return kLibidKolven32; }

    HRESULT CanUnloadNow() const { return m_lockCount == 0 ? S_OK : S_FALSE; }
    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

    // Both registrations run under the system default locale and give the
    // caller's thread locale back on every path. They throw nothing: an
    // exhausted heap is E_OUTOFMEMORY, anything else E_UNEXPECTED.
    HRESULT RegisterServer() noexcept;
    HRESULT UnregisterServer() noexcept;

    // The module's interface table with a new reference, made on first use.
    HRESULT GetGlobalInterfaceTable(IGlobalInterfaceTable** git);

    // Run, most recent first, when the module ends.
    HRESULT AddTermFunc(TermFn fn, void* context);

private:
    struct TermEntry {
        TermFn fn;
        void* context;
    };

    std::wstring ModulePath() const;
    HRESULT RegisterClasses(bool unregister);
    HRESULT RegisterTypeLibrary(bool unregister);

    volatile LONG m_lockCount = 0;
    CRITICAL_SECTION m_lock;
    bool m_initialised = false;
    HINSTANCE m_instance = nullptr;
    std::vector<TermEntry> m_termFuncs;
    IGlobalInterfaceTable* m_git = nullptr;
    // The class objects of Connect and ProvPropPage, in the object map's order.
    IClassFactory* m_factories[2] = {};
};

// The library's module object.
CAddInModule& Module();

} // namespace setup
