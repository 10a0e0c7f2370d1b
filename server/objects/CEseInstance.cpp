#include "Platform.h"
#include "objects/CEseInstance.h"
#include "ComErrors.h"
#include "objects/CEseStore.h"
#include "objects/CEseStoreContext.h"
#include "objects/LogReplay.h"

namespace {

// The engine's "not implemented" error (-1001) as an HRESULT-shaped value.
constexpr HRESULT kEseNotImplemented = static_cast<HRESULT>(0xFFFFFC17);

constexpr unsigned long kParamSystemPath = 0;
constexpr unsigned long kParamLogFilePath = 2;
constexpr unsigned long kParamDatabasePageSize = 64;

class CLock {
public:
    explicit CLock(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~CLock() { LeaveCriticalSection(&m_lock); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

} // namespace

CEseInstance::CEseInstance() : m_instance(NJbFramework::MakeShared<NJbFramework::CInstance>())
{
    InitializeCriticalSection(&m_lock);
}

CEseInstance::~CEseInstance()
{
    {
        CStoreMapLock mapLock;
        m_instance.Reset();
        CEseStoreContext::RemoveLeftWorkFolders();
    }
    DeleteCriticalSection(&m_lock);
}

std::wstring CEseInstance::WorkRoot() const
{
    if (!m_systemPath.empty())
        return m_systemPath;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

STDMETHODIMP CEseInstance::Init(ULONG pageSize, LPWSTR pLogPath, LPWSTR pSysPath)
{
    CLock lock(m_lock);
    return ServeComCall(IID_IEseInstance, [&]() -> HRESULT {
        // Another Init (after a failed one, or again) starts a fresh engine
        // instance: the one made before is let go, not overwritten, so that
        // it ends once nothing holds it any more (a store context opened in
        // it may) and the files it holds are released.
        if (m_instance->Handle() != NJbFramework::kNoHandle) {
            CStoreMapLock mapLock;
            m_instance = NJbFramework::MakeShared<NJbFramework::CInstance>();
            m_systemPath.clear();
            CEseStoreContext::RemoveLeftWorkFolders();
        }
        if (m_instance->GetParameter(kParamDatabasePageSize) != pageSize)
            m_instance->SetParameter(kParamDatabasePageSize, static_cast<JET_API_PTR>(pageSize));
        m_instance->Create();
        // A path not given keeps the engine's default.
        if (pLogPath)
            m_instance->SetParameter(kParamLogFilePath, ToAnsi(pLogPath).c_str());
        if (pSysPath) {
            m_instance->SetParameter(kParamSystemPath, ToAnsi(pSysPath).c_str());
            m_systemPath = pSysPath;
        }
        m_instance->Init(0);
        return S_OK;
    });
}

// Logs are replayed inside OpenStore; this entry only answers.
STDMETHODIMP CEseInstance::PlayLogFiles(LPWSTR, ULONG, _SEseRstMap*)
{
    return kEseNotImplemented;
}

STDMETHODIMP CEseInstance::OpenStore(LPWSTR pEdbPath, LPWSTR pLogPath, IEseStore** ppStore)
{
    if (!ppStore)
        return E_POINTER;
    *ppStore = nullptr;
    CLock lock(m_lock);
    CEseStore* created = nullptr;
    HRESULT hr = CEseStore::Create(&created);
    if (FAILED(hr)) {
        ReportEseError(IID_IEseInstance, kErrCreateObject, kSrcHResult, hr,
                       L"cannot create instance of the ese store class, database=%s", pEdbPath ? pEdbPath : L"");
        return hr;
    }
    ComPtr<CEseStore> store;
    *store.GetAddressOf() = created; // takes the creation's reference

    CStoreMapLock mapLock;
    hr = ServeComCall(IID_IEseInstance, [&]() -> HRESULT {
        std::wstring edbPath = pEdbPath ? pEdbPath : L"";
        std::string key = ToAnsi(edbPath);
        NJbFramework::CSharedRef<CEseStoreContext> context(CEseStoreContext::Find(key));
        if (!context) {
            std::wstring copy, workFolder;
            std::wstring base = pLogPath ? FindLogBase(pLogPath) : std::wstring();
            if (!edbPath.empty() && !base.empty())
                copy = ReplayIntoCopy(pLogPath, base, edbPath, WorkRoot(), &workFolder);
            try {
                context.Reset(new CEseStoreContext(m_instance, key, ToAnsi(copy), workFolder));
            } catch (...) {
                // The replayed copy that could not be opened goes too.
                if (!workFolder.empty())
                    CEseStoreContext::DiscardWorkFolder(workFolder);
                throw;
            }
        } else {
            m_instance = context->Database()->Session()->Instance();
        }
        store->SetContext(context);
        return S_OK;
    });
    if (FAILED(hr))
        return hr;
    *ppStore = store.Detach();
    return S_OK;
}
