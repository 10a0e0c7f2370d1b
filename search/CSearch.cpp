#include "SearchPlatform.h"
#include "CSearch.h"

#include "CException.h"
#include "CLocalServerActivation.h"
#include "CMsgStore.h"
#include "CStoreConfig.h"
#include "CTable.h"
#include "ComErrorRaise.h"
#include "DisplayRecipients.h"
#include "EseValueConversion.h"
#include "EseValueMemory.h"
#include "MailboxSelection.h"
#include "MessageBodies.h"
#include "MapiPtr.h"
#include "MimeMessage.h"
#include "ProviderGlobals.h"
#include "ProviderLog.h"
#include "ProviderMemory.h"
#include "SearchColumns.h"
#include "SearchMessages.h"
#include "ServerInterfaces.h"
#include "ServerResults.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

// Where the engine's own failures say they happened, for the log.
constexpr wchar_t kSearchSource[] = L".\\Search";
enum ESearchLine : int {
    kLineTranslation = 112,
    kLineInterfaceTable = 144,
    kLineStoreInterface = 146,
    kLineWorkingTable = 300,
    kLineRowRtfStream = 349,
    kLineRowHtmlStream = 372,
    kLineLargeRtfStream = 405,
    kLineLargeHtmlStream = 422,
    kLinePlainStat = 441,
    kLinePlainRead = 447,
    kLinePlainCopy = 453,
    kLineMimeMessage = 466,
    kLineTextStat = 482,
    kLineTextHandle = 485,
    kLineTextCopy = 494,
    kLineInstanceKey = 521,
    kLineEntryId = 534,
    kLineMappingSignature = 546,
    kLineParentEntryId = 554,
    kLineRecordKey = 562,
    kLineLongTermId = 570,
    kLineWrappedStoreIdCopy = 593,
    kLineStoreRecordKey = 599,
    kLineParentDisplay = 614,
    kLineWorkingInsert = 675,
    kLineRestriction = 812,
    kLineResultInsert = 838,
};

constexpr ULONG kAllRows = 0x7FFFFFFF;
constexpr ULONG kBatchRows = 1000;
constexpr ULONGLONG kMemoryBound = 0x8000000;
constexpr HRESULT kNoSuchTable = 0x80070002;
constexpr HRESULT kTooLarge = E_OUTOFMEMORY;
constexpr ULONG kPrHiddenMarker = 0x36410003;
constexpr ULONG kPrMessageRecipients = 0x0E12000D;

// The 17 folder columns of a child-folder walk; the first two identify it.
const ULONG kFolderColumns[] = {kPrFid,     kPrMailboxRootFid, 0x3004001F, 0x3001001F, 0x36010003, 0x36020003,
                                0x36030003, 0x3613001F,        0x10F4000B, 0x36DA0102, 0x36DE0003, 0x672D0003,
                                0x67310003, 0x67300014,        0x6732001F, 0x6733001F, 0x360A000B};
constexpr ULONG kFolderColumnCount = sizeof(kFolderColumns) / sizeof(kFolderColumns[0]);

[[noreturn]] void ThrowSearchError(int line, HRESULT hr)
{
    CException error;
    error.Format(L"Error in file: %s, line: %d, code:0x%08X", kSearchSource, line, static_cast<unsigned>(hr));
    throw error;
}

const wchar_t* TextOf(const CException& error)
{
    return error.GetText() ? error.GetText() : L"";
}

// A value the server left out of its row because it is too large (it is to
// be read as a stream).
bool TooLarge(const SPropValue& value)
{
    return PROP_TYPE(value.ulPropTag) == PT_ERROR && value.Value.err == kTooLarge;
}

bool TooLarge(const _SEsePropertyValue& value)
{
    if (PROP_TYPE(value.m_tag) != PT_ERROR)
        return false;
    const LONG code = value.m_type == ESE_PT_ERROR ? value.m_value.m_err.m_code : value.m_value.m_i32;
    return code == kTooLarge;
}

// The 8 bytes of an id with its two 32-bit halves exchanged.
void InstanceKeyOf(LONGLONG id, BYTE key[8])
{
    const ULONGLONG value = static_cast<ULONGLONG>(id);
    const ULONG low = static_cast<ULONG>(value);
    const ULONG high = static_cast<ULONG>(value >> 32);
    std::memcpy(key, &high, 4);
    std::memcpy(key + 4, &low, 4);
}

// A copy of bytes chained to parent, as the value of slot; a failing
// allocation is the engine's failure at line.
void SetBinary(SPropValue& slot, ULONG tag, const void* bytes, ULONG cb, LPVOID parent, int line)
{
    LPVOID copy = nullptr;
    HRESULT hr = ProviderAllocateMore(cb ? cb : 1, parent, &copy);
    if (FAILED(hr))
        ThrowSearchError(line, hr);
    if (cb)
        std::memcpy(copy, bytes, cb);
    slot.ulPropTag = tag;
    slot.dwAlignPad = 0;
    slot.Value.bin.cb = cb;
    slot.Value.bin.lpb = static_cast<LPBYTE>(copy);
}

// Text of units UTF-16 units into the body slot, terminated.
void SetBodyText(SPropValue& slot, const void* text, size_t bytes, LPVOID parent, int line)
{
    const size_t units = bytes / sizeof(wchar_t);
    if (units > 0x3FFFFFF0)
        ThrowSearchError(line, MAPI_E_NOT_ENOUGH_MEMORY);
    LPVOID copy = nullptr;
    HRESULT hr = ProviderAllocateMore(static_cast<ULONG>(units * sizeof(wchar_t) + sizeof(wchar_t)), parent, &copy);
    if (FAILED(hr))
        ThrowSearchError(line, hr);
    wchar_t* out = static_cast<wchar_t*>(copy);
    if (units)
        std::memcpy(out, text, units * sizeof(wchar_t));
    out[units] = L'\0';
    slot.ulPropTag = PR_BODY_W;
    slot.dwAlignPad = 0;
    slot.Value.lpszW = out;
}

// A body an older client wrote in the ANSI code page reaches us as UTF-16
// units of its bytes; it is searched as the text it is, as the message
// object shows it. False when the bytes are Unicode text (nothing to do).
bool AnsiBodyAsText(const BYTE* bytes, size_t cb, std::wstring& text)
{
    if (cb > 0x7FFFFFFF || IsUnicodeText(bytes, static_cast<ULONG>(cb)))
        return false;
    text = WideFromAnsi(bytes, static_cast<ULONG>(cb));
    return true;
}

// An HGLOBAL stream holding bytes, at its start; what the converters read
// bodies held in the row from.
ComPtr<IStream> StreamOver(const void* bytes, ULONG cb, int line)
{
    ComPtr<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf());
    if (FAILED(hr))
        ThrowSearchError(line, hr);
    if (cb) {
        ULONG written = 0;
        hr = stream->Write(bytes, cb, &written);
        if (FAILED(hr))
            ThrowSearchError(line, hr);
    }
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

// The whole content of a stream, from where it stands.
std::vector<BYTE> ReadWhole(IStream* stream)
{
    STATSTG stat{};
    HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr))
        ThrowSearchError(kLinePlainStat, hr);
    if (stat.cbSize.QuadPart > 0x7FFFFFF0)
        ThrowSearchError(kLinePlainRead, MAPI_E_NOT_ENOUGH_MEMORY);
    std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    size_t total = 0;
    while (total < bytes.size()) {
        ULONG read = 0;
        hr = stream->Read(bytes.data() + total, static_cast<ULONG>(bytes.size() - total), &read);
        if (FAILED(hr))
            ThrowSearchError(kLinePlainRead, hr);
        if (read == 0)
            break;
        total += read;
    }
    bytes.resize(total);
    return bytes;
}

SMessageAllocators MessageAllocators()
{
    const SMapiMemory memory = ProviderMapiMemory();
    SMessageAllocators allocators;
    allocators.allocateBuffer = memory.allocateBuffer;
    allocators.allocateMore = memory.allocateMore;
    allocators.freeBuffer = memory.freeBuffer;
    allocators.malloc = memory.malloc ? memory.malloc : MAPIGetDefaultMalloc();
    return allocators;
}

bool Contains(const ULONG* begin, const ULONG* end, ULONG tag)
{
    return std::find(begin, end, tag) != end;
}

// Reads the values too large for the server's rows ahead of the rows that
// need them, on a thread of its own. Across processes each costs three calls
// that wait for the server (open the message, read the value, let the message
// go); read in turn they would wait for each other and for the conversions
// in between. A value read ahead is only handed out for the same message and
// tag; one that failed, or was never read, is read again by the caller as
// before, so errors are raised, and logged, where they always were.
class CLargeValuePrefetch {
public:
    using SItem = SSearchLargeRead;

    CLargeValuePrefetch(IEseFolder* folder, std::vector<SItem> items) : m_folder(folder), m_items(std::move(items))
    {
        InitializeCriticalSection(&m_lock);
        InitializeConditionVariable(&m_changed);
        m_results.resize(m_items.size());
        if (m_items.empty())
            return;
        m_folder->AddRef();
        m_thread = CreateThread(nullptr, 0, &CLargeValuePrefetch::ThreadProc, this, 0, nullptr);
        if (!m_thread) {
            m_folder->Release();
            m_items.clear();
        }
    }

    ~CLargeValuePrefetch()
    {
        if (m_thread) {
            EnterCriticalSection(&m_lock);
            m_stop = true;
            LeaveCriticalSection(&m_lock);
            WakeAllConditionVariable(&m_changed);
            WaitForSingleObject(m_thread, INFINITE);
            CloseHandle(m_thread);
            m_folder->Release();
        }
        DeleteCriticalSection(&m_lock);
    }

    CLargeValuePrefetch(const CLargeValuePrefetch&) = delete;
    CLargeValuePrefetch& operator=(const CLargeValuePrefetch&) = delete;

    // The value of the message read ahead, moved into bytes; false when it
    // was not (the caller reads it itself).
    bool Take(LONGLONG mid, ULONG tag, std::vector<BYTE>& bytes)
    {
        EnterCriticalSection(&m_lock);
        size_t at = m_consumed;
        while (at < m_items.size() && !(m_items[at].mid == mid && m_items[at].tag == tag))
            ++at;
        if (at == m_items.size()) {
            LeaveCriticalSection(&m_lock);
            return false;
        }
        // Values skipped over are no longer wanted; the window moves on.
        for (size_t i = m_consumed; i < at; ++i)
            Drop(m_results[i]);
        m_consumed = at;
        WakeAllConditionVariable(&m_changed);
        while (!m_results[at].done)
            SleepConditionVariableCS(&m_changed, &m_lock, INFINITE);
        const bool read = m_results[at].read;
        m_held -= m_results[at].bytes.size();
        if (read)
            bytes.swap(m_results[at].bytes);
        std::vector<BYTE>().swap(m_results[at].bytes);
        m_consumed = at + 1;
        LeaveCriticalSection(&m_lock);
        WakeAllConditionVariable(&m_changed);
        return read;
    }

private:
    // Values read ahead of the one the caller waits for, at most, and the
    // bytes they may hold (a few very large bodies stop the reading ahead;
    // the one waited for is always read).
    static constexpr size_t kAhead = 32;
    static constexpr size_t kAheadBytes = 16 * 1024 * 1024;

    struct SResult {
        bool done = false;
        bool read = false;
        std::vector<BYTE> bytes;
    };

    static DWORD WINAPI ThreadProc(LPVOID parameter)
    {
        static_cast<CLargeValuePrefetch*>(parameter)->Run();
        return 0;
    }

    void Run()
    {
        const HRESULT comInit = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (size_t i = 0; i < m_items.size(); ++i) {
            EnterCriticalSection(&m_lock);
            while (!m_stop && i > m_consumed && (i >= m_consumed + kAhead || m_held >= kAheadBytes))
                SleepConditionVariableCS(&m_changed, &m_lock, INFINITE);
            const bool stop = m_stop;
            const bool wanted = i >= m_consumed;
            LeaveCriticalSection(&m_lock);
            if (stop)
                break;
            SResult result;
            if (wanted)
                result.read = Read(m_items[i], result.bytes);
            result.done = true;
            EnterCriticalSection(&m_lock);
            if (i >= m_consumed || !wanted) {
                m_held += result.bytes.size();
                m_results[i] = std::move(result);
            }
            m_results[i].done = true;
            LeaveCriticalSection(&m_lock);
            WakeAllConditionVariable(&m_changed);
        }
        // Whatever was not read is read by the caller.
        EnterCriticalSection(&m_lock);
        for (SResult& result : m_results)
            result.done = true;
        LeaveCriticalSection(&m_lock);
        WakeAllConditionVariable(&m_changed);
        if (SUCCEEDED(comInit))
            CoUninitialize();
    }

    void Drop(SResult& result)
    {
        m_held -= result.bytes.size();
        std::vector<BYTE>().swap(result.bytes);
    }

    bool Read(const SItem& item, std::vector<BYTE>& bytes)
    {
        try {
            ComPtr<IEseMessage> message;
            if (FAILED(m_folder->GetMessage(item.mid, message.GetAddressOf())) || !message)
                return false;
            ULONG size = 0;
            BYTE* data = nullptr;
            const HRESULT hr = message->GetProperty(item.tag, &size, &data);
            if (SUCCEEDED(hr) && data)
                bytes.assign(data, data + size);
            CoTaskMemFree(data);
            return SUCCEEDED(hr);
        } catch (...) {
            return false;
        }
    }

    IEseFolder* m_folder;
    std::vector<SItem> m_items;
    std::vector<SResult> m_results;
    CRITICAL_SECTION m_lock;
    CONDITION_VARIABLE m_changed;
    size_t m_consumed = 0; // items before it are taken or passed over
    size_t m_held = 0;     // bytes read ahead and not yet taken
    bool m_stop = false;
    HANDLE m_thread = nullptr;
};

// Whether calls on the object cross to another apartment or process (the
// object is a proxy): only then is there waiting to overlap.
bool IsProxy(IUnknown* object)
{
    ComPtr<IClientSecurity> security;
    return SUCCEEDED(object->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(security.GetAddressOf()))) &&
           security;
}

} // namespace

// One message row on its way into the working table.
struct CSearch::SRowContext {
    IEseFolder* folder = nullptr;
    CLargeValuePrefetch* prefetch = nullptr;
    const _SEseRow* server = nullptr;
    LONGLONG mid = 0;
    LONGLONG fid = 0;
    CEntryId messageId;
    MapiPtr<SPropValue> values;
    // The server message, opened once for whichever derived column needs it,
    // and the message object over it.
    bool messageTried = false;
    ComPtr<IEseMessage> message;
    std::unique_ptr<CSearchMessage> messageObject;

    // Null when the server has no such message (no value for this row); a
    // server that is gone is raised.
    IEseMessage* Message()
    {
        if (!messageTried) {
            messageTried = true;
            HRESULT hr = folder->GetMessage(mid, message.GetAddressOf());
            if (FAILED(hr)) {
                message.Reset();
                if (common::IsServerGone(hr))
                    RaiseComError(hr, folder, IID_IEseFolder);
            }
        }
        return message.Get();
    }

    // The message object of the row (null when the server has no message).
    CSearchMessage* MessageObject(const SearchRequest& request)
    {
        if (!messageObject) {
            IEseMessage* server = Message();
            if (!server)
                return nullptr;
            messageObject.reset(
                new CSearchMessage(server, messageId, request.searchFolderId, request.storeId));
        }
        return messageObject.get();
    }

    // A value too large for the server's row, read whole in one call. False
    // when the message or its value cannot be had (no value for this row).
    bool ReadLargeValue(CSearchPhaseClock& phases, ULONG tag, std::vector<BYTE>& bytes)
    {
        CSearchPhaseTimer timer(phases, kPhaseLargeReads);
        if (prefetch && prefetch->Take(mid, tag, bytes))
            return true;
        IEseMessage* server = Message();
        if (!server)
            return false;
        ULONG size = 0;
        BYTE* data = nullptr;
        HRESULT hr = server->GetProperty(tag, &size, &data);
        if (FAILED(hr)) {
            CoTaskMemFree(data);
            if (common::IsServerGone(hr))
                RaiseComError(hr, server, IID_IEseProperty);
            return false;
        }
        try {
            bytes.assign(data, data + (data ? size : 0));
        } catch (...) {
            CoTaskMemFree(data);
            throw;
        }
        CoTaskMemFree(data);
        return true;
    }
};

CSearch::CSearch() = default;

CSearch::~CSearch()
{
    FreeSubRestrictionMap(m_subRestrictions);
}

void CSearch::LogText(const wchar_t* text)
{
    LogFormat(m_lastError.LogPath(), L"%s", text ? text : L"");
}

bool CSearch::Running() const
{
    return !m_refused && WaitForSingleObject(m_request->events->Run(), 1) != WAIT_TIMEOUT;
}

void CSearch::LogFailure(const wchar_t* method, const std::exception& error)
{
    // what() is ASCII for the library's own exceptions (bad_alloc and kin).
    const char* what = error.what() ? error.what() : "";
    const std::wstring text(what, what + std::strlen(what));
    LogFormat(m_lastError.LogPath(), L"%s: %s", method, text.c_str());
}

bool CSearch::Init(std::unique_ptr<SearchRequest> request)
{
    m_request = std::move(request);
    if (m_request->restriction) {
        HRESULT hr = S_OK;
        MapiPtr<SRestriction> translated = MapiAllocate<SRestriction>(sizeof(SRestriction), hr);
        if (translated)
            hr = TranslateRestriction(translated.get(), m_request->restriction.get(), translated.get(), &m_tags,
                                      &m_subRestrictions);
        if (!translated || FAILED(hr)) {
            // An incomplete translation would test something else than the
            // client asked: the search ends without walking.
            try {
                ThrowSearchError(kLineTranslation, hr);
            } catch (const CException& error) {
                m_lastError.SetText(TextOf(error));
            }
            FreeSubRestrictionMap(m_subRestrictions);
            m_tags.clear();
            m_request->restriction.reset();
        } else {
            m_request->restriction = std::move(translated);
        }
    }
    LayOutColumns();
    CEntryId storeId = m_request->storeId;
    LPVOID holder = nullptr;
    m_wrappedStoreIdResult = ProviderAllocateBuffer(1, &holder);
    if (SUCCEEDED(m_wrappedStoreIdResult)) {
        SBinary wrapped = {};
        m_wrappedStoreIdResult = storeId.WrapStoreEntryId(holder, wrapped);
        if (SUCCEEDED(m_wrappedStoreIdResult))
            m_wrappedStoreId.assign(wrapped.lpb, wrapped.lpb + wrapped.cb);
        ProviderFreeBuffer(holder);
    }
    return true;
}

void CSearch::LayOutColumns()
{
    m_serverColumns.assign(std::begin(kSearchMessageColumns), std::end(kSearchMessageColumns));
    for (LONG tag : m_tags) {
        const ULONG t = static_cast<ULONG>(tag);
        // The row keys are the engine's own: a test of one of them reads the
        // engine's value, not a column the server lacks.
        if (Contains(std::begin(kSearchMessageColumns), std::end(kSearchMessageColumns), t) ||
            Contains(std::begin(kSearchRowKeyColumns), std::end(kSearchRowKeyColumns), t))
            continue;
        m_serverColumns.push_back(t);
    }
    m_workingServerCount = static_cast<ULONG>(m_serverColumns.size());
    m_workingColumns.assign(m_serverColumns.begin() + 3, m_serverColumns.end());
    m_workingColumns.insert(m_workingColumns.end(), std::begin(kSearchRowKeyColumns), std::end(kSearchRowKeyColumns));

    m_wantsBody = m_tags.count(static_cast<LONG>(PR_BODY_W)) != 0;
    m_wantsRecipients = m_tags.count(static_cast<LONG>(kPrDisplayToW)) != 0 ||
                        m_tags.count(static_cast<LONG>(kPrDisplayCcW)) != 0 ||
                        m_tags.count(static_cast<LONG>(kPrDisplayBccW)) != 0;
    // Asked for the engine's decisions only: rows the server marks hidden
    // are no messages a folder shows, and a message held only as MIME text
    // has its body there.
    m_hiddenColumn = static_cast<int>(m_serverColumns.size());
    m_serverColumns.push_back(kPrHiddenMarker);
    m_mimeColumn = -1;
    if (m_wantsBody) {
        m_mimeColumn = static_cast<int>(m_serverColumns.size());
        m_serverColumns.push_back(kMimeTextTag);
    }
}

bool CSearch::MessageRow(const _SEseRow& server) const
{
    // Only rows that name a message: the server's table also lists child
    // folders, and rows it marks hidden are no messages a folder shows.
    return server.m_p_values && server.m_valueCount >= m_serverColumns.size() &&
           server.m_p_values[0].m_tag == kPrMid && server.m_p_values[1].m_tag == kPrMsgLink &&
           server.m_p_values[2].m_tag == kPrFid && !IsUsableServerValue(server.m_p_values[m_hiddenColumn]);
}

int CSearch::WorkingPosition(ULONG propertyId) const
{
    for (size_t i = 0; i < m_workingColumns.size(); ++i)
        if (PROP_ID(m_workingColumns[i]) == propertyId)
            return static_cast<int>(i);
    return -1;
}

HRESULT CSearch::Go()
{
    HRESULT result = S_OK;
    const SearchRequest& request = *m_request;
    const LONGLONG started = CSearchPhaseClock::Now();
    if (request.restriction && request.containers && request.containers->lpbin) {
        const ENTRYLIST& list = *request.containers;
        for (ULONG i = 0; i < list.cValues; ++i) {
            if (!Running()) {
                ResetEvent(request.events->Run());
                break;
            }
            const SBinary& entry = list.lpbin[i];
            // Fewer bytes than an identifier name no folder of this store.
            if (!entry.lpb || entry.cb < sizeof(CEntryId))
                continue;
            CEntryId container;
            std::memcpy(static_cast<void*>(&container), entry.lpb, sizeof(CEntryId));
            try {
                ComPtr<IGlobalInterfaceTable> git;
                try {
                    git = ModuleInterfaceTable();
                } catch (const _com_error& error) {
                    ThrowSearchError(kLineInterfaceTable, error.Error());
                }
                ComPtr<IEseStore> store;
                HRESULT hr = git->GetInterfaceFromGlobal(request.storeCookie, IID_IEseStore,
                                                         reinterpret_cast<void**>(store.GetAddressOf()));
                if (FAILED(hr) || !store)
                    ThrowSearchError(kLineStoreInterface, FAILED(hr) ? hr : E_NOINTERFACE);
                // No folder for the identifiers: the entry stands for the
                // whole store.
                ComPtr<IEseFolder> folder;
                if (FAILED(store->GetFolder(container.fid, container.idRoot, folder.GetAddressOf())))
                    folder.Reset();
                result = WalkFolders(store.Get(), folder.Get(), std::wstring(), request.result.Get(),
                                     (request.flags & RECURSIVE_SEARCH) ? TRUE : FALSE);
            } catch (const CException& error) {
                LogText(TextOf(error));
                break;
            } catch (const _com_error& error) {
                m_lastError.SetFromComError("CSearch::Go", error);
                result = MAPI_E_EXTENDED_ERROR;
                break;
            } catch (const std::exception& error) {
                // Out of memory and the like: the client still hears of
                // the end.
                LogFailure(L"CSearch::Go", error);
                result = MAPI_E_EXTENDED_ERROR;
                break;
            }
        }
    }
    m_phases.Add(kPhaseWhole, started);
    m_phases.Publish();
    NotifyComplete();
    return result;
}

void CSearch::NotifyComplete()
{
    NotifySearchEnd(*m_request->events, m_request->storeId.storeUid, m_request->searchFolderId);
}

void NotifySearchEnd(const CSearchEvents& events, const MAPIUID& storeUid, const CEntryId& folderId)
{
    // A search given up for a newer one leaves the news to that one.
    if (events.Abandoned())
        return;
    try {
        CProviderGlobals& globals = ProviderGlobals();
        // The store cannot go while the lock is held (its last release takes
        // it), so the one found stays alive for the call.
        CCriticalSectionLock lock(globals.providerLock);
        StoreEntry entry;
        if (globals.storeRegistry.FindByServiceUid(storeUid, entry) && entry.store)
            entry.store->NotifySearchComplete(folderId);
    } catch (...) {
        // Nobody is left to tell.
    }
}

HRESULT CSearch::WalkFolders(IEseStore* store, IEseFolder* folder, std::wstring path, ITableData* result,
                             BOOL recursive)
{
    if (m_request->flags & STOP_SEARCH)
        return S_OK;
    if (m_depth >= kMaxFolderDepth) {
        if (!m_depthLogged) {
            m_depthLogged = true;
            LogFormat(m_lastError.LogPath(), L"CSearch::WalkFolders: folders nested deeper than %d are not searched",
                      kMaxFolderDepth);
        }
        return S_OK;
    }
    struct SDepth {
        int& depth;
        explicit SDepth(int& d) : depth(++d) {}
        ~SDepth() { --depth; }
    } depth(m_depth);
    HRESULT hr = S_OK;
    try {
        // A folder searched before had its sub-folders walked then.
        if (folder && FillContentsTable(folder, path, result) == S_FALSE)
            return hr;
        if (!Running())
            return hr;
        if (!recursive)
            return hr;

        ComPtr<IEseTable> children;
        if (folder) {
            hr = folder->GetFoldersTable(children.GetAddressOf());
            if (FAILED(hr))
                RaiseComError(hr, folder, IID_IEseFolder);
            hr = S_OK;
        } else {
            const MAPIUID& storeUid = m_request->searchFolderId.storeUid;
            CStoreConfig config;
            LONG publicFoldersOnly = 0;
            config.GetPublicFoldersOnly(storeUid, publicFoldersOnly);
            ParsedMailboxSelection selection;
            if (!publicFoldersOnly) {
                std::wstring text;
                if (config.GetMailboxSelection(storeUid, text))
                    ParseMailboxSelection(text, selection);
            }
            const ULONG count = selection.allChecked ? 0 : static_cast<ULONG>(selection.ids.size());
            HRESULT tableResult =
                store->GetMailboxesTable(count, count ? selection.ids.data() : nullptr, 0, children.GetAddressOf());
            if (FAILED(tableResult) && tableResult != kNoSuchTable)
                RaiseComError(tableResult, store, IID_IEseStore);
            if (!selection.allChecked && selection.count == 0)
                return S_OK;
            if (publicFoldersOnly) {
                children.Reset();
                tableResult = store->GetFoldersTable(children.GetAddressOf());
                if (FAILED(tableResult))
                    RaiseComError(tableResult, store, IID_IEseStore);
            }
            // A mailbox store without mailboxes has nothing more to search.
            if (!children)
                return S_OK;
        }

        std::vector<ULONG> columns(std::begin(kFolderColumns), std::end(kFolderColumns));
        HRESULT call = children->SetColumns(kFolderColumnCount, columns.data());
        if (FAILED(call))
            RaiseComError(call, children.Get(), IID_IEseTable);
        CServerRows rows;
        call = children->GetRows(kAllRows, 1, &rows.count, &rows.rows);
        if (FAILED(call))
            RaiseComError(call, children.Get(), IID_IEseTable);
        if (!rows.rows)
            rows.count = 0;
        for (ULONG i = 0; i < rows.count; ++i) {
            if (!Running())
                break;
            const _SEseRow& row = rows.rows[i];
            if (row.m_valueCount < 2 || !row.m_p_values || !IsUsableServerValue(row.m_p_values[0]))
                continue;
            const LONGLONG fid = row.m_p_values[0].m_value.m_i64;
            const LONGLONG idRoot = IsUsableServerValue(row.m_p_values[1]) ? row.m_p_values[1].m_value.m_i64 : 0;
            ComPtr<IEseFolder> child;
            call = store->GetFolder(fid, idRoot, child.GetAddressOf());
            // A child the server cannot open is left out; searching "no
            // folder" would mean the whole store.
            if (FAILED(call) || !child) {
                if (FAILED(call) && common::IsServerGone(call))
                    RaiseComError(call, store, IID_IEseStore);
                continue;
            }
            WalkFolders(store, child.Get(), path, result, TRUE);
        }
    } catch (const _com_error& error) {
        m_lastError.SetFromComError("CSearch::WalkFolders", error);
        hr = MAPI_E_EXTENDED_ERROR;
    } catch (const std::exception& error) {
        LogFailure(L"CSearch::WalkFolders", error);
        hr = MAPI_E_EXTENDED_ERROR;
    }
    return hr;
}

HRESULT CSearch::FillContentsTable(IEseFolder* folder, std::wstring& path, ITableData* result)
{
    if (!folder)
        return 1;
    try {
        ULONG tags[] = {PR_DISPLAY_NAME_W, kPrMailboxRootFid, kPrFid};
        CServerValues read;
        HRESULT hr = folder->GetProperties(3, tags, &read.count, &read.values);
        if (FAILED(hr))
            RaiseComError(hr, folder, IID_IEseProperty);
        std::wstring name = L"?";
        LONGLONG idRoot = 0;
        if (read.values && read.count > 0 && read.values[0].m_tag == PR_DISPLAY_NAME_W)
            name = read.values[0].m_value.m_p_ws ? read.values[0].m_value.m_p_ws : L"";
        if (read.values && read.count > 1 && read.values[1].m_tag == kPrMailboxRootFid)
            idRoot = read.values[1].m_value.m_i64;
        path += L"\\";
        path += name;
        if (read.values && read.count > 2 && read.values[2].m_tag == kPrFid &&
            !m_visited.insert(read.values[2].m_value.m_i64).second)
            return S_FALSE;

        LONGLONG phase = CSearchPhaseClock::Now();
        ComPtr<IEseTable> messages;
        if (FAILED(folder->GetMessagesTable(messages.GetAddressOf())) || !messages)
            return S_OK;
        hr = messages->SetColumns(static_cast<ULONG>(m_serverColumns.size()), m_serverColumns.data());
        if (FAILED(hr))
            RaiseComError(hr, messages.Get(), IID_IEseTable);

        ComPtr<ITableData> working;
        {
            std::vector<ULONG> columns(m_workingColumns.size() + 1);
            columns[0] = static_cast<ULONG>(m_workingColumns.size());
            std::copy(m_workingColumns.begin(), m_workingColumns.end(), columns.begin() + 1);
            hr = CreateProviderTable(TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(columns.data()),
                                     working);
            if (FAILED(hr))
                ThrowSearchError(kLineWorkingTable, hr);
        }

        CServerRows rows;
        hr = messages->GetRows(kAllRows, 1, &rows.count, &rows.rows);
        if (FAILED(hr))
            RaiseComError(hr, messages.Get(), IID_IEseTable);
        if (!rows.rows)
            rows.count = 0;
        m_phases.Add(kPhaseServerRows, phase);

        std::unique_ptr<CLargeValuePrefetch> prefetch;
        if (m_wantsBody && IsProxy(folder))
            prefetch.reset(new CLargeValuePrefetch(folder, LargeBodyReads(rows.rows, rows.count)));

        ULONG inWorking = 0;
        const ULONG workingCount = static_cast<ULONG>(m_workingColumns.size());
        for (ULONG i = 0; i < rows.count; ++i) {
            if (!Running())
                break;
            const _SEseRow& server = rows.rows[i];
            if (!MessageRow(server))
                continue;

            phase = CSearchPhaseClock::Now();
            SRowContext row;
            row.folder = folder;
            row.prefetch = prefetch.get();
            row.server = &server;
            row.mid = server.m_p_values[0].m_value.m_i64;
            row.fid = server.m_p_values[2].m_value.m_i64;
            row.values = MapiAllocate<SPropValue>(static_cast<ULONG>(sizeof(SPropValue) * workingCount), hr);
            if (!row.values)
                ThrowSearchError(kLineWorkingInsert, hr);
            SPropValue* v = row.values.get();
            for (ULONG k = 0; k < workingCount; ++k) {
                v[k].ulPropTag = CHANGE_PROP_TYPE(m_workingColumns[k], PT_ERROR);
                v[k].Value.err = MAPI_E_NOT_FOUND;
            }
            _SEseRow shown = server;
            shown.m_valueCount = m_workingServerCount;
            ConvertEseRow(v, shown, 3, v);

            if (v[0].ulPropTag == PR_MESSAGE_FLAGS && (v[0].Value.l & MSGFLAG_ASSOCIATED))
                continue;

            row.messageId = CEntryId(kEntryMessage, m_request->storeId.storeUid);
            row.messageId.idRoot = idRoot;
            row.messageId.fid = row.fid;
            row.messageId.mid = row.mid;
            m_phases.Add(kPhaseRowBuilding, phase);
            m_phases.CountMessage();

            FillRow(row);
            phase = CSearchPhaseClock::Now();
            FillKeys(row, path);
            FillSubRestrictions(row);
            m_phases.Add(kPhaseRowBuilding, phase);

            phase = CSearchPhaseClock::Now();
            SRow mapiRow = {0, workingCount, v};
            hr = working->HrInsertRow(inWorking, &mapiRow);
            if (FAILED(hr))
                ThrowSearchError(kLineWorkingInsert, hr);
            ++inWorking;
            row.values.reset();
            m_phases.Add(kPhaseWorkingInsert, phase);

            if (!Running())
                break;
            if (m_memory >= kMemoryBound) {
                if (inWorking)
                    FilterInto(working.Get(), result);
                inWorking = 0;
                m_memory = 0;
                working->HrDeleteRows(TAD_ALL_ROWS, nullptr, nullptr);
            }
        }
        if (inWorking)
            FilterInto(working.Get(), result);
    } catch (const _com_error& error) {
        m_lastError.SetFromComError("CSearch::FillContentsTable", error);
    } catch (const CException& error) {
        LogText(TextOf(error));
    } catch (const std::bad_alloc&) {
        LogText(L"CSearch::FillContentsTable: out of memory");
    }
    return S_OK;
}

std::vector<SSearchLargeRead> CSearch::LargeBodyReads(const _SEseRow* rows, ULONG count) const
{
    // The body sources FillBody chooses, told from the server's rows alone.
    int plain = -1, html = -1, rtf = -1;
    for (ULONG k = 3; k < m_workingServerCount; ++k) {
        if (PROP_ID(m_serverColumns[k]) == PROP_ID(PR_BODY_W))
            plain = static_cast<int>(k);
        else if (PROP_ID(m_serverColumns[k]) == PROP_ID(kPrHtml))
            html = static_cast<int>(k);
        else if (PROP_ID(m_serverColumns[k]) == PROP_ID(PR_RTF_COMPRESSED))
            rtf = static_cast<int>(k);
    }
    std::vector<SSearchLargeRead> reads;
    if (plain < 0 || html < 0 || rtf < 0)
        return reads;
    for (ULONG i = 0; i < count; ++i) {
        const _SEseRow& row = rows[i];
        if (!MessageRow(row))
            continue;
        const _SEsePropertyValue* v = row.m_p_values;
        if (IsUsableServerValue(v[plain]) || IsUsableServerValue(v[html]) || IsUsableServerValue(v[rtf]))
            continue;
        ULONG tag = 0;
        if (TooLarge(v[rtf]))
            tag = PR_RTF_COMPRESSED;
        else if (TooLarge(v[html]))
            tag = kPrHtml;
        else if (TooLarge(v[plain]))
            tag = PR_BODY_W;
        else if (m_mimeColumn >= 0 && TooLarge(v[m_mimeColumn]))
            tag = kMimeTextTag;
        if (tag)
            reads.push_back({v[0].m_value.m_i64, tag});
    }
    return reads;
}

void CSearch::FilterInto(ITableData* working, ITableData* result)
{
    const HRESULT hr = ApplySearchRestriction(this, working, result);
    if (FAILED(hr)) {
        // The table refuses the restriction (or cannot make a view): no
        // folder could be searched with it.
        m_refused = true;
        ThrowSearchError(kLineRestriction, hr);
    }
}

void CSearch::FillRow(SRowContext& row)
{
    SPropValue* v = row.values.get();
    if (m_wantsRecipients) {
        CSearchPhaseTimer timer(m_phases, kPhaseRowBuilding);
        SDisplayPositions positions;
        for (size_t k = 0; k < m_workingColumns.size(); ++k)
            NoteDisplayTag(m_workingColumns[k], static_cast<int>(k), positions);
        if (positions.to >= 0 || positions.cc >= 0 || positions.bcc >= 0) {
            try {
                if (CSearchMessage* message = row.MessageObject(*m_request))
                    message->FillDisplayRecipients(positions, v, v);
            } catch (const CException& error) {
                LogText(TextOf(error));
            }
        }
    }
    if (m_wantsBody)
        FillBody(row);
}

// Which value the body text comes from, and whether the row holds it.
struct CSearch::SBodySource {
    ULONG tag = 0; // 0: none of the three (the MIME text may hold a body)
    bool inRow = false;
};

CSearch::SBodySource CSearch::ChooseBodySource(const SPropValue* v, int plain, int html, int rtf) const
{
    SBodySource source;
    if (v[plain].ulPropTag == PR_BODY_W) {
        source = {PR_BODY_W, true};
    } else if (v[html].ulPropTag == kPrHtml) {
        source = {kPrHtml, true};
    } else if (v[rtf].ulPropTag == PR_RTF_COMPRESSED) {
        source = {PR_RTF_COMPRESSED, true};
    } else {
        // RTF wins over HTML over plain text.
        if (TooLarge(v[plain]))
            source.tag = PR_BODY_W;
        if (TooLarge(v[html]))
            source.tag = kPrHtml;
        if (TooLarge(v[rtf]))
            source.tag = PR_RTF_COMPRESSED;
    }
    return source;
}

void CSearch::FillBody(SRowContext& row)
{
    SPropValue* v = row.values.get();
    const int plain = WorkingPosition(PROP_ID(PR_BODY_W));
    const int html = WorkingPosition(PROP_ID(kPrHtml));
    const int rtf = WorkingPosition(PROP_ID(PR_RTF_COMPRESSED));
    if (plain < 0 || html < 0 || rtf < 0)
        return;
    SPropValue& body = v[plain];
    const SBodySource source = ChooseBodySource(v, plain, html, rtf);
    if (source.tag == PR_BODY_W && source.inRow)
        FillPlainBodyFromRow(v, body);
    else if (source.tag == kPrHtml || source.tag == PR_RTF_COMPRESSED)
        FillConvertedBody(row, source, html, rtf, body);
    else if (source.tag == PR_BODY_W)
        FillLargePlainBody(row, body);
    else
        FillBodyFromMime(row, body);
}

// Nothing to read; only a body written in the ANSI code page is turned into
// the text it is.
void CSearch::FillPlainBodyFromRow(SPropValue* v, SPropValue& body)
{
    const wchar_t* text = body.Value.lpszW ? body.Value.lpszW : L"";
    std::wstring ansi;
    if (AnsiBodyAsText(reinterpret_cast<const BYTE*>(text), wcslen(text) * sizeof(wchar_t), ansi))
        SetBodyText(body, ansi.c_str(), ansi.size() * sizeof(wchar_t), v, kLinePlainCopy);
}

void CSearch::FillLargePlainBody(SRowContext& row, SPropValue& body)
{
    SPropValue* v = row.values.get();
    try {
        std::vector<BYTE> bytes;
        if (!row.ReadLargeValue(m_phases, PR_BODY_W, bytes))
            return;
        std::wstring ansi;
        if (AnsiBodyAsText(bytes.data(), bytes.size(), ansi))
            SetBodyText(body, ansi.c_str(), ansi.size() * sizeof(wchar_t), v, kLinePlainCopy);
        else
            SetBodyText(body, bytes.data(), bytes.size(), v, kLinePlainCopy);
        m_memory += bytes.size();
    } catch (const CException& error) {
        LogFormat(m_lastError.LogPath(), L"Convert failed\t%s", TextOf(error));
    } catch (const std::bad_alloc&) {
        LogFormat(m_lastError.LogPath(), L"Convert failed\t%s", L"out of memory");
    }
}

void CSearch::FillConvertedBody(SRowContext& row, const SBodySource& source, int html, int rtf, SPropValue& body)
{
    SPropValue* v = row.values.get();
    const bool rtfForm = source.tag == PR_RTF_COMPRESSED;
    ComPtr<IStream> input;
    if (source.inRow) {
        // The body the row holds is the one the server would stream.
        const wchar_t* failure = rtfForm ? L"RTFToText.Convert failed.\t%s" : L"HtmlToText.Convert failed.\t%s";
        const int streamLine = rtfForm ? kLineRowRtfStream : kLineRowHtmlStream;
        const SBinary& bytes = v[rtfForm ? rtf : html].Value.bin;
        try {
            input = StreamOver(bytes.lpb, bytes.cb, streamLine);
        } catch (const CException& error) {
            LogFormat(m_lastError.LogPath(), failure, TextOf(error));
            return;
        }
        ConvertInto(v, body, source.tag, input.Get(), streamLine, failure, failure);
        return;
    }
    // Read whole at once: the converters read in small pieces, each of which
    // would cross to the server.
    std::vector<BYTE> bytes;
    if (!row.ReadLargeValue(m_phases, source.tag, bytes))
        return;
    const int streamLine = rtfForm ? kLineLargeRtfStream : kLineLargeHtmlStream;
    try {
        input = StreamOver(bytes.data(), static_cast<ULONG>(bytes.size()), streamLine);
    } catch (const CException& error) {
        LogFormat(m_lastError.LogPath(), L"Convert failed\t%s", TextOf(error));
        return;
    }
    ConvertInto(v, body, source.tag, input.Get(), streamLine, L"Convert failed\t%s",
                rtfForm ? L"RTFToText.Convert failed\t%s" : L"HtmlToText.Convert failed\t%s");
}

// No body of its own: a message kept only as MIME text has its body there,
// as the message layer would show it.
void CSearch::FillBodyFromMime(SRowContext& row, SPropValue& body)
{
    SPropValue* v = row.values.get();
    if (m_mimeColumn < 0 || !row.server || static_cast<ULONG>(m_mimeColumn) >= row.server->m_valueCount)
        return;
    const _SEsePropertyValue& mime = row.server->m_p_values[m_mimeColumn];
    ComPtr<IStream> mimeStream;
    try {
        if (PROP_TYPE(mime.m_tag) == PT_BINARY) {
            mimeStream = StreamOver(mime.m_value.m_bin.m_p_bt, mime.m_value.m_bin.m_count, kLineMimeMessage);
        } else if (TooLarge(mime)) {
            std::vector<BYTE> bytes;
            if (!row.ReadLargeValue(m_phases, kMimeTextTag, bytes))
                return;
            mimeStream = StreamOver(bytes.data(), static_cast<ULONG>(bytes.size()), kLineMimeMessage);
        } else {
            return;
        }
    } catch (const CException& error) {
        LogFormat(m_lastError.LogPath(), L"Convert failed\t%s", TextOf(error));
        return;
    }
    LONGLONG phase = CSearchPhaseClock::Now();
    ComPtr<IMessage> made;
    HRESULT hr = MessageFromMime(mimeStream.Get(), MessageAllocators(), made.GetAddressOf());
    if (FAILED(hr) || !made) {
        m_phases.Add(kPhaseMime, phase);
        try {
            ThrowSearchError(kLineMimeMessage, FAILED(hr) ? hr : E_UNEXPECTED);
        } catch (const CException& error) {
            LogFormat(m_lastError.LogPath(), L"Convert failed\t%s", TextOf(error));
        }
        return;
    }
    ComPtr<IStream> input;
    if (SUCCEEDED(made->OpenProperty(PR_BODY_W, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(input.GetAddressOf()))) &&
        input) {
        try {
            std::vector<BYTE> bytes = ReadWhole(input.Get());
            SetBodyText(body, bytes.data(), bytes.size(), v, kLinePlainCopy);
            m_memory += bytes.size();
        } catch (const CException& error) {
            LogFormat(m_lastError.LogPath(), L"Convert failed\t%s", TextOf(error));
        }
        m_phases.Add(kPhaseMime, phase);
        return;
    }
    m_phases.Add(kPhaseMime, phase);
    for (ULONG form : {kPrHtml, static_cast<ULONG>(PR_RTF_COMPRESSED)}) {
        input.Reset();
        if (FAILED(made->OpenProperty(form, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(input.GetAddressOf()))) ||
            !input)
            continue;
        const int streamLine = form == PR_RTF_COMPRESSED ? kLineLargeRtfStream : kLineLargeHtmlStream;
        ConvertInto(v, body, form, input.Get(), streamLine, L"Convert failed\t%s",
                    form == PR_RTF_COMPRESSED ? L"RTFToText.Convert failed\t%s" : L"HtmlToText.Convert failed\t%s");
        return;
    }
}

// Converts input (HTML or compressed RTF) into the body slot. A failure to
// make the output stream (raised at streamLine) or of the conversion is
// logged under the given texts and the row goes on without text; a failure
// to hand the text over ends the folder.
void CSearch::ConvertInto(SPropValue* v, SPropValue& body, ULONG form, IStream* input, int streamLine,
                          const wchar_t* streamFailure, const wchar_t* failure)
{
    ComPtr<IStream> output;
    try {
        HRESULT made = CreateStreamOnHGlobal(nullptr, TRUE, output.GetAddressOf());
        if (FAILED(made))
            ThrowSearchError(streamLine, made);
    } catch (const CException& error) {
        LogFormat(m_lastError.LogPath(), streamFailure, TextOf(error));
        return;
    }
    try {
        CSearchPhaseTimer timer(m_phases, form == PR_RTF_COMPRESSED ? kPhaseRtf : kPhaseHtml);
        if (form == PR_RTF_COMPRESSED) {
            if (!m_rtf)
                m_rtf.reset(new RTFToText());
            m_rtf->Convert(input, output.Get());
        } else {
            if (!m_html)
                m_html.reset(new HtmlToText());
            m_html->Convert(input, output.Get());
        }
    } catch (const CException& error) {
        LogFormat(m_lastError.LogPath(), failure, TextOf(error));
        return;
    }
    STATSTG stat{};
    HRESULT hr = output->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr))
        ThrowSearchError(kLineTextStat, hr);
    HGLOBAL memory = nullptr;
    hr = GetHGlobalFromStream(output.Get(), &memory);
    if (FAILED(hr))
        ThrowSearchError(kLineTextHandle, hr);
    const void* text = GlobalLock(memory);
    if (text) {
        try {
            SetBodyText(body, text, static_cast<size_t>(stat.cbSize.QuadPart), v, kLineTextCopy);
        } catch (...) {
            GlobalUnlock(memory);
            throw;
        }
        GlobalUnlock(memory);
    } else {
        body.ulPropTag = CHANGE_PROP_TYPE(PR_BODY_W, PT_ERROR);
        body.Value.err = MAPI_E_NOT_ENOUGH_MEMORY;
    }
    m_memory += stat.cbSize.QuadPart;
}

void CSearch::FillKeys(SRowContext& row, const std::wstring& path)
{
    SPropValue* v = row.values.get();
    SPropValue* key = v + (m_workingServerCount - 3);
    const SearchRequest& request = *m_request;
    const CEntryId& folderId = request.searchFolderId;

    BYTE instanceKey[8];
    InstanceKeyOf(row.mid, instanceKey);
    SetBinary(key[0], PR_INSTANCE_KEY, instanceKey, sizeof(instanceKey), v, kLineInstanceKey);
    SetBinary(key[1], PR_ENTRYID, &row.messageId, sizeof(CEntryId), v, kLineEntryId);
    key[2].ulPropTag = PR_OBJECT_TYPE;
    key[2].Value.l = MAPI_MESSAGE;
    SetBinary(key[3], PR_MAPPING_SIGNATURE, &folderId.storeUid, sizeof(MAPIUID), v, kLineMappingSignature);
    SetBinary(key[4], PR_PARENT_ENTRYID, &folderId, sizeof(CEntryId), v, kLineParentEntryId);
    SetBinary(key[5], PR_RECORD_KEY, &row.messageId, sizeof(CEntryId), v, kLineRecordKey);
    SetBinary(key[6], kPrLongTermEntryIdFromTable, &row.messageId, sizeof(CEntryId), v, kLineLongTermId);
    if (SUCCEEDED(m_wrappedStoreIdResult)) {
        SetBinary(key[7], PR_STORE_ENTRYID, m_wrappedStoreId.data(), static_cast<ULONG>(m_wrappedStoreId.size()), v,
                  kLineWrappedStoreIdCopy);
    } else {
        key[7].ulPropTag = CHANGE_PROP_TYPE(PR_STORE_ENTRYID, PT_ERROR);
        key[7].Value.err = m_wrappedStoreIdResult;
    }
    SetBinary(key[8], PR_STORE_RECORD_KEY, &folderId.storeUid, sizeof(MAPIUID), v, kLineStoreRecordKey);
    key[9].ulPropTag = PR_ACCESS;
    key[9].Value.l = MAPI_ACCESS_READ;
    key[10].ulPropTag = PR_ACCESS_LEVEL;
    key[10].Value.l = 0;
    LPVOID copy = nullptr;
    HRESULT hr = ProviderAllocateMore(static_cast<ULONG>((path.size() + 1) * sizeof(wchar_t)), v, &copy);
    if (FAILED(hr))
        ThrowSearchError(kLineParentDisplay, hr);
    std::memcpy(copy, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    key[11].ulPropTag = PR_PARENT_DISPLAY_W;
    key[11].Value.lpszW = static_cast<LPWSTR>(copy);
}

void CSearch::FillSubRestrictions(SRowContext& row)
{
    SPropValue* v = row.values.get();
    for (const auto& entry : m_subRestrictions) {
        const SRestriction* node = entry.second;
        if (!node || node->res.resSub.ulSubObject != kPrMessageRecipients)
            continue;
        const int position = WorkingPosition(PROP_ID(entry.first));
        if (position < 0)
            continue;
        bool matched = false;
        if (CSearchMessage* message = row.MessageObject(*m_request))
            matched = message->HasRecipientMatching(node->res.resSub.lpRes);
        v[position].ulPropTag = entry.first;
        v[position].dwAlignPad = 0;
        v[position].Value.b = matched ? TRUE : FALSE;
    }
}

HRESULT ApplySearchRestriction(CSearch* search, ITableData* working, ITableData* result)
{
    const SearchRequest& request = *search->m_request;
    CSearchPhaseClock& phases = search->m_phases;
    LONGLONG phase = CSearchPhaseClock::Now();
    ComPtr<IMAPITable> view;
    HRESULT hr = working->HrGetView(nullptr, nullptr, 0, view.GetAddressOf());
    if (FAILED(hr))
        return hr;
    if (request.restriction) {
        hr = view->Restrict(request.restriction.get(), TBL_BATCH);
        if (FAILED(hr))
            return hr;
    }
    hr = view->SetColumns(request.columns.get(), TBL_BATCH);
    if (FAILED(hr))
        return hr;
    for (;;) {
        LPSRowSet raw = nullptr;
        hr = view->QueryRows(kBatchRows, 0, &raw);
        phases.Add(kPhaseRestriction, phase);
        if (FAILED(hr))
            break;
        RowSetPtr rows(raw);
        const ULONG count = rows ? rows->cRows : 0;
        phase = CSearchPhaseClock::Now();
        // What a search given up for a newer one gathers goes nowhere.
        if (!request.events->Abandoned()) {
            for (ULONG i = 0; i < count; ++i) {
                SRow& row = rows->aRow[i];
                HRESULT inserted = result->HrInsertRow(i, &row);
                if (FAILED(inserted)) {
                    // A message met before (the result table holds it
                    // already) stays where it is.
                    const SPropValue* key = nullptr;
                    for (ULONG k = 0; k < row.cValues && !key; ++k)
                        if (row.lpProps[k].ulPropTag == PR_INSTANCE_KEY)
                            key = &row.lpProps[k];
                    LPSRow existing = nullptr;
                    if (key && SUCCEEDED(result->HrQueryRow(const_cast<LPSPropValue>(key), &existing, nullptr))) {
                        ProviderFreeBuffer(existing);
                        continue;
                    }
                    ThrowSearchError(kLineResultInsert, inserted);
                }
            }
        }
        phases.Add(kPhaseResultInsert, phase);
        phase = CSearchPhaseClock::Now();
        if (count != kBatchRows)
            break;
    }
    return hr;
}

DWORD WINAPI SearchThreadProc(LPVOID parameter)
{
    std::unique_ptr<SearchRequest> request(static_cast<SearchRequest*>(parameter));
    std::shared_ptr<CSearchEvents> events = request->events;
    HMODULE module = request->pinnedModule;
    const MAPIUID storeUid = request->storeId.storeUid;
    const CEntryId folderId = request->searchFolderId;
    const HRESULT comInit = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT hr = S_OK;
    bool notified = false;
    try {
        CSearch search;
        search.Init(std::move(request));
        hr = search.Go();
        notified = true;
    } catch (...) {
        hr = MAPI_E_EXTENDED_ERROR;
    }
    request.reset();
    // Go tells the store on every path of its own; a search that failed
    // before or around it still ends with the news.
    if (!notified)
        NotifySearchEnd(*events, storeUid, folderId);
    if (SUCCEEDED(comInit))
        CoUninitialize();
    SetEvent(events->Done());
    events.reset();
    if (module)
        FreeLibraryAndExitThread(module, static_cast<DWORD>(hr));
    return static_cast<DWORD>(hr);
}

bool StartSearchThread(std::unique_ptr<SearchRequest> request)
{
    // The worker keeps the module that holds its code loaded until it ends,
    // whenever the client lets the provider go.
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&SearchThreadProc), &module);
    request->pinnedModule = module;
    SearchRequest* raw = request.release();
    HANDLE thread = CreateThread(nullptr, 0, &SearchThreadProc, raw, 0, nullptr);
    if (!thread) {
        std::unique_ptr<SearchRequest> back(raw);
        SetEvent(back->events->Done());
        if (module)
            FreeLibrary(module);
        return false;
    }
    CloseHandle(thread);
    return true;
}
