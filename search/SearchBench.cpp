// A search over a folder of 10,000 messages to its end, as a MAPI client
// runs it (search folder, criteria, contents table, search-complete
// notification), next to the text extraction alone of the same bodies in
// the same run: the same converters on the same bytes in process, without
// the server, the rows, the working table or the restriction. The search's
// share is the ratio; at most 1.5 is the goal.
//
// The bodies: a third each held only as compressed RTF, only as HTML and
// only as MIME (multipart/alternative, plain text and HTML, as Internet mail
// comes); prose paragraphs with some bold and coloured words, of 1 to 5 KiB
// of text, and one message in twenty of 12 to 24 KiB (too large for the
// server's rows, so read as streams). One message in a hundred holds the
// word searched for.
//
// Needs htmlfilter.dll registered (scripts/bench.sh does) and a display for
// the RichEdit window.
#include "SearchPlatform.h"
#include "CEntryId.h"
#include "CException.h"
#include "HtmlToText.h"
#include "MessageFixtures.h"
#include "MimeMessage.h"
#include "ProviderMemory.h"
#include "RTFToText.h"
#include "SearchPhases.h"
#include "testing/ProviderFixture.h"
#include "testing/SearchFixture.h"
#include "testing/SearchTestSupport.h"

#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace exchangefixture;
using namespace providertest;

namespace {

constexpr int kMessages = 10000;
constexpr int kRuns = 2;
constexpr char kWord[] = "quillfeather";

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

class CProse {
public:
    unsigned Random(unsigned n)
    {
        m_seed = m_seed * 1103515245u + 12345u;
        return (m_seed >> 16) % n;
    }

    // Paragraphs of about `bytes` of text; emphasis marks a word in one of
    // three: 0 plain, 1 bold, 2 red italics.
    std::vector<std::vector<std::pair<std::string, int>>> Paragraphs(size_t bytes, bool withWord)
    {
        static const char* const words[] = {"the",     "quarterly", "figures", "are",      "attached", "please",
                                            "review",  "them",      "before",  "Monday's", "meeting",  "we",
                                            "expect",  "budget",    "forecast", "and",     "of",       "team",
                                            "project", "schedule",  "customer", "delivery", "a",       "to"};
        std::vector<std::vector<std::pair<std::string, int>>> paragraphs;
        size_t size = 0;
        bool placed = !withWord;
        while (size < bytes) {
            std::vector<std::pair<std::string, int>> paragraph;
            const size_t length = 200 + Random(600);
            size_t in = 0;
            while (in < length) {
                std::string word = words[Random(sizeof words / sizeof words[0])];
                if (!placed && Random(40) == 0) {
                    word = kWord;
                    placed = true;
                }
                const unsigned kind = Random(30);
                paragraph.push_back({word + " ", kind < 2 ? static_cast<int>(kind) + 1 : 0});
                in += word.size() + 1;
            }
            size += in;
            paragraphs.push_back(std::move(paragraph));
        }
        if (!placed)
            paragraphs.back().push_back({std::string(kWord) + ".", 0});
        return paragraphs;
    }

private:
    unsigned m_seed = 7;
};

enum class EForm { Rtf, Html, Mime };

struct SBody {
    EForm form;
    std::string bytes;  // compressed RTF, HTML or MIME text
};

std::string RtfOf(const std::vector<std::vector<std::pair<std::string, int>>>& paragraphs)
{
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
                      "{\\colortbl;\\red255\\green0\\blue0;}\\uc1\\pard\\plain\\f0\\fs20 ";
    static const char* const open[] = {"", "{\\b ", "{\\i\\cf1 "};
    for (const auto& paragraph : paragraphs) {
        for (const auto& span : paragraph)
            rtf += std::string(open[span.second]) + span.first + (span.second ? "}" : "");
        rtf += "\\par\n";
    }
    return rtf + "}";
}

std::string HtmlOf(const std::vector<std::vector<std::pair<std::string, int>>>& paragraphs)
{
    std::string html = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=us-ascii\">"
                       "</head><body>";
    static const char* const open[] = {"", "<b>", "<i style=\"color:red\">"};
    static const char* const close[] = {"", "</b>", "</i>"};
    for (const auto& paragraph : paragraphs) {
        html += "<p>";
        for (const auto& span : paragraph)
            html += std::string(open[span.second]) + span.first + close[span.second];
        html += "</p>\n";
    }
    return html + "</body></html>";
}

std::string PlainOf(const std::vector<std::vector<std::pair<std::string, int>>>& paragraphs)
{
    std::string text;
    for (const auto& paragraph : paragraphs) {
        for (const auto& span : paragraph)
            text += span.first;
        text += "\r\n\r\n";
    }
    return text;
}

std::string MimeOf(int n, const std::vector<std::vector<std::pair<std::string, int>>>& paragraphs)
{
    return "From: Bruno Castell <bruno@example.com>\r\n"
           "To: Searcher <searcher@example.com>\r\n"
           "Subject: Message " + std::to_string(n) + "\r\n"
           "Date: Fri, 4 Jul 2003 09:15:00 +0200\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/alternative; boundary=\"alt-boundary\"\r\n"
           "\r\n"
           "--alt-boundary\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n"
           "\r\n" + PlainOf(paragraphs) + "\r\n"
           "--alt-boundary\r\n"
           "Content-Type: text/html; charset=us-ascii\r\n"
           "\r\n" + HtmlOf(paragraphs) + "\r\n"
           "--alt-boundary--\r\n";
}

// The same work the search does for a body, in process.
class CExtraction {
public:
    size_t Extract(const SBody& body)
    {
        ComPtr<IStream> input = searchtest::StreamOf(body.bytes);
        ComPtr<IStream> output = searchtest::EmptyStream();
        switch (body.form) {
        case EForm::Rtf:
            m_rtf.Convert(input.Get(), output.Get());
            break;
        case EForm::Html:
            m_html.Convert(input.Get(), output.Get());
            break;
        case EForm::Mime: {
            const SMapiMemory memory = ProviderMapiMemory();
            SMessageAllocators allocators{memory.allocateBuffer, memory.allocateMore, memory.freeBuffer,
                                          MAPIGetDefaultMalloc()};
            ComPtr<IMessage> message;
            Check(MessageFromMime(input.Get(), allocators, message.GetAddressOf()), "MessageFromMime");
            ComPtr<IStream> text;
            Check(message->OpenProperty(PR_BODY_W, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(text.GetAddressOf())),
                  "OpenProperty(PR_BODY_W)");
            size_t total = 0;
            char buffer[65536];
            for (;;) {
                ULONG read = 0;
                if (FAILED(text->Read(buffer, sizeof(buffer), &read)) || read == 0)
                    break;
                total += read;
            }
            return total;
        }
        }
        return searchtest::BytesOf(output.Get()).size();
    }

private:
    RTFToText m_rtf;
    HtmlToText m_html;
};

void PrintResult(const char* figure, double value, const char* reference, double referenceValue)
{
    std::printf("RESULT\t%s\t%.3f\t%s\t%s\t%.3f\t%.2f\n", figure, value, "s", reference, referenceValue,
                referenceValue > 0 ? value / referenceValue : 0.0);
}

// The block the engine publishes its phases into (SearchPhases.h).
class CPhaseBlock {
public:
    CPhaseBlock()
    {
        wchar_t name[64];
        SearchPhaseBlockName(name, sizeof(name) / sizeof(name[0]));
        m_block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SSearchPhaseTimes),
                                     name);
        if (!m_block)
            throw std::runtime_error("cannot make the block for the search's phases");
        m_times = static_cast<SSearchPhaseTimes*>(MapViewOfFile(m_block, FILE_MAP_WRITE, 0, 0, sizeof(SSearchPhaseTimes)));
        if (!m_times)
            throw std::runtime_error("cannot map the block for the search's phases");
    }
    ~CPhaseBlock()
    {
        UnmapViewOfFile(m_times);
        CloseHandle(m_block);
    }
    void Clear() { std::memset(m_times, 0, sizeof(*m_times)); }
    SSearchPhaseTimes Read() const { return *m_times; }

private:
    HANDLE m_block = nullptr;
    SSearchPhaseTimes* m_times = nullptr;
};

int Run()
{
    CMapiClient client;
    Check(client.Status(), "MAPIInitialize");

    const double buildStart = Now();
    CExchangeDatabase database;
    SMailbox box = database.AddMailbox(L"Bench");
    const int64_t folder = database.AddFolder(box.topId, L"Big");
    std::vector<SBody> bodies;
    bodies.reserve(kMessages);
    CProse prose;
    size_t large = 0, totalBytes = 0, matching = 0;
    for (int i = 0; i < kMessages; ++i) {
        const bool big = prose.Random(20) == 0;
        const size_t size = big ? 12288 + prose.Random(12288) : 1024 + prose.Random(4096);
        const bool withWord = i % 100 == 37;
        const auto paragraphs = prose.Paragraphs(size, withWord);
        SBody body;
        body.form = static_cast<EForm>(i % 3);
        SMessage message;
        const std::wstring subject = L"Message " + std::to_wstring(i);
        switch (body.form) {
        case EForm::Rtf:
            body.bytes = CompressedRtf(RtfOf(paragraphs));
            message.subject = message.normalizedSubject = subject;
            message.msgRow.push_back(Binary("N1009", body.bytes));
            break;
        case EForm::Html:
            body.bytes = HtmlOf(paragraphs);
            message = HtmlMessage(subject, body.bytes, L"");
            break;
        case EForm::Mime:
            body.bytes = MimeOf(i, paragraphs);
            message = MimeOnlyMessage(subject, body.bytes);
            break;
        }
        large += body.bytes.size() > 8192;
        totalBytes += body.bytes.size();
        matching += withWord;
        message.senderName = L"Sender " + std::to_wstring(i % 50);
        database.AddMessage(folder, message);
        bodies.push_back(std::move(body));
    }
    const std::wstring path = CFixtureFiles::Instance().Folder(L"searchbench.edb");
    database.Write(std::string(path.begin(), path.end()));
    std::printf("fixture of %d messages (%.1f MB of bodies, %zu of them over 8 KiB) written in %.1f s\n", kMessages,
                totalBytes / 1e6, large, Now() - buildStart);

    SStoreSettings settings;
    settings.databasePath = path;
    settings.logFolder = CFixtureFiles::Instance().LogFolder();
    CStoreSession session(settings, L"SearchBench");
    Check(session.Status(), "logon");
    const CEntryId bigId = FolderId(session.Uid(), box.rootId, folder);

    searchtest::CRestrictionBuilder builder;
    const std::wstring word(kWord, kWord + sizeof(kWord) - 1);
    SRestriction* restriction = builder.Content(PR_BODY_W, word.c_str());
    size_t found = 0;
    auto search = [&]() {
        searchtest::CSearchFolder searchFolder(session.Store(), L"Bench search");
        Check(searchFolder.Status(), "search folder");
        const double start = Now();
        Check(searchFolder.SetCriteria(restriction, {bigId}, 0), "SetSearchCriteria");
        ComPtr<IMAPITable> table = searchFolder.Contents();
        if (!table)
            throw std::runtime_error("no contents table");
        if (!searchFolder.Sink().Wait(1, 30 * 60 * 1000))
            throw std::runtime_error("the search did not end");
        const double seconds = Now() - start;
        ULONG count = 0;
        table->GetRowCount(0, &count);
        found = count;
        return seconds;
    };

    auto inUse = [] {
        PROCESS_MEMORY_COUNTERS memory = {};
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
        return memory.PagefileUsage / 1e6;
    };
    CPhaseBlock phaseBlock;
    CExtraction extraction;
    size_t textBytes = 0;
    double perForm[3] = {};
    auto extract = [&]() {
        textBytes = 0;
        double total = 0;
        std::fill(std::begin(perForm), std::end(perForm), 0.0);
        for (const SBody& body : bodies) {
            const double start = Now();
            textBytes += extraction.Extract(body);
            const double spent = Now() - start;
            perForm[static_cast<int>(body.form)] += spent;
            total += spent;
        }
        return total;
    };

    double searchBest = 0, extractBest = 0;
    // The phases of the run with the fastest search, and that run's figures.
    SSearchPhaseTimes phases = {};
    double phaseSearch = 0, phaseExtract = 0, phaseForm[3] = {};
    for (int run = 0; run < kRuns; ++run) {
        const double m0 = inUse();
        phaseBlock.Clear();
        const double s = search();
        const SSearchPhaseTimes times = phaseBlock.Read();
        const double m1 = inUse();
        const double e = extract();
        if (times.searches != 1)
            throw std::runtime_error("the engine published " + std::to_string(times.searches) + " searches, not one");
        if (run == 0 || s < searchBest) {
            phases = times;
            phaseSearch = s;
            phaseExtract = e;
            std::copy(std::begin(perForm), std::end(perForm), std::begin(phaseForm));
        }
        std::printf("run %d phases (s): engine %.2f, server rows %.2f, row building %.2f, large values %.2f, RTF %.2f, "
                    "HTML %.2f, MIME %.2f, working insert %.2f, restriction %.2f, result insert %.2f; %lu rows\n",
                    run + 1, times.seconds[kPhaseWhole], times.seconds[kPhaseServerRows],
                    times.seconds[kPhaseRowBuilding], times.seconds[kPhaseLargeReads], times.seconds[kPhaseRtf],
                    times.seconds[kPhaseHtml], times.seconds[kPhaseMime], times.seconds[kPhaseWorkingInsert],
                    times.seconds[kPhaseRestriction], times.seconds[kPhaseResultInsert],
                    static_cast<unsigned long>(times.messages));
        // What a run leaves behind shows from one run to the next (README:
        // Wine's RichEdit keeps a little of every RTF body).
        std::printf("memory in use: %.0f MB before the search, %.0f MB after, %.0f MB after the extraction\n", m0,
                    m1, inUse());
        searchBest = run == 0 ? s : std::min(searchBest, s);
        extractBest = run == 0 ? e : std::min(extractBest, e);
        std::printf("run %d: search %.2f s (%zu found), extraction %.2f s (RTF %.2f, HTML %.2f, MIME %.2f; %.1f MB "
                    "of text)\n",
                    run + 1, s, found, e, perForm[0], perForm[1], perForm[2], textBytes / 1e6);
        std::fflush(stdout);
    }
    if (found != matching)
        throw std::runtime_error("the search found " + std::to_string(found) + " of " + std::to_string(matching) +
                                 " messages");
    std::printf("RESULT\t%s\t%.3f\t%s\t%s\t%.3f\t%.2f\n",
                "search of 10,000 messages with RTF, HTML and MIME bodies to completion (search/extraction, at most 1.5)",
                searchBest, "s", "text extraction alone of the same bodies in process", extractBest,
                searchBest / extractBest);

    // Where the search's time went: each phase of the fastest search against
    // that search as a whole, and the conversions against the same
    // extraction in process of the same run.
    const double* t = phases.seconds;
    const char* whole = "the whole search, same run";
    PrintResult("search phase: outside the engine (criteria, thread start, notification; share of the search)",
                phaseSearch - t[kPhaseWhole], whole, phaseSearch);
    PrintResult("search phase: server rows of the messages table across processes (share)", t[kPhaseServerRows],
                whole, phaseSearch);
    PrintResult("search phase: row building, identity columns (share)", t[kPhaseRowBuilding], whole, phaseSearch);
    PrintResult("search phase: values too large for the rows, read from the server (share)", t[kPhaseLargeReads],
                whole, phaseSearch);
    double walked = 0;
    for (int i = kPhaseServerRows; i < kPhaseCount; ++i)
        walked += t[i];
    PrintResult("search phase: rest of the engine (folder walk, polls; share)", t[kPhaseWhole] - walked, whole,
                phaseSearch);
    PrintResult("search phase: rows into the working table (share)", t[kPhaseWorkingInsert], whole, phaseSearch);
    PrintResult("search phase: MAPI restriction over the working table (share)", t[kPhaseRestriction], whole,
                phaseSearch);
    PrintResult("search phase: matches into the result table (share)", t[kPhaseResultInsert], whole, phaseSearch);
    PrintResult("search phase: RTF bodies to text (search/extraction, same bodies)", t[kPhaseRtf],
                "RTF extraction in process, same run", phaseForm[0]);
    PrintResult("search phase: HTML bodies to text (search/extraction, same bodies)", t[kPhaseHtml],
                "HTML extraction in process, same run", phaseForm[1]);
    PrintResult("search phase: MIME bodies to text (search/extraction, same bodies)", t[kPhaseMime],
                "MIME extraction in process, same run", phaseForm[2]);
    PrintResult("search phase: all conversions (search/extraction)", t[kPhaseRtf] + t[kPhaseHtml] + t[kPhaseMime],
                "the whole extraction in process, same run", phaseExtract);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main()
{
    int result = 1;
    try {
        result = Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    } catch (const CException& error) {
        std::fprintf(stderr, "%ls\n", error.GetText() ? error.GetText() : L"");
    }
    return result;
}
