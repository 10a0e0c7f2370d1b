// A local COM server that serves every contract interface with known values
// and fails on request through the server's own error reporting, so that a
// client test can check what crosses the process boundary (values, rows,
// names, streams, error objects) without a database behind it.
#include "Platform.h"
#include "CClassFactory.h"
#include "CSupportErrorInfoFor.h"
#include "CUnknownImpl.h"
#include "ComErrors.h"
#include "ContractSamples.h"
#include "ContractTestIds.h"
#include "EseInterfaceTraits.h"
#include "ModuleLock.h"
#include "esedb/CFailedJbApiCallException.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using namespace contract_samples;

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

template <typename T>
T* CopyBlock(const T* source, size_t count)
{
    T* block = static_cast<T*>(CoTaskMemAlloc(sizeof(T) * (count ? count : 1)));
    if (count)
        std::memcpy(block, source, sizeof(T) * count);
    return block;
}

template <typename T, typename I>
HRESULT Make(I** out)
{
    return T::CreateInstance(__uuidof(I), reinterpret_cast<void**>(out));
}

class CTestTable final : public common::CUnknownImpl<CTestTable, IEseTable, common::CSupportErrorInfoFor<IEseTable>> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }
    // A table whose single row echoes ids (GetMailboxesTable).
    static HRESULT CreateEcho(const hyper* ids, ULONG count, signed char brief, IEseTable** out)
    {
        HRESULT hr = CreateInstance(IID_IEseTable, reinterpret_cast<void**>(out));
        if (SUCCEEDED(hr)) {
            auto* table = static_cast<CTestTable*>(*out);
            table->m_echo.assign(ids, ids + count);
            table->m_brief = brief;
            table->m_isEcho = true;
        }
        return hr;
    }

    STDMETHODIMP GetColumns(signed char all, ULONG* pTagCount, ULONG** ppTags) override
    {
        *pTagCount = all ? static_cast<ULONG>(m_columns.size()) : 0;
        *ppTags = *pTagCount ? CopyBlock(m_columns.data(), m_columns.size()) : nullptr;
        return S_OK;
    }
    STDMETHODIMP SetColumns(ULONG tagCount, ULONG* pTags) override
    {
        m_columns.assign(pTags, pTags + tagCount);
        return S_OK;
    }
    STDMETHODIMP GetRows(ULONG maxRowCount, signed char, ULONG* pActualRowCount, _SEseRow** ppRows) override
    {
        *pActualRowCount = 0;
        *ppRows = nullptr;
        if (maxRowCount == 0)
            return S_OK;
        if (m_isEcho) {
            auto* row = static_cast<_SEseRow*>(CoTaskMemAlloc(sizeof(_SEseRow)));
            row->m_valueCount = static_cast<ULONG>(m_echo.size()) + 1;
            row->m_p_values =
                static_cast<_SEsePropertyValue*>(CoTaskMemAlloc(sizeof(_SEsePropertyValue) * row->m_valueCount));
            std::memset(row->m_p_values, 0, sizeof(_SEsePropertyValue) * row->m_valueCount);
            for (size_t i = 0; i < m_echo.size(); ++i) {
                row->m_p_values[i].m_tag = 0x67640014;
                row->m_p_values[i].m_type = ESE_PT_INT64;
                row->m_p_values[i].m_value.m_i64 = m_echo[i];
            }
            row->m_p_values[m_echo.size()].m_tag = 0x0001000B;
            row->m_p_values[m_echo.size()].m_type = ESE_PT_BOOL;
            row->m_p_values[m_echo.size()].m_value.m_b = m_brief;
            *pActualRowCount = 1;
            *ppRows = row;
            return S_OK;
        }
        *ppRows = BuildRows(pActualRowCount);
        return S_OK;
    }

private:
    friend class common::CUnknownImpl<CTestTable, IEseTable, common::CSupportErrorInfoFor<IEseTable>>;
    CTestTable() = default;
    std::vector<ULONG> m_columns{0x67480014, 0x3001001F};
    std::vector<hyper> m_echo;
    signed char m_brief = 0;
    bool m_isEcho = false;
};

// The six IEseProperty methods, shared by the folder, message and mailbox.
template <typename Derived, typename I>
class CTestProperty : public common::CUnknownImpl<Derived, I, common::CSupportErrorInfoFor<I>> {
public:
    STDMETHODIMP GetPropertyTags(ULONG* pTagCount, ULONG** ppTags) override
    {
        static const ULONG tags[] = {0x3001001F, 0x67480014, 0x0E080003, 0x1000001F};
        *pTagCount = 4;
        *ppTags = CopyBlock(tags, 4);
        return S_OK;
    }
    // Without tags: the whole sample set. With tags: one error value per tag,
    // echoing the tags that arrived.
    STDMETHODIMP GetProperties(ULONG tagCount, ULONG* pTags, ULONG* pValueCount, _SEsePropertyValue** ppValues) override
    {
        if (tagCount == 0) {
            *ppValues = BuildValues(pValueCount);
            return S_OK;
        }
        auto* values = static_cast<_SEsePropertyValue*>(CoTaskMemAlloc(sizeof(_SEsePropertyValue) * tagCount));
        std::memset(values, 0, sizeof(_SEsePropertyValue) * tagCount);
        for (ULONG i = 0; i < tagCount; ++i) {
            values[i].m_tag = pTags[i];
            values[i].m_type = ESE_PT_ERROR;
            values[i].m_value.m_err.m_source = ESE_ERR_SRC_INT;
            values[i].m_value.m_err.m_code = static_cast<long>(i);
        }
        *pValueCount = tagCount;
        *ppValues = values;
        return S_OK;
    }
    // The raw bytes of a property: as many bytes as the tag's id says.
    STDMETHODIMP GetProperty(ULONG tag, ULONG* pCount, BYTE** ppValue) override
    {
        ULONG size = tag >> 16;
        *pCount = size;
        *ppValue = nullptr;
        if (size) {
            *ppValue = static_cast<BYTE*>(CoTaskMemAlloc(size));
            for (ULONG i = 0; i < size; ++i)
                (*ppValue)[i] = LargeStreamByte(i);
        }
        return S_OK;
    }
    STDMETHODIMP OpenProperty(ULONG, IStream** ppStream) override
    {
        *ppStream = nullptr;
        std::vector<BYTE> data(kLargeStreamBytes);
        for (ULONG i = 0; i < kLargeStreamBytes; ++i)
            data[i] = LargeStreamByte(i);
        HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, ppStream);
        if (FAILED(hr))
            return hr;
        ULONG written = 0;
        (*ppStream)->Write(data.data(), kLargeStreamBytes, &written);
        LARGE_INTEGER start = {};
        (*ppStream)->Seek(start, STREAM_SEEK_SET, nullptr);
        return S_OK;
    }
    STDMETHODIMP GetPropNamesFromTags(ULONG* pTagCount, ULONG** ppTags, GUID*, ULONG, ULONG* pPropNamesCount,
                                      _SEseNamedPropertyId** ppPropNames) override
    {
        // The tags must have arrived as sent: 0x8000 + i.
        for (ULONG i = 0; pTagCount && ppTags && *ppTags && i < *pTagCount; ++i) {
            if ((*ppTags)[i] != ((0x8000u + i) << 16 | 0x1F))
                return E_INVALIDARG;
        }
        *ppPropNames = BuildNamedIds(pPropNamesCount);
        return S_OK;
    }
    STDMETHODIMP GetTagsFromPropNames(ULONG propNamesCount, _SEseNamedPropertyId** ppPropNames, ULONG* pTagCount,
                                      ULONG** ppTags) override
    {
        *pTagCount = propNamesCount;
        *ppTags = static_cast<ULONG*>(CoTaskMemAlloc(sizeof(ULONG) * (propNamesCount ? propNamesCount : 1)));
        for (ULONG i = 0; i < propNamesCount; ++i)
            (*ppTags)[i] = TagForNamedId(ppPropNames ? ppPropNames[i] : nullptr);
        if (!propNamesCount) {
            CoTaskMemFree(*ppTags);
            *ppTags = nullptr;
        }
        return S_OK;
    }
};

class CTestMailbox final : public CTestProperty<CTestMailbox, IEseMailbox> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }

private:
    friend class common::CUnknownImpl<CTestMailbox, IEseMailbox, common::CSupportErrorInfoFor<IEseMailbox>>;
    CTestMailbox() = default;
};

class CTestMessage final : public CTestProperty<CTestMessage, IEseMessage> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }
    STDMETHODIMP GetAttachment(hyper, signed char, IEseMessage** ppAttachment) override
    {
        return Make<CTestMessage>(ppAttachment);
    }
    STDMETHODIMP GetAttachmentByNumber(ULONG number, signed char, IEseMessage** ppAttachment) override
    {
        *ppAttachment = nullptr;
        if (number > 0) {
            ReportEseError(IID_IEseMessage, kErrNotFound, kSrcNone, 0, L"attachment number=%u is not found", number);
            return ErrorCodeToHResult(kErrNotFound);
        }
        return Make<CTestMessage>(ppAttachment);
    }
    STDMETHODIMP GetAttachmentsTable(IEseTable** ppTable) override { return Make<CTestTable>(ppTable); }

private:
    friend class common::CUnknownImpl<CTestMessage, IEseMessage, common::CSupportErrorInfoFor<IEseMessage>>;
    CTestMessage() = default;
};

class CTestFolder final : public CTestProperty<CTestFolder, IEseFolder> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }
    STDMETHODIMP GetFolder(hyper, hyper, IEseFolder** ppFolder) override { return Make<CTestFolder>(ppFolder); }
    STDMETHODIMP GetMessage(hyper, IEseMessage** ppMessage) override { return Make<CTestMessage>(ppMessage); }
    STDMETHODIMP GetFoldersTable(IEseTable** ppTable) override { return Make<CTestTable>(ppTable); }
    STDMETHODIMP GetMessagesTable(IEseTable** ppTable) override { return Make<CTestTable>(ppTable); }

private:
    friend class common::CUnknownImpl<CTestFolder, IEseFolder, common::CSupportErrorInfoFor<IEseFolder>>;
    CTestFolder() = default;
};

class CTestStore final : public common::CUnknownImpl<CTestStore, IEseStore, common::CSupportErrorInfoFor<IEseStore>> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }

    // Negative folder ids select a failure (see ContractTestIds.h).
    STDMETHODIMP GetFolder(hyper fid, hyper, IEseFolder** ppFolder) override
    {
        *ppFolder = nullptr;
        if (fid == kFailCreate) {
            ReportEseError(IID_IEseStore, kErrCreateObject, kSrcHResult, E_OUTOFMEMORY,
                           L"cannot create instance of the ese folder class");
            return E_OUTOFMEMORY;
        }
        return ServeComCall(IID_IEseStore, [&]() -> HRESULT {
            switch (fid) {
            case kFailObjectNotFound:
                NJbFramework::CheckJbResult(NJbFramework::kJetOpenTable, -1305);
                break;
            case kFailOtherEseError:
                NJbFramework::CheckJbResult(NJbFramework::kJetSeek, -1032);
                break;
            case kFailNoMessage:
                throw CException();
            case kFailForeignLog:
                ThrowServerError(kErrForeignLog, L"Foreign log file \"%s\" is found at \"%s\". Expected base name is \"%s\".",
                                 L"E01.log", L"C:\\logs", L"E00");
            case kFailHugeText: {
                std::wstring text(200000, L'x');
                ThrowServerError(kErrColumnMissing, L"%s", text.c_str());
            }
            case kEseWarning:
                NJbFramework::CheckJbResult(NJbFramework::kJetRetrieveColumn, 1004);
                break;
            default:
                break;
            }
            return Make<CTestFolder>(ppFolder);
        });
    }
    STDMETHODIMP GetFoldersTable(IEseTable** ppTable) override { return Make<CTestTable>(ppTable); }
    STDMETHODIMP GetMailbox(hyper, IEseMailbox** ppMailbox) override { return Make<CTestMailbox>(ppMailbox); }
    STDMETHODIMP GetMailboxesTable(ULONG count, hyper* pIds, signed char brief, IEseTable** ppTable) override
    {
        return CTestTable::CreateEcho(pIds, pIds ? count : 0, brief, ppTable);
    }
    STDMETHODIMP GetNamedPropertiesTable(IEseTable** ppTable) override { return Make<CTestTable>(ppTable); }
    STDMETHODIMP GetStoreInfo(_SEseStoreInfo* pStoreInfo) override
    {
        FillStoreInfo(pStoreInfo);
        return S_OK;
    }

private:
    friend class common::CUnknownImpl<CTestStore, IEseStore, common::CSupportErrorInfoFor<IEseStore>>;
    CTestStore() = default;
};

bool SameText(const wchar_t* a, const wchar_t* b) { return (!a || !b) ? a == b : std::wcscmp(a, b) == 0; }

class CTestInstance final
    : public common::CUnknownImpl<CTestInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }
    STDMETHODIMP Init(ULONG pageSize, LPWSTR pLogPath, LPWSTR pSysPath) override
    {
        return pageSize == 4096 && SameText(pLogPath, L"C:\\logs") && !pSysPath ? S_OK : E_INVALIDARG;
    }
    // S_OK when the map arrived as the client test sends it.
    STDMETHODIMP PlayLogFiles(LPWSTR pLogPath, ULONG count, _SEseRstMap* pRstMap) override
    {
        if (!SameText(pLogPath, L"") || count != 2 || !pRstMap)
            return E_INVALIDARG;
        bool same = SameText(pRstMap[0].szDatabaseName, L"priv1.edb") &&
                    SameText(pRstMap[0].szNewDatabaseName, L"D:\\restore\\priv1.edb") &&
                    SameText(pRstMap[1].szDatabaseName, nullptr) && SameText(pRstMap[1].szNewDatabaseName, L"");
        return same ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP OpenStore(LPWSTR, LPWSTR, IEseStore** ppStore) override { return Make<CTestStore>(ppStore); }

private:
    friend class common::CUnknownImpl<CTestInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>>;
    CTestInstance() = default;
};

common::CClassFactory<CTestInstance> g_factory;

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    g_mainThread = GetCurrentThreadId();
    common::SetModuleLockHandlers(&Lock, &Unlock);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_ContractTestServer, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                       &cookie);
    if (SUCCEEDED(hr)) {
        // A client may reach the class object between the last release and
        // the revoke: objects made then are served until they go too, so that
        // the next test never meets a server that is ending.
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
