// Throughput of the two body converters on bodies of the size a mailbox
// holds: a 1 MiB HTML page through the HTML filter and a 256 KiB RTF body
// through the RichEdit control, each next to the platform piece alone on the
// same input (the filter's chunks and text read and dropped; a RichEdit
// control on this thread streaming the uncompressed RTF in and its text out).
// Needs htmlfilter.dll registered (scripts/bench.sh does that) and a display
// for the RichEdit window.
#include "SearchPlatform.h"
#include "HtmlToText.h"
#include "RTFToText.h"

#include "CException.h"
#include "testing/SearchTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// Seconds per body.
template <typename F>
double Measure(const char* name, size_t inputBytes, int rounds, F&& convert)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    size_t outputBytes = 0;
    for (int i = 0; i < rounds; ++i)
        outputBytes = convert();
    QueryPerformanceCounter(&end);
    const double seconds = Seconds(start, end) / rounds;
    std::printf("%-14s input %7.0f KiB  output %7.0f KiB  %8.2f ms per body  %6.1f MiB/s\n", name,
                inputBytes / 1024.0, outputBytes / 1024.0, seconds * 1000, inputBytes / seconds / (1 << 20));
    return seconds;
}

void Result(const char* figure, double value, const char* unit, const char* reference, double referenceValue)
{
    std::printf("RESULT\t%s\t%.4f\t%s\t%s\t%.4f\t%.2f\n", figure, value, unit, reference, referenceValue,
                referenceValue > 0 ? value / referenceValue : 0.0);
}

// The filter alone: every chunk and all its text read and dropped.
size_t FilterAlone(const CLSID& filterClsid, IStream* input)
{
    ComPtr<IFilter> filter;
    ComPtr<IPersistStream> persist;
    ULONG flags = 0;
    if (FAILED(CoCreateInstance(filterClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IFilter,
                                reinterpret_cast<void**>(filter.GetAddressOf()))) ||
        FAILED(filter.As(&persist)) || FAILED(persist->Load(input)) ||
        FAILED(filter->Init(IFILTER_INIT_CANON_PARAGRAPHS | IFILTER_INIT_CANON_HYPHENS | IFILTER_INIT_CANON_SPACES |
                                IFILTER_INIT_APPLY_INDEX_ATTRIBUTES | IFILTER_INIT_INDEXING_ONLY,
                            0, nullptr, &flags)))
        return 0;
    size_t units = 0;
    wchar_t buffer[4096];
    for (;;) {
        STAT_CHUNK chunk{};
        HRESULT hr = filter->GetChunk(&chunk);
        if (hr == FILTER_E_END_OF_CHUNKS || (FAILED(hr) && hr != FILTER_E_EMBEDDING_UNAVAILABLE &&
                                             hr != FILTER_E_LINK_UNAVAILABLE))
            break;
        if (FAILED(hr) || !(chunk.flags & CHUNK_TEXT))
            continue;
        for (;;) {
            ULONG count = 4096;
            if (FAILED(filter->GetText(&count, buffer)))
                break;
            units += count;
        }
    }
    return units * sizeof(wchar_t);
}

// A RichEdit control on this thread, fed from memory and read into memory.
class CRichEditAlone {
public:
    CRichEditAlone()
    {
        m_module = LoadLibraryW(L"Riched20.dll");
        m_window = CreateWindowExW(WS_EX_TOOLWINDOW, L"RichEdit20W", L"bench", WS_OVERLAPPEDWINDOW | ES_MULTILINE,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        if (m_window)
            SendMessageW(m_window, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
    }
    ~CRichEditAlone()
    {
        if (m_window)
            DestroyWindow(m_window);
        if (m_module)
            FreeLibrary(m_module);
    }
    // Bytes of text out.
    size_t Convert(const std::string& rtf)
    {
        if (!m_window)
            return 0;
        SInput input{&rtf, 0};
        EDITSTREAM in{reinterpret_cast<DWORD_PTR>(&input), 0, &ReadIn};
        SendMessageW(m_window, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&in));
        std::string text;
        EDITSTREAM out{reinterpret_cast<DWORD_PTR>(&text), 0, &WriteOut};
        SendMessageW(m_window, EM_STREAMOUT, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&out));
        return text.size();
    }

private:
    struct SInput {
        const std::string* data;
        size_t at;
    };
    static DWORD CALLBACK ReadIn(DWORD_PTR cookie, LPBYTE buffer, LONG cb, LONG* pcb)
    {
        auto* input = reinterpret_cast<SInput*>(cookie);
        size_t count = std::min(static_cast<size_t>(cb), input->data->size() - input->at);
        std::memcpy(buffer, input->data->data() + input->at, count);
        input->at += count;
        *pcb = static_cast<LONG>(count);
        return 0;
    }
    static DWORD CALLBACK WriteOut(DWORD_PTR cookie, LPBYTE buffer, LONG cb, LONG* pcb)
    {
        reinterpret_cast<std::string*>(cookie)->append(reinterpret_cast<const char*>(buffer), cb);
        *pcb = cb;
        return 0;
    }
    HMODULE m_module = nullptr;
    HWND m_window = nullptr;
};

} // namespace

int main()
{
    searchtest::CComScope com;
    try {
        std::string html = "<html><head><style>p{margin:0}</style></head><body>";
        while (html.size() < (1u << 20))
            html += "<p>Dear team, the <b>quarterly</b> figures &amp; forecasts are attached &ndash; "
                    "<a href=\"http://example.com/x\">see here</a>.</p><table><tr><td>Q1</td><td>12</td></tr></table>";
        html += "</body></html>";
        HtmlToText htmlConverter;
        double htmlSeconds = Measure("HTML", html.size(), 10, [&] {
            ComPtr<IStream> output = searchtest::EmptyStream();
            htmlConverter.Convert(searchtest::StreamOf(html).Get(), output.Get());
            return searchtest::BytesOf(output.Get()).size();
        });
        double filterSeconds = Measure("HTML filter", html.size(), 10, [&] {
            return FilterAlone(htmlConverter.FilterClsid(), searchtest::StreamOf(html).Get());
        });
        Result("HTML to text, 1 MiB page (vs the HTML filter alone: 1 = nothing added)", htmlSeconds * 1000, "ms",
               "the filter's chunks and text read alone", filterSeconds * 1000);

        std::string rtf = R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0 Arial;}}\f0\fs20 )";
        while (rtf.size() < (256u << 10))
            rtf += R"(Dear team, the {\b quarterly} figures are attached \'e9\u8364?\par )";
        rtf += "}";
        ComPtr<IStream> compressed = searchtest::EmptyStream();
        {
            ComPtr<IStream> plain;
            if (FAILED(WrapCompressedRTFStream(compressed.Get(), MAPI_MODIFY, &plain)))
                return 1;
            ULONG written = 0;
            plain->Write(rtf.data(), static_cast<ULONG>(rtf.size()), &written);
            plain->Commit(STGC_DEFAULT);
        }
        RTFToText rtfConverter;
        double rtfSeconds = Measure("RTF", rtf.size(), 5, [&] {
            LARGE_INTEGER zero{};
            compressed->Seek(zero, STREAM_SEEK_SET, nullptr);
            ComPtr<IStream> output = searchtest::EmptyStream();
            rtfConverter.Convert(compressed.Get(), output.Get());
            return searchtest::BytesOf(output.Get()).size();
        });
        CRichEditAlone richEdit;
        double richEditSeconds = Measure("RichEdit", rtf.size(), 5, [&] { return richEdit.Convert(rtf); });
        Result("RTF to text, 256 KiB compressed body (vs a RichEdit control alone on the plain RTF)",
               rtfSeconds * 1000, "ms", "RichEdit on this thread, RTF from memory", richEditSeconds * 1000);
    } catch (const CException& error) {
        std::printf("conversion failed: %ls\n", error.GetText() ? error.GetText() : L"");
        return 1;
    }
    return 0;
}
