// Cross-process read rates of the database server, next to the same reads
// in process: a folder of 10,000 messages read the way the provider reads a
// contents table (GetMessagesTable, SetColumns of 20 columns, one GetRows),
// and a 50 MB property read through OpenProperty next to a plain read of a
// local file of the same size. Needs the server registered in the prefix
// (scripts/test.sh does that).
#include "Platform.h"
#include "objects/CEseTableImpl.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"
#include "Vostrel2007.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

using namespace exchangefixture;

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

void Check(HRESULT hr, const char* call)
{
    if (FAILED(hr))
        throw std::runtime_error(std::string(call) + " failed with " + std::to_string(static_cast<unsigned long>(hr)));
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

const std::vector<ULONG> kColumns = {0x0037001F, 0x0E1D001F, 0x003D001F, 0x0042001F, 0x674A0014,
                                     0x67B00014, 0x67480014, 0x0E080003, 0x0E070003, 0x0E060040,
                                     0x1000001F, 0x0064001F, 0x0065001F, 0x0C1A001F, 0x0C1F001F,
                                     0x0C1E001F, 0x67B60102, 0x67B30102, 0x3001001F, 0x0E1B000B};
constexpr int kMessages = 10000;
constexpr ULONG kLargeBytes = 50u * 1024 * 1024;
constexpr ULONG kChunk = 0x100000;

ComPtr<IEseStore> OpenRemote(const std::string& path, const std::string& work)
{
    ComPtr<IEseInstance> instance;
    Check(CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                           reinterpret_cast<void**>(instance.GetAddressOf())),
          "CoCreateInstance");
    std::wstring workPath = Wide(work) + L"\\";
    Check(instance->Init(4096, &workPath[0], &workPath[0]), "Init");
    std::wstring db = Wide(path);
    ComPtr<IEseStore> store;
    Check(instance->OpenStore(&db[0], nullptr, &store), "OpenStore");
    return store;
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
    CFixtureStore local(database);

    ComPtr<IEseStore> store = OpenRemote(path, files.Folder("work-rows"));
    LARGE_INTEGER start = Now();
    ComPtr<IEseFolder> big;
    Check(store->GetFolder(folder, 0, &big), "GetFolder");
    ComPtr<IEseTable> table;
    Check(big->GetMessagesTable(&table), "GetMessagesTable");
    std::vector<ULONG> tags = kColumns;
    Check(table->SetColumns(static_cast<ULONG>(tags.size()), tags.data()), "SetColumns");
    ULONG remoteCount = 0;
    _SEseRow* rows = nullptr;
    Check(table->GetRows(0x7FFFFFFF, 1, &remoteCount, &rows), "GetRows");
    LARGE_INTEGER end = Now();
    FreeEseRows(rows, remoteCount);
    double remote = Seconds(start, end);

    start = Now();
    NJbFramework::CSharedRef<CEseTableImpl> messages(new CEseTableImpl(
        0x674A, local.Context(), CExchangeDatabase::MessageTable(folder).c_str(), kKindFolderMessages));
    messages->AddLinkedTable(
        0x67B0, NJbFramework::CSharedRef<CEseTableImpl>(new CEseTableImpl(0x67B0, local.Context(), "Msg", kKindMsg)));
    messages->SetColumns(static_cast<unsigned long>(tags.size()), tags.data());
    unsigned long localCount = 0;
    messages->GetRows(0x7FFFFFFF, true, &localCount, &rows);
    end = Now();
    FreeEseRows(rows, localCount);
    double inProcess = Seconds(start, end);

    std::printf("%d-message folder, %u columns:\n", kMessages, static_cast<unsigned>(tags.size()));
    std::printf("  across processes: %lu rows in %.3f s (%.0f rows/s)\n", remoteCount, remote, remoteCount / remote);
    std::printf("  in process:       %lu rows in %.3f s (%.0f rows/s)\n", localCount, inProcess,
                localCount / inProcess);
    std::printf("  ratio (across / in process): %.2f\n", remote / inProcess);
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
    std::string plain = files.File("large.bin");
    esefixture::WriteFileBytes(plain, std::string(kLargeBytes, 'x'));

    ComPtr<IEseStore> store = OpenRemote(path, files.Folder("work-large"));
    ComPtr<IEseFolder> large;
    Check(store->GetFolder(folder, 0, &large), "GetFolder");
    ComPtr<IEseMessage> holder;
    Check(large->GetMessage(id, &holder), "GetMessage");
    std::vector<char> buffer(kChunk);
    LARGE_INTEGER start = Now();
    ComPtr<IStream> stream;
    Check(holder->OpenProperty(0x1000001F, &stream), "OpenProperty");
    ULONGLONG remoteBytes = 0;
    for (;;) {
        ULONG read = 0;
        HRESULT hr = stream->Read(buffer.data(), kChunk, &read);
        Check(hr, "Read");
        remoteBytes += read;
        if (hr != S_OK || read == 0)
            break;
    }
    LARGE_INTEGER end = Now();
    double remote = Seconds(start, end);

    start = Now();
    HANDLE file = CreateFileA(plain.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open the plain file");
    ULONGLONG localBytes = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), kChunk, &read, nullptr) || read == 0)
            break;
        localBytes += read;
    }
    CloseHandle(file);
    end = Now();
    double local = Seconds(start, end);

    const double mb = 1024.0 * 1024.0;
    std::printf("%.0f MB property in 1 MiB reads:\n", kLargeBytes / mb);
    std::printf("  OpenProperty across processes: %.0f MB in %.3f s (%.1f MB/s)\n", remoteBytes / mb, remote,
                remoteBytes / mb / remote);
    std::printf("  plain local file:              %.0f MB in %.3f s (%.1f MB/s)\n", localBytes / mb, local,
                localBytes / mb / local);
}

} // namespace

int main()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int result = 0;
    try {
        esefixture::CTempFolder files;
        BenchRows(files);
        BenchStream(files);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench failed: %s\n", error.what());
        result = 1;
    }
    CoUninitialize();
    return result;
}
