// Cross-process read rates of the database server, each next to the same
// calls on the server's objects made in this process, and next to the row-
// replay server (testing/RowReplay.h), which answers the same calls across
// processes with answers read ahead: what the platform's marshalling and
// transport cost alone. Two workloads: a folder of 10,000 messages read the
// way the provider reads a contents table (SetColumns of 20 columns, one
// GetRows), and a 50 MB property read through OpenProperty in 1 MiB reads.
// Needs the server registered in the prefix (scripts/bench.sh does that).
#include "Platform.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"
#include "RowReplay.h"
#include "Vostrel2007.h"
#include "objects/CEseInstance.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace exchangefixture;

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Check(HRESULT hr, const char* call)
{
    if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof(text), "%s failed with 0x%08lX", call, static_cast<unsigned long>(hr));
        throw std::runtime_error(text);
    }
}

void Result(const char* figure, double value, const char* unit, const char* reference, double referenceValue)
{
    std::printf("RESULT\t%s\t%.4f\t%s\t%s\t%.4f\t%.2f\n", figure, value, unit, reference, referenceValue,
                referenceValue > 0 ? value / referenceValue : 0.0);
    std::fflush(stdout);
}

// The least of a few runs: the figure least disturbed by the rest of the machine.
double Best(int runs, const std::function<double()>& run)
{
    double best = run();
    for (int i = 1; i < runs; ++i)
        best = std::min(best, run());
    return best;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

const std::vector<ULONG> kColumns = {0x0037001F, 0x0E1D001F, 0x003D001F, 0x0042001F, 0x674A0014,
                                     0x67B00014, 0x67480014, 0x0E080003, 0x0E070003, 0x0E060040,
                                     0x1000001F, 0x0064001F, 0x0065001F, 0x0C1A001F, 0x0C1F001F,
                                     0x0C1E001F, 0x67B60102, 0x67B30102, 0x3001001F, 0x0E1B000B};
constexpr int kMessages = 10000;
constexpr ULONG kLargeBytes = 50u * 1024 * 1024;
constexpr ULONG kChunk = 0x100000;

// The three servers of one database: the database server, the same objects
// in this process, and the replay server.
struct SStores {
    ComPtr<IEseStore> remote, local, replay;
};

ComPtr<IEseStore> Open(const CLSID* server, const std::string& path, const std::string& work)
{
    ComPtr<IEseInstance> instance;
    if (server)
        Check(CoCreateInstance(*server, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                               reinterpret_cast<void**>(instance.GetAddressOf())),
              "CoCreateInstance");
    else
        Check(CEseInstance::CreateInstance(IID_IEseInstance, reinterpret_cast<void**>(instance.GetAddressOf())),
              "CEseInstance::CreateInstance");
    std::wstring workPath = Wide(work) + L"\\";
    Check(instance->Init(4096, &workPath[0], &workPath[0]), "Init");
    std::wstring db = Wide(path);
    ComPtr<IEseStore> store;
    Check(instance->OpenStore(&db[0], nullptr, &store), "OpenStore");
    return store;
}

SStores OpenAll(const esefixture::CTempFolder& files, const std::string& path, const std::string& name)
{
    SStores stores;
    stores.remote = Open(&CLSID_X2007EseInstance, path, files.Folder(name + "-remote"));
    stores.local = Open(nullptr, path, files.Folder(name + "-local"));
    stores.replay = Open(&CLSID_RowReplayServer, path, files.Folder(name + "-replay"));
    return stores;
}

void BenchRows(const esefixture::CTempFolder& files)
{
    CExchangeDatabase database;
    SMailbox box = database.AddMailbox(L"Bench");
    int64_t folder = database.AddFolder(box.topId, L"Big");
    for (int i = 0; i < kMessages; ++i) {
        SMessage message;
        message.subject = L"Message number " + std::to_wstring(i);
        message.normalizedSubject = message.subject;
        message.senderName = L"Sender " + std::to_wstring(i % 50);
        message.body = L"A short body of message " + std::to_wstring(i);
        message.read = (i % 3) == 0;
        database.AddMessage(folder, message);
    }
    std::string path = files.File("rows.edb");
    database.Write(path);
    SStores stores = OpenAll(files, path, "rows");

    // The provider's calls for a contents table; GetRows restarts at the
    // first row (noAdvance = 1), so that one table serves every run.
    ULONG lastCount = 0;
    auto table = [&](IEseStore* store) {
        ComPtr<IEseFolder> big;
        Check(store->GetFolder(folder, 0, &big), "GetFolder");
        ComPtr<IEseTable> messages;
        Check(big->GetMessagesTable(&messages), "GetMessagesTable");
        std::vector<ULONG> tags = kColumns;
        Check(messages->SetColumns(static_cast<ULONG>(tags.size()), tags.data()), "SetColumns");
        return messages;
    };
    auto getRows = [&](IEseTable* messages) {
        return [&lastCount, messages] {
            _SEseRow* rows = nullptr;
            double start = Now();
            Check(messages->GetRows(0x7FFFFFFF, 1, &lastCount, &rows), "GetRows");
            double seconds = Now() - start;
            FreeEseRows(rows, lastCount);
            return seconds;
        };
    };
    ComPtr<IEseTable> remoteTable = table(stores.remote.Get());
    ComPtr<IEseTable> localTable = table(stores.local.Get());
    ComPtr<IEseTable> replayTable = table(stores.replay.Get());
    getRows(replayTable.Get())();  // the replay server reads its rows ahead
    double remote = Best(5, getRows(remoteTable.Get()));
    ULONG remoteCount = lastCount;
    double local = Best(5, getRows(localTable.Get()));
    double replay = Best(3, getRows(replayTable.Get()));
    if (remoteCount != static_cast<ULONG>(kMessages) || lastCount != remoteCount)
        throw std::runtime_error("the servers returned different row counts");

    std::printf("contents table of %d messages, %u columns, one GetRows: %.3f s across processes (%.0f rows/s), "
                "%.3f s in process, %.3f s replayed across processes\n",
                kMessages, static_cast<unsigned>(kColumns.size()), remote, remoteCount / remote, local, replay);
    Result("contents table 10000 rows x 20 columns, one GetRows (cross-process/in-process, at most 3)", remote, "s",
           "same calls in process", local);
    Result("contents table: platform marshalling alone, rows read ahead (share of the cross-process time)", replay,
           "s", "cross-process GetRows", remote);
}

void BenchStream(const esefixture::CTempFolder& files)
{
    CExchangeDatabase database;
    SMailbox box = database.AddMailbox(L"Bench");
    int64_t folder = database.AddFolder(box.topId, L"Large");
    SMessage message;
    message.normalizedSubject = L"Large body";
    message.body.assign(kLargeBytes / sizeof(wchar_t), L'x');
    int64_t id = database.AddMessage(folder, message);
    std::string path = files.File("large.edb");
    database.Write(path);
    SStores stores = OpenAll(files, path, "large");

    std::vector<char> buffer(kChunk);
    ULONGLONG lastBytes = 0;
    auto reads = [&](IEseStore* store) {
        ComPtr<IEseFolder> large;
        Check(store->GetFolder(folder, 0, &large), "GetFolder");
        ComPtr<IEseMessage> holder;
        Check(large->GetMessage(id, &holder), "GetMessage");
        return [&, holder] {
            ComPtr<IStream> stream;
            Check(holder->OpenProperty(0x1000001F, &stream), "OpenProperty");
            double start = Now();
            lastBytes = 0;
            for (;;) {
                ULONG read = 0;
                HRESULT hr = stream->Read(buffer.data(), kChunk, &read);
                Check(hr, "Read");
                lastBytes += read;
                if (hr != S_OK || read == 0)
                    break;
            }
            return Now() - start;
        };
    };
    double remote = Best(3, reads(stores.remote.Get()));
    ULONGLONG remoteBytes = lastBytes;
    double local = Best(3, reads(stores.local.Get()));
    double replay = Best(3, reads(stores.replay.Get()));
    if (remoteBytes != kLargeBytes || lastBytes != remoteBytes)
        throw std::runtime_error("the streams returned different sizes");

    const double mb = 1024.0 * 1024.0;
    std::printf("%.0f MB property in 1 MiB reads: %.3f s across processes (%.1f MB/s), %.3f s in process "
                "(%.1f MB/s), %.3f s from memory across processes (%.1f MB/s)\n",
                kLargeBytes / mb, remote, kLargeBytes / mb / remote, local, kLargeBytes / mb / local, replay,
                kLargeBytes / mb / replay);
    Result("50 MB property in 1 MiB IStream reads (cross-process/in-process, at most 5)", remote, "s",
           "same reads in process", local);
    Result("50 MB property: platform marshalling alone, a stream in memory (share of the cross-process time)",
           replay, "s", "cross-process reads", remote);
}

} // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int result = 0;
    if (FAILED(RegisterRowReplayServer(false))) {
        std::fprintf(stderr, "bench failed: cannot register the row replay server\n");
        CoUninitialize();
        return 1;
    }
    try {
        esefixture::CTempFolder files;
        BenchRows(files);
        BenchStream(files);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench failed: %s\n", error.what());
        result = 1;
    }
    RegisterRowReplayServer(true);
    CoUninitialize();
    return result;
}
