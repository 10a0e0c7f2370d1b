#include "Platform.h"
#include "objects/CEseStore.h"

#include <new>

HRESULT CEseStore::Create(CEseStore** store)
{
    *store = new (std::nothrow) CEseStore();
    return *store ? S_OK : E_OUTOFMEMORY;
}

CEseStore::~CEseStore()
{
    CStoreMapLock lock;
    m_context.Reset();
}

template <typename T>
static HRESULT NotYet(T** out)
{
    if (out)
        *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CEseStore::GetFolder(hyper, hyper, IEseFolder** ppFolder) { return NotYet(ppFolder); }
STDMETHODIMP CEseStore::GetFoldersTable(IEseTable** ppTable) { return NotYet(ppTable); }
STDMETHODIMP CEseStore::GetMailbox(hyper, IEseMailbox** ppMailbox) { return NotYet(ppMailbox); }
STDMETHODIMP CEseStore::GetMailboxesTable(ULONG, hyper*, signed char, IEseTable** ppTable) { return NotYet(ppTable); }
STDMETHODIMP CEseStore::GetNamedPropertiesTable(IEseTable** ppTable) { return NotYet(ppTable); }

// The record is declared by the contract but nothing fills it.
STDMETHODIMP CEseStore::GetStoreInfo(_SEseStoreInfo*) { return S_OK; }
