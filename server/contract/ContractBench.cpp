// Prints the start-up latency of the database server (cold and warm
// CoCreateInstance) and the cost of a small call, each next to the same on the
// contract test server (a server with nothing behind it), and the cross-process
// throughput of rows of values of every type through the proxy/stub library,
// next to building and freeing the same rows in process.
#include "Platform.h"
#include "ContractSamples.h"
#include "ContractTestIds.h"
#include "EseValueMemory.h"
#include "Vostrel2007.h"

#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

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

void Result(const char* figure, double value, const char* unit, const char* reference, double referenceValue)
{
    std::printf("RESULT\t%s\t%.4f\t%s\t%s\t%.4f\t%.2f\n", figure, value, unit, reference, referenceValue,
                referenceValue > 0 ? value / referenceValue : 0.0);
}

// Cold and warm creation of a local server's instance and a small call on it.
struct SServerTimes {
    double cold = 0, warm = 0, call = 0;
};

SServerTimes TimeServer(const CLSID& clsid, ComPtr<IEseInstance>& first)
{
    SServerTimes times;
    double start = NowMs();
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                  reinterpret_cast<void**>(first.GetAddressOf()));
    times.cold = NowMs() - start;
    if (FAILED(hr))
        return times;
    const int warmRuns = 50;
    start = NowMs();
    for (int i = 0; i < warmRuns; ++i) {
        ComPtr<IEseInstance> warm;
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                         reinterpret_cast<void**>(warm.GetAddressOf()));
    }
    times.warm = (NowMs() - start) / warmRuns;
    start = NowMs();
    for (int i = 0; i < 1000; ++i)
        first->PlayLogFiles(nullptr, 0, nullptr);
    times.call = (NowMs() - start) / 1000;
    return times;
}

void WaitUntilNoServer(const wchar_t* exe)
{
    for (int i = 0; i < 200; ++i) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {sizeof entry};
        bool running = false;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            running = running || lstrcmpiW(entry.szExeFile, exe) == 0;
        CloseHandle(snapshot);
        if (!running)
            return;
        Sleep(100);
    }
}

} // namespace

int wmain()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    WaitUntilNoServer(L"Vostrel2003.exe");
    ComPtr<IEseInstance> first;
    SServerTimes server = TimeServer(CLSID_X2007EseInstance, first);
    if (!first) {
        std::printf("server could not be started\n");
        return 1;
    }
    std::printf("CoCreateInstance X2007EseInstance: cold %.1f ms, warm %.2f ms; small call %.3f ms\n", server.cold,
                server.warm, server.call);
    first.Reset();

    contract_samples::RegisterTestServer(false);
    WaitUntilNoServer(L"VostrelContractTestServer.exe");
    ComPtr<IEseInstance> instance;
    SServerTimes bare = TimeServer(CLSID_ContractTestServer, instance);
    ComPtr<IEseStore> store;
    ComPtr<IEseTable> table;
    HRESULT hr = instance ? instance->OpenStore(nullptr, nullptr, &store) : E_FAIL;
    if (SUCCEEDED(hr))
        hr = store->GetFoldersTable(&table);
    if (FAILED(hr)) {
        std::printf("contract test server unavailable: 0x%08lX\n", static_cast<unsigned long>(hr));
        contract_samples::RegisterTestServer(true);
        return 1;
    }
    std::printf("CoCreateInstance contract test server: cold %.1f ms, warm %.2f ms; small call %.3f ms\n", bare.cold,
                bare.warm, bare.call);
    Result("database server start, cold CoCreateInstance (vs a server with nothing behind it)", server.cold, "ms",
           "contract test server, cold", bare.cold);
    Result("database server, warm CoCreateInstance (vs a server with nothing behind it)", server.warm, "ms",
           "contract test server, warm", bare.warm);
    Result("small call IEseInstance::PlayLogFiles across processes (vs a server with nothing behind it)", server.call,
           "ms", "same call on the contract test server", bare.call);

    const int calls = 300;
    unsigned long long values = 0;
    double start = NowMs();
    for (int i = 0; i < calls; ++i) {
        ULONG count = 0;
        _SEseRow* rows = nullptr;
        if (FAILED(table->GetRows(0x7FFFFFFF, 1, &count, &rows)))
            break;
        for (ULONG r = 0; r < count; ++r)
            values += rows[r].m_valueCount;
        FreeEseRows(rows, count);
    }
    double seconds = (NowMs() - start) / 1000.0;
    std::printf("GetRows, every value type: %d calls, %llu values in %.2f s: %.0f values/s, %.0f calls/s\n", calls,
                values, seconds, values / seconds, calls / seconds);
    // What the server does for those rows, in process: build and free them.
    start = NowMs();
    for (int i = 0; i < calls; ++i) {
        ULONG count = 0;
        _SEseRow* rows = contract_samples::BuildRows(&count);
        FreeEseRows(rows, count);
    }
    double inProcess = (NowMs() - start) / 1000.0;
    Result("GetRows of values of every type, 300 calls across processes (cross-process/in-process)", seconds, "s",
           "building and freeing the same rows in process", inProcess);
    table.Reset();
    store.Reset();
    instance.Reset();
    contract_samples::RegisterTestServer(true);
    CoUninitialize();
    return 0;
}
