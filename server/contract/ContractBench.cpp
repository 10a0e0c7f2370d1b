// Prints the start-up latency of the database server (cold and warm
// CoCreateInstance) and the cross-process throughput of rows of values of
// every type through the proxy/stub library.
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

void WaitUntilNoServer()
{
    for (int i = 0; i < 200; ++i) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {sizeof entry};
        bool running = false;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
            running = running || lstrcmpiW(entry.szExeFile, L"Vostrel2003.exe") == 0;
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

    WaitUntilNoServer();
    double start = NowMs();
    ComPtr<IEseInstance> first;
    HRESULT hr = CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                  reinterpret_cast<void**>(first.GetAddressOf()));
    double cold = NowMs() - start;
    if (FAILED(hr)) {
        std::printf("server could not be started: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    const int warmRuns = 50;
    start = NowMs();
    for (int i = 0; i < warmRuns; ++i) {
        ComPtr<IEseInstance> warm;
        CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                         reinterpret_cast<void**>(warm.GetAddressOf()));
    }
    double warm = (NowMs() - start) / warmRuns;
    start = NowMs();
    for (int i = 0; i < 1000; ++i)
        first->PlayLogFiles(nullptr, 0, nullptr);
    double call = (NowMs() - start) / 1000;
    std::printf("CoCreateInstance X2007EseInstance: cold %.1f ms, warm %.2f ms; small call %.3f ms\n", cold, warm,
                call);
    first.Reset();

    contract_samples::RegisterTestServer(false);
    ComPtr<IEseInstance> instance;
    ComPtr<IEseStore> store;
    ComPtr<IEseTable> table;
    hr = CoCreateInstance(CLSID_ContractTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                          reinterpret_cast<void**>(instance.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = instance->OpenStore(nullptr, nullptr, &store);
    if (SUCCEEDED(hr))
        hr = store->GetFoldersTable(&table);
    if (FAILED(hr)) {
        std::printf("contract test server unavailable: 0x%08lX\n", static_cast<unsigned long>(hr));
        contract_samples::RegisterTestServer(true);
        return 1;
    }
    const int calls = 300;
    unsigned long long values = 0;
    start = NowMs();
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
    table.Reset();
    store.Reset();
    instance.Reset();
    contract_samples::RegisterTestServer(true);
    CoUninitialize();
    return 0;
}
