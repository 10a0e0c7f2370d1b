// In-process read rate of the table engine: a folder of 10,000 messages
// joined with "Msg", 20 columns selected, every row read in one GetRows, as
// the provider's contents tables read them. Prints the time and the rates.
#include "Platform.h"
#include "objects/CEseTableImpl.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"

#include <cstdio>
#include <exception>
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

} // namespace

int main()
{
    const int kMessages = 10000;
    try {
        LARGE_INTEGER start, built, end;
        QueryPerformanceCounter(&start);
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
        CFixtureStore store(database);
        QueryPerformanceCounter(&built);

        const std::vector<unsigned long> tags = {
            0x0037001F, 0x0E1D001F, 0x003D001F, 0x0042001F, 0x674A0014, 0x67B00014, 0x67480014,
            0x0E080003, 0x0E070003, 0x0E060040, 0x1000001F, 0x0064001F, 0x0065001F, 0x0C1A001F,
            0x0C1F001F, 0x0C1E001F, 0x67B60102, 0x67B30102, 0x3001001F, 0x0E1B000B};
        NJbFramework::CSharedRef<CEseTableImpl> messages(new CEseTableImpl(
            0x674A, store.Context(), CExchangeDatabase::MessageTable(folder).c_str(), kKindFolderMessages));
        messages->AddLinkedTable(
            0x67B0, NJbFramework::CSharedRef<CEseTableImpl>(new CEseTableImpl(0x67B0, store.Context(), "Msg", kKindMsg)));
        LARGE_INTEGER read0;
        QueryPerformanceCounter(&read0);
        messages->SetColumns(static_cast<unsigned long>(tags.size()), tags.data());
        unsigned long count = 0;
        _SEseRow* rows = nullptr;
        messages->GetRows(0x7FFFFFFF, true, &count, &rows);
        QueryPerformanceCounter(&end);
        FreeEseRows(rows, count);

        double seconds = Seconds(read0, end);
        std::printf("fixture of %d messages built in %.2f s\n", kMessages, Seconds(start, built));
        std::printf("in-process SetColumns(%u) + GetRows: %lu rows in %.3f s, %.0f rows/s, %.0f values/s\n",
                    static_cast<unsigned>(tags.size()), count, seconds, count / seconds,
                    count * static_cast<double>(tags.size()) / seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench failed: %s\n", error.what());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "bench failed\n");
        return 1;
    }
    return 0;
}
