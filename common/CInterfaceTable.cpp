#include "Platform.h"
#include "CInterfaceTable.h"
#include "WineHost.h"

#include <new>

namespace common {

HRESULT CreateGlobalInterfaceTable(IGlobalInterfaceTable** git)
{
    if (!git)
        return E_POINTER;
    *git = nullptr;
    if (IsRunningOnWine()) {
        // One table for the process, as the system's is: a cookie registered
        // through one reference must be found through any other.
        static IGlobalInterfaceTable* const table = [] {
            IGlobalInterfaceTable* created = nullptr;
            CInterfaceTable::Create(&created);
            return created;
        }();
        if (!table)
            return E_OUTOFMEMORY;
        table->AddRef();
        *git = table;
        return S_OK;
    }
    return CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IGlobalInterfaceTable, reinterpret_cast<void**>(git));
}

HRESULT CInterfaceTable::Create(IGlobalInterfaceTable** git)
{
    if (!git)
        return E_POINTER;
    *git = new (std::nothrow) CInterfaceTable();
    return *git ? S_OK : E_OUTOFMEMORY;
}

CInterfaceTable::CInterfaceTable() { InitializeCriticalSection(&m_lock); }

CInterfaceTable::~CInterfaceTable()
{
    for (auto& [cookie, entry] : m_entries) {
        if (entry.weakMarshal) {
            LARGE_INTEGER start = {};
            entry.weakMarshal->Seek(start, STREAM_SEEK_SET, nullptr);
            CoReleaseMarshalData(entry.weakMarshal.Get());
        }
    }
    DeleteCriticalSection(&m_lock);
}

STDMETHODIMP CInterfaceTable::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IGlobalInterfaceTable)) {
        *ppv = static_cast<IGlobalInterfaceTable*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CInterfaceTable::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refCount)); }

STDMETHODIMP_(ULONG) CInterfaceTable::Release()
{
    LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CInterfaceTable::RegisterInterfaceInGlobal(IUnknown* unknown, REFIID riid, DWORD* cookie)
{
    if (!cookie)
        return E_INVALIDARG;
    *cookie = 0;
    if (!unknown)
        return E_INVALIDARG;

    Entry entry;
    HRESULT hr = unknown->QueryInterface(riid, reinterpret_cast<void**>(entry.object.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    entry.iid = riid;
    entry.ownerThread = GetCurrentThreadId();
    hr = CreateStreamOnHGlobal(nullptr, TRUE, &entry.weakMarshal);
    if (SUCCEEDED(hr))
        hr = CoMarshalInterface(entry.weakMarshal.Get(), riid, entry.object.Get(), MSHCTX_INPROC, nullptr,
                                MSHLFLAGS_TABLEWEAK);
    if (FAILED(hr))
        return hr;

    EnterCriticalSection(&m_lock);
    DWORD assigned = m_nextCookie++;
    m_entries.emplace(assigned, std::move(entry));
    LeaveCriticalSection(&m_lock);
    *cookie = assigned;
    return S_OK;
}

STDMETHODIMP CInterfaceTable::RevokeInterfaceFromGlobal(DWORD cookie)
{
    EnterCriticalSection(&m_lock);
    auto found = m_entries.find(cookie);
    if (found == m_entries.end()) {
        LeaveCriticalSection(&m_lock);
        return E_INVALIDARG;
    }
    Entry entry = std::move(found->second);
    m_entries.erase(found);
    LeaveCriticalSection(&m_lock);

    // A table-weak marshal of a proxy holds no reference on the server, so
    // there is nothing to give back for it; for an object of this process the
    // call drops the stub's weak entry.
    LARGE_INTEGER start = {};
    entry.weakMarshal->Seek(start, STREAM_SEEK_SET, nullptr);
    CoReleaseMarshalData(entry.weakMarshal.Get());
    return S_OK;
}

STDMETHODIMP CInterfaceTable::GetInterfaceFromGlobal(DWORD cookie, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    EnterCriticalSection(&m_lock);
    auto found = m_entries.find(cookie);
    if (found == m_entries.end()) {
        LeaveCriticalSection(&m_lock);
        return E_INVALIDARG;
    }
    HRESULT hr;
    if (found->second.ownerThread == GetCurrentThreadId()) {
        ComPtr<IUnknown> object = found->second.object;
        LeaveCriticalSection(&m_lock);
        return object->QueryInterface(riid, ppv);
    }
    ComPtr<IStream> copy;
    LARGE_INTEGER start = {};
    found->second.weakMarshal->Seek(start, STREAM_SEEK_SET, nullptr);
    hr = found->second.weakMarshal->Clone(&copy);
    LeaveCriticalSection(&m_lock);
    if (FAILED(hr))
        return hr;
    return CoUnmarshalInterface(copy.Get(), riid, ppv);
}

} // namespace common
