// What the error-object bridge of the proxy/stub library costs a small
// cross-process call.
//
// Two client processes, each with a server process of its own, call the same
// small method of the same object: one pair through the proxy/stub library
// (which installs the bridge on Wine), the other through the same proxies and
// stubs linked into the programs and registered for their apartments only
// (no library, no bridge). The two clients take turns, batch by batch, so
// that both meet the same load of the machine; the figure is the median of
// the batches. A failing call, whose error object only the bridge carries on
// Wine, is measured beside it.
//
//   bridge_bench.exe                 runs the measurement, prints RESULT lines
//   bridge_bench.exe --client MODE PARENT-PID RESULT-FILE   (started by it)
//   bridge_bench.exe --server MODE   (started by COM, MODE plain or bridge)
#include "Platform.h"
#include "CClassFactory.h"
#include "CRegistrar.h"
#include "CSupportErrorInfoFor.h"
#include "CUnknownImpl.h"
#include "EseInterfaceTraits.h"
#include "ModuleLock.h"
#include "PlainProxyFactory.h"
#include "Vostrel2007.h"
#include "WineHost.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// {9C1E5A37-2F84-4D6B-A013-7E5B2C9D4F18}: the bench object, served without the library.
const CLSID kPlainServer = {0x9c1e5a37, 0x2f84, 0x4d6b, {0xa0, 0x13, 0x7e, 0x5b, 0x2c, 0x9d, 0x4f, 0x18}};
// {9C1E5A37-2F84-4D6B-A013-7E5B2C9D4F19}: the same object, served through the library.
const CLSID kBridgeServer = {0x9c1e5a37, 0x2f84, 0x4d6b, {0xa0, 0x13, 0x7e, 0x5b, 0x2c, 0x9d, 0x4f, 0x19}};
#define PLAIN_SERVER_CLSID L"{9C1E5A37-2F84-4D6B-A013-7E5B2C9D4F18}"
#define BRIDGE_SERVER_CLSID L"{9C1E5A37-2F84-4D6B-A013-7E5B2C9D4F19}"

constexpr int kRounds = 40;
constexpr int kSuccessCalls = 100; // per round
constexpr int kFailureCalls = 20;  // per round
constexpr int kWarmUpCalls = 200;
constexpr double kGoodRatio = 1.25;

double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::wstring ThisProgram()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

bool LibraryLoaded() { return GetModuleHandleW(L"Vostrel2007PS.dll") != nullptr; }

// ---- the server ----

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

// Init succeeds (a small call); PlayLogFiles fails and sets an error object
// the way the database server does.
class CBenchInstance final
    : public common::CUnknownImpl<CBenchInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }
    STDMETHODIMP Init(ULONG pageSize, LPWSTR, LPWSTR) override { return pageSize == 4096 ? S_OK : E_INVALIDARG; }
    STDMETHODIMP PlayLogFiles(LPWSTR, ULONG, _SEseRstMap*) override
    {
        ComPtr<ICreateErrorInfo> create;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetGUID(IID_IEseInstance);
            create->SetSource(const_cast<LPOLESTR>(L"Morvane.Vostrel2007"));
            create->SetDescription(const_cast<LPOLESTR>(
                L"0 3 fffffae7 message=ESE API function=JetOpenTable was failed with error code=-1305"));
            ComPtr<IErrorInfo> info;
            if (SUCCEEDED(create.As(&info)))
                SetErrorInfo(0, info.Get());
        }
        return E_FAIL;
    }
    STDMETHODIMP OpenStore(LPWSTR, LPWSTR, IEseStore**) override { return E_NOTIMPL; }

private:
    friend class common::CUnknownImpl<CBenchInstance, IEseInstance, common::CSupportErrorInfoFor<IEseInstance>>;
    CBenchInstance() = default;
};

common::CClassFactory<CBenchInstance> g_factory;

int RunServer(bool plain)
{
    g_mainThread = GetCurrentThreadId();
    common::SetModuleLockHandlers(&Lock, &Unlock);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    if (plain && FAILED(plain_proxies::RegisterForThisApartment()))
        return 1;
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(plain ? kPlainServer : kBridgeServer, &g_factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr)) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        CoRevokeClassObject(cookie);
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}

// ---- a client ----

std::wstring EventName(DWORD parent, const wchar_t* mode, const wchar_t* what)
{
    return L"Local\\VostrelBridgeBench-" + std::to_wstring(parent) + L"-" + mode + L"-" + what;
}

int RunClient(const wchar_t* mode, DWORD parent, const wchar_t* resultFile)
{
    bool plain = std::wcscmp(mode, L"plain") == 0;
    HANDLE go = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, EventName(parent, mode, L"go").c_str());
    HANDLE done = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, EventName(parent, mode, L"done").c_str());
    FILE* out = _wfopen(resultFile, L"w");
    if (!go || !done || !out)
        return 1;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = plain ? plain_proxies::RegisterForThisApartment() : S_OK;
    ComPtr<IEseInstance> instance;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(plain ? kPlainServer : kBridgeServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                              reinterpret_cast<void**>(instance.GetAddressOf()));
    wchar_t logs[] = L"C:\\logs";
    for (int i = 0; SUCCEEDED(hr) && i < kWarmUpCalls; ++i)
        hr = instance->Init(4096, logs, nullptr);
    std::fwprintf(out, L"setup %08lx library %d\n", static_cast<unsigned long>(hr), LibraryLoaded() ? 1 : 0);
    SetEvent(done);
    for (int round = 0; SUCCEEDED(hr) && round < kRounds; ++round) {
        WaitForSingleObject(go, INFINITE);
        double start = NowMs();
        for (int i = 0; i < kSuccessCalls; ++i)
            instance->Init(4096, logs, nullptr);
        double success = (NowMs() - start) / kSuccessCalls;
        int carried = 0;
        start = NowMs();
        for (int i = 0; i < kFailureCalls; ++i) {
            instance->PlayLogFiles(nullptr, 0, nullptr);
            ComPtr<IErrorInfo> info;
            if (GetErrorInfo(0, &info) == S_OK && info)
                ++carried;
        }
        double failure = (NowMs() - start) / kFailureCalls;
        // The platform's own small call beside ours: a remote QueryInterface
        // for an interface the object lacks (no proxy of ours involved).
        start = NowMs();
        for (int i = 0; i < kFailureCalls; ++i) {
            ComPtr<IPersist> none;
            instance.As(&none);
        }
        double platform = (NowMs() - start) / kFailureCalls;
        std::fwprintf(out, L"round %.4f %.4f %d %.4f\n", success, failure, carried, platform);
        SetEvent(done);
    }
    instance.Reset();
    CoUninitialize();
    std::fclose(out);
    return SUCCEEDED(hr) ? 0 : 1;
}

// ---- the measurement ----

HRESULT RegisterServers(bool unregister)
{
    static const common::RegistryRow rows[] = {
        {L"CLSID\\" PLAIN_SERVER_CLSID, nullptr, L"bridge bench, plain", common::RegistryRow::ForceRemove},
        {L"CLSID\\" PLAIN_SERVER_CLSID L"\\LocalServer32", nullptr, L"\"%MODULE%\" --server plain", 0},
        {L"CLSID\\" BRIDGE_SERVER_CLSID, nullptr, L"bridge bench, bridge", common::RegistryRow::ForceRemove},
        {L"CLSID\\" BRIDGE_SERVER_CLSID L"\\LocalServer32", nullptr, L"\"%MODULE%\" --server bridge", 0},
    };
    common::CRegistrar registrar(rows, sizeof(rows) / sizeof(rows[0]));
    registrar.AddReplacement(L"%MODULE%", ThisProgram());
    return unregister ? registrar.Unregister(false) : registrar.Register(false);
}

struct SClient {
    const wchar_t* mode;
    HANDLE go = nullptr, done = nullptr, process = nullptr;
    std::wstring resultFile;
    std::vector<double> success, failure, platform;
    int carried = 0, calls = 0;
    bool library = false;
    HRESULT setup = E_FAIL;
};

bool StartClient(SClient& client)
{
    DWORD self = GetCurrentProcessId();
    client.go = CreateEventW(nullptr, FALSE, FALSE, EventName(self, client.mode, L"go").c_str());
    client.done = CreateEventW(nullptr, FALSE, FALSE, EventName(self, client.mode, L"done").c_str());
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    client.resultFile = std::wstring(temp) + L"bridge-bench-" + std::to_wstring(self) + L"-" + client.mode + L".txt";
    std::wstring command = L"\"" + ThisProgram() + L"\" --client " + client.mode + L" " + std::to_wstring(self) +
                           L" \"" + client.resultFile + L"\"";
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION info = {};
    if (!client.go || !client.done ||
        !CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    client.process = info.hProcess;
    return true;
}

// Waits for the client's signal; false when it ended instead.
bool WaitFor(SClient& client)
{
    HANDLE handles[] = {client.done, client.process};
    return WaitForMultipleObjects(2, handles, FALSE, 120000) == WAIT_OBJECT_0;
}

void ReadResults(SClient& client)
{
    FILE* in = _wfopen(client.resultFile.c_str(), L"r");
    if (!in)
        return;
    char line[128];
    while (std::fgets(line, sizeof line, in)) {
        unsigned long setup = 0;
        int library = 0, carried = 0;
        double success = 0, failure = 0, platform = 0;
        if (std::sscanf(line, "setup %lx library %d", &setup, &library) == 2) {
            client.setup = static_cast<HRESULT>(setup);
            client.library = library != 0;
        } else if (std::sscanf(line, "round %lf %lf %d %lf", &success, &failure, &carried, &platform) == 4) {
            client.platform.push_back(platform);
            client.success.push_back(success);
            client.failure.push_back(failure);
            client.carried += carried;
            client.calls += kFailureCalls;
        }
    }
    std::fclose(in);
    DeleteFileW(client.resultFile.c_str());
}

int RunMeasurement()
{
    if (FAILED(RegisterServers(false))) {
        std::printf("cannot register the bench servers\n");
        return 1;
    }
    SClient plain{L"plain"}, bridge{L"bridge"};
    bool ok = StartClient(plain) && StartClient(bridge) && WaitFor(plain) && WaitFor(bridge);
    for (int round = 0; ok && round < kRounds; ++round) {
        // Alternate which one goes first.
        SClient* order[2] = {&plain, &bridge};
        if (round % 2)
            std::swap(order[0], order[1]);
        for (SClient* client : order) {
            SetEvent(client->go);
            ok = ok && WaitFor(*client);
        }
    }
    for (SClient* client : {&plain, &bridge}) {
        if (client->process) {
            WaitForSingleObject(client->process, ok ? 60000 : 0);
            TerminateProcess(client->process, 1);
            CloseHandle(client->process);
        }
        ReadResults(*client);
        CloseHandle(client->go);
        CloseHandle(client->done);
    }
    RegisterServers(true);
    if (!ok || FAILED(plain.setup) || FAILED(bridge.setup) || plain.success.empty() || bridge.success.empty()) {
        std::printf("bench clients failed: plain 0x%08lX, bridge 0x%08lX\n", static_cast<unsigned long>(plain.setup),
                    static_cast<unsigned long>(bridge.setup));
        return 1;
    }
    bool onWine = common::IsRunningOnWine();
    std::printf("proxy/stub library loaded: plain client %s, bridge client %s\n", plain.library ? "yes" : "no",
                bridge.library ? "yes" : "no");
    std::printf("failing calls that brought an error object: plain %d of %d, bridge %d of %d%s\n", plain.carried,
                plain.calls, bridge.carried, bridge.calls, onWine ? "" : " (COM carries them itself here)");
    std::printf("%d rounds of %d successful and %d failing calls per client, turn by turn; medians per call\n",
                kRounds, kSuccessCalls, kFailureCalls);
    std::vector<double> paired;
    for (size_t i = 0; i < plain.success.size() && i < bridge.success.size(); ++i)
        paired.push_back(bridge.success[i] / plain.success[i]);
    std::printf("the platform's own small call (remote QueryInterface, Wine's proxies) in the plain client: "
                "%.4f ms\n",
                Median(plain.platform));
    std::printf("bridge/plain, median of the rounds' own ratios (less moved by the machine's load): %.3f\n",
                Median(paired));
    double plainSuccess = Median(plain.success), bridgeSuccess = Median(bridge.success);
    double plainFailure = Median(plain.failure), bridgeFailure = Median(bridge.failure);
    std::printf("RESULT\tsmall call that succeeds, error bridge in place (bridge/plain, good <= %.2f)\t%.4f\tms\t"
                "same call without the bridge\t%.4f\t%.3f\n",
                kGoodRatio, bridgeSuccess, plainSuccess, bridgeSuccess / plainSuccess);
    std::printf("RESULT\tsmall call that fails with an error object, bridge carries it (bridge/plain)\t%.4f\tms\t"
                "same call without the bridge\t%.4f\t%.3f\n",
                bridgeFailure, plainFailure, bridgeFailure / plainFailure);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && std::wcscmp(argv[1], L"--server") == 0)
        return RunServer(std::wcscmp(argv[2], L"plain") == 0);
    if (argc >= 5 && std::wcscmp(argv[1], L"--client") == 0)
        return RunClient(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)), argv[4]);
    return RunMeasurement();
}
