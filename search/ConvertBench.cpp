// Throughput of the two body converters on bodies of the size a mailbox
// holds: a 1 MiB HTML page through the HTML filter and a 256 KiB RTF body
// through the RichEdit control. Needs htmlfilter.dll registered (its tests
// or regsvr32 do that) and a display for the RichEdit window.
#include "SearchPlatform.h"
#include "HtmlToText.h"
#include "RTFToText.h"

#include "CException.h"
#include "testing/SearchTestSupport.h"

#include <cstdio>
#include <string>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

template <typename F>
void Measure(const char* name, size_t inputBytes, int rounds, F&& convert)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    size_t outputBytes = 0;
    for (int i = 0; i < rounds; ++i)
        outputBytes = convert();
    QueryPerformanceCounter(&end);
    const double seconds = Seconds(start, end) / rounds;
    std::printf("%-6s input %7.0f KiB  output %7.0f KiB  %8.2f ms per body  %6.1f MiB/s\n", name,
                inputBytes / 1024.0, outputBytes / 1024.0, seconds * 1000, inputBytes / seconds / (1 << 20));
}

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
        Measure("HTML", html.size(), 10, [&] {
            ComPtr<IStream> output = searchtest::EmptyStream();
            htmlConverter.Convert(searchtest::StreamOf(html).Get(), output.Get());
            return searchtest::BytesOf(output.Get()).size();
        });

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
        Measure("RTF", rtf.size(), 5, [&] {
            LARGE_INTEGER zero{};
            compressed->Seek(zero, STREAM_SEEK_SET, nullptr);
            ComPtr<IStream> output = searchtest::EmptyStream();
            rtfConverter.Convert(compressed.Get(), output.Get());
            return searchtest::BytesOf(output.Get()).size();
        });
    } catch (const CException& error) {
        std::printf("conversion failed: %ls\n", error.GetText() ? error.GetText() : L"");
        return 1;
    }
    return 0;
}
