// The row-replay server (see RowReplay.h). Its objects wrap the database
// server's own objects, made in this process: the first GetRows of a table
// reads the rows several times in process, hands out one copy and keeps the
// others for the following calls, which then do no work of their own but
// hand over a row buffer for the stub to marshal. OpenProperty reads the
// whole property in process into a stream on global memory.
#include "Platform.h"
#include "CClassFactory.h"
#include "CSupportErrorInfoFor.h"
#include "CUnknownImpl.h"
#include "EseInterfaceTraits.h"
#include "EseValueMemory.h"
#include "ModuleLock.h"
#include "RowReplay.h"
#include "objects/CEseInstance.h"

#include <deque>
#include <vector>

namespace {

DWORD g_mainThread;
volatile LONG g_locks;

long Lock() { return InterlockedIncrement(&g_locks); }
long Unlock()
{
    long count = InterlockedDecrement(&g_locks);
    if (count == 0)
        PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
    return count;
}

// Row buffers read ahead; the first GetRows reads this many.
constexpr int kPreparedReads = 4;

// Makes the inner object through `make`, then wraps it.
template <typename T, typename I, typename Inner, typename Make>
HRESULT Wrap(Make&& make, I** out)
{
    *out = nullptr;
    ComPtr<Inner> inner;
    HRESULT hr = make(inner.GetAddressOf());
    if (FAILED(hr))
        return hr;
    return T::Create(inner.Get(), out);
}

class CReplayTable final
    : public common::CUnknownImpl<CReplayTable, IEseTable, common::CSupportErrorInfoFor<IEseTable>> {
public:
    static HRESULT Create(IEseTable* inner, IEseTable** out)
    {
        HRESULT hr = CreateInstance(IID_IEseTable, reinterpret_cast<void**>(out));
        if (SUCCEEDED(hr))
            static_cast<CReplayTable*>(*out)->m_inner = inner;
        return hr;
    }
    STDMETHODIMP GetColumns(signed char all, ULONG* pTagCount, ULONG** ppTags) override
    {
        return m_inner->GetColumns(all, pTagCount, ppTags);
    }
    STDMETHODIMP SetColumns(ULONG tagCount, ULONG* pTags) override
    {
        Drop();
        return m_inner->SetColumns(tagCount, pTags);
    }
    STDMETHODIMP GetRows(ULONG maxRowCount, signed char noAdvance, ULONG* pActualRowCount, _SEseRow** ppRows) override
    {
        if (m_prepared.empty()) {
            for (int i = 0; i < kPreparedReads; ++i) {
                SRows rows;
                HRESULT hr = m_inner->GetRows(maxRowCount, 1, &rows.count, &rows.rows);
                if (FAILED(hr))
                    return hr;
                m_prepared.push_back(rows);
            }
        }
        (void)noAdvance;
        SRows next = m_prepared.front();
        m_prepared.pop_front();
        *pActualRowCount = next.count;
        *ppRows = next.rows;
        return S_OK;
    }

private:
    friend class common::CUnknownImpl<CReplayTable, IEseTable, common::CSupportErrorInfoFor<IEseTable>>;
    CReplayTable() = default;
    ~CReplayTable() override { Drop(); }
    void Drop()
    {
        for (SRows& rows : m_prepared)
            FreeEseRows(rows.rows, rows.count);
        m_prepared.clear();
    }

    struct SRows {
        ULONG count = 0;
        _SEseRow* rows = nullptr;
    };
    ComPtr<IEseTable> m_inner;
    std::deque<SRows> m_prepared;
};

// The IEseProperty half: only OpenProperty is served.
template <typename Derived, typename I>
class CReplayProperty : public common::CUnknownImpl<Derived, I, common::CSupportErrorInfoFor<I>> {
public:
    STDMETHODIMP GetPropertyTags(ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperties(ULONG, ULONG*, ULONG*, _SEsePropertyValue**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperty(ULONG, ULONG*, BYTE**) override { return E_NOTIMPL; }
    STDMETHODIMP OpenProperty(ULONG tag, IStream** ppStream) override
    {
        *ppStream = nullptr;
        ComPtr<IStream> stored;
        HRESULT hr = m_inner->OpenProperty(tag, &stored);
        if (FAILED(hr))
            return hr;
        STATSTG stat = {};
        hr = stored->Stat(&stat, STATFLAG_NONAME);
        ComPtr<IStream> memory;
        if (SUCCEEDED(hr))
            hr = CreateStreamOnHGlobal(nullptr, TRUE, &memory);
        if (SUCCEEDED(hr)) {
            ULARGE_INTEGER size = stat.cbSize;
            hr = memory->SetSize(size);
        }
        if (SUCCEEDED(hr))
            hr = stored->CopyTo(memory.Get(), stat.cbSize, nullptr, nullptr);
        if (FAILED(hr))
            return hr;
        LARGE_INTEGER start = {};
        memory->Seek(start, STREAM_SEEK_SET, nullptr);
        *ppStream = memory.Detach();
        return S_OK;
    }
    STDMETHODIMP GetPropNamesFromTags(ULONG*, ULONG**, GUID*, ULONG, ULONG*, _SEseNamedPropertyId**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTagsFromPropNames(ULONG, _SEseNamedPropertyId**, ULONG*, ULONG**) override { return E_NOTIMPL; }

protected:
    ComPtr<I> m_inner;
};

class CReplayMessage final : public CReplayProperty<CReplayMessage, IEseMessage> {
public:
    static HRESULT Create(IEseMessage* inner, IEseMessage** out)
    {
        HRESULT hr = CreateInstance(IID_IEseMessage, reinterpret_cast<void**>(out));
        if (SUCCEEDED(hr))
            static_cast<CReplayMessage*>(*out)->m_inner = inner;
        return hr;
    }
    STDMETHODIMP GetAttachment(hyper, signed char, IEseMessage**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttachmentByNumber(ULONG, signed char, IEseMessage**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttachmentsTable(IEseTable**) override { return E_NOTIMPL; }

private:
    friend class common::CUnknownImpl<CReplayMessage, IEseMessage, common::CSupportErrorInfoFor<IEseMessage>>;
    CReplayMessage() = default;
};

class CReplayFolder final : public CReplayProperty<CReplayFolder, IEseFolder> {
public:
    static HRESULT Create(IEseFolder* inner, IEseFolder** out)
    {
        HRESULT hr = CreateInstance(IID_IEseFolder, reinterpret_cast<void**>(out));
        if (SUCCEEDED(hr))
            static_cast<CReplayFolder*>(*out)->m_inner = inner;
        return hr;
    }
    STDMETHODIMP GetFolder(hyper, hyper, IEseFolder**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMessage(hyper mid, IEseMessage** ppMessage) override
    {
        return Wrap<CReplayMessage, IEseMessage, IEseMessage>(
            [&](IEseMessage** inner) { return m_inner->GetMessage(mid, inner); }, ppMessage);
    }
    STDMETHODIMP GetFoldersTable(IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMessagesTable(IEseTable** ppTable) override
    {
        return Wrap<CReplayTable, IEseTable, IEseTable>(
            [&](IEseTable** inner) { return m_inner->GetMessagesTable(inner); }, ppTable);
    }

private:
    friend class common::CUnknownImpl<CReplayFolder, IEseFolder, common::CSupportErrorInfoFor<IEseFolder>>;
    CReplayFolder() = default;
};

class CReplayStore final
    : public common::CUnknownImpl<CReplayStore, IEseStore, common::CSupportErrorInfoFor<IEseStore>> {
public:
    static HRESULT Create(IEseStore* inner, IEseStore** out)
    {
        HRESULT hr = CreateInstance(IID_IEseStore, reinterpret_cast<void**>(out));
        if (SUCCEEDED(hr))
            static_cast<CReplayStore*>(*out)->m_inner = inner;
        return hr;
    }
    STDMETHODIMP GetFolder(hyper fid, hyper idRoot, IEseFolder** ppFolder) override
    {
        return Wrap<CReplayFolder, IEseFolder, IEseFolder>(
            [&](IEseFolder** inner) { return m_inner->GetFolder(fid, idRoot, inner); }, ppFolder);
    }
    STDMETHODIMP GetFoldersTable(IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMailbox(hyper, IEseMailbox**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMailboxesTable(ULONG, hyper*, signed char, IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetNamedPropertiesTable(IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetStoreInfo(_SEseStoreInfo*) override { return E_NOTIMPL; }

private:
    friend class common::CUnknownImpl<CReplayStore, IEseStore, common::CSupportErrorInfoFor<IEseStore>>;
    CReplayStore() = default;
    ComPtr<IEseStore> m_inner;
};

class CReplayInstance final
    : public common::CUnknownImpl<CReplayInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }
    STDMETHODIMP Init(ULONG pageSize, LPWSTR pLogPath, LPWSTR pSysPath) override
    {
        m_inner.Reset();
        HRESULT hr = CEseInstance::CreateInstance(IID_IEseInstance, reinterpret_cast<void**>(m_inner.GetAddressOf()));
        return SUCCEEDED(hr) ? m_inner->Init(pageSize, pLogPath, pSysPath) : hr;
    }
    STDMETHODIMP PlayLogFiles(LPWSTR, ULONG, _SEseRstMap*) override { return E_NOTIMPL; }
    STDMETHODIMP OpenStore(LPWSTR pEdbPath, LPWSTR pLogPath, IEseStore** ppStore) override
    {
        *ppStore = nullptr;
        if (!m_inner)
            return E_UNEXPECTED;
        return Wrap<CReplayStore, IEseStore, IEseStore>(
            [&](IEseStore** inner) { return m_inner->OpenStore(pEdbPath, pLogPath, inner); }, ppStore);
    }

private:
    friend class common::CUnknownImpl<CReplayInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>>;
    CReplayInstance() = default;
    ComPtr<IEseInstance> m_inner;
};

common::CClassFactory<CReplayInstance> g_factory;

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    g_mainThread = GetCurrentThreadId();
    common::SetModuleLockHandlers(&Lock, &Unlock);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    DWORD cookie = 0;
    HRESULT hr =
        CoRegisterClassObject(CLSID_RowReplayServer, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr)) {
        for (;;) {
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0)
                DispatchMessageW(&msg);
            if (cookie) {
                CoRevokeClassObject(cookie);
                cookie = 0;
            }
            if (InterlockedCompareExchange(&g_locks, 0, 0) == 0)
                break;
        }
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
