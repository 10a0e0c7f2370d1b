#pragma once
// The process's Global Interface Table.
//
// On Windows this is the system's table. Wine 8's table leaks one reference
// on the server whenever a proxy registered in it is revoked (the table's
// strong marshal of the proxy is never released), so a server whose objects
// passed through the table never sees its last release and never exits. On
// Wine, CInterfaceTable stands in: it keeps the registered pointer itself,
// answers the registering thread with that pointer, and gives other
// apartments a proxy unmarshalled from a table-weak marshal, which takes no
// reference on the server that it does not give back.
#include "Platform.h"

#include <map>

namespace common {

// The process's one interface table, with a new reference.
HRESULT CreateGlobalInterfaceTable(IGlobalInterfaceTable** git);

class CInterfaceTable final : public IGlobalInterfaceTable {
public:
    static HRESULT Create(IGlobalInterfaceTable** git);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP RegisterInterfaceInGlobal(IUnknown* unknown, REFIID riid, DWORD* cookie) override;
    STDMETHODIMP RevokeInterfaceFromGlobal(DWORD cookie) override;
    STDMETHODIMP GetInterfaceFromGlobal(DWORD cookie, REFIID riid, void** ppv) override;

private:
    struct Entry {
        ComPtr<IUnknown> object; // the registered interface, as riid
        IID iid;
        ComPtr<IStream> weakMarshal;
        DWORD ownerThread;
    };

    CInterfaceTable();
    ~CInterfaceTable();

    volatile LONG m_refCount = 1;
    CRITICAL_SECTION m_lock;
    std::map<DWORD, Entry> m_entries;
    DWORD m_nextCookie = 0x100;
};

} // namespace common
