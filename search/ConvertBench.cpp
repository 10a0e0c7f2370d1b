// Throughput of the two body converters on bodies of the sizes a mailbox
// holds. The same generated text is written as RTF (stored compressed, as
// PR_RTF_COMPRESSED is) and as HTML, in two shapes: "lines", a paragraph per
// short line as plain-text mail carried in RTF has, and "prose", long
// formatted paragraphs. Each RTF figure is measured with one converter
// converting the same body again and again, as a search over similar bodies
// does; its reference is the HTML converter on the same text.
//
// The RichEdit control empties itself at the start of each conversion; on
// Wine that costs time growing with runs times paragraphs of the previous
// body. The "clearing" lines measure it apart: a tiny body after the big one
// pays it (less what a tiny body after a tiny one costs), the big one after a
// tiny one does not.
//
// Needs htmlfilter.dll registered (its tests or regsvr32 do that) and a
// display for the RichEdit window.
#include "SearchPlatform.h"
#include "HtmlToText.h"
#include "RTFToText.h"

#include "CException.h"
#include "testing/SearchTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// Median seconds of one call of work, over at least minRounds calls and
// about minSeconds in all.
template <typename F>
double MedianSeconds(F&& work, int minRounds = 3, double minSeconds = 0.4)
{
    std::vector<double> times;
    const double start = Now();
    while (static_cast<int>(times.size()) < minRounds || (Now() - start < minSeconds && times.size() < 200)) {
        const double t0 = Now();
        work();
        times.push_back(Now() - t0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double MiBps(size_t bytes, double seconds)
{
    return bytes / seconds / (1 << 20);
}

void Result(const std::string& name, double value, const char* unit, const std::string& referenceName,
            double reference)
{
    std::printf("RESULT\t%s\t%.3f\t%s\t%s\t%.3f\t%.3f\n", name.c_str(), value, unit, referenceName.c_str(),
                reference, reference != 0 ? value / reference : 0.0);
}

// A piece of body text with its emphasis.
struct Span {
    std::string text; // ASCII plus "\xe9" (e acute) and "\x80" (euro sign)
    int emphasis;     // 0 plain, 1 bold, 2 italic in red
};
using Paragraph = std::vector<Span>;

enum class Shape { Lines, Prose };

class TextGenerator {
public:
    Paragraph Next(Shape shape)
    {
        static const char* const words[] = {"the", "quarterly", "figures", "are", "attached", "please",
                                            "review", "before", "Monday", "meeting", "caf\xe9", "\x80",
                                            "budget", "forecast", "and", "of", "team", "r\xe9sum\xe9"};
        const size_t length = shape == Shape::Lines ? 20 + Random(60) : 200 + Random(700);
        Paragraph paragraph;
        size_t size = 0;
        std::string plain;
        while (size < length) {
            std::string word = words[Random(sizeof words / sizeof words[0])];
            const unsigned kind = Random(shape == Shape::Lines ? 80 : 30);
            if (kind < 2) {
                if (!plain.empty())
                    paragraph.push_back({plain, 0});
                plain.clear();
                paragraph.push_back({word, kind == 0 ? 1 : 2});
                plain = " ";
            } else {
                plain += word + " ";
            }
            size += word.size() + 1;
        }
        if (!plain.empty())
            paragraph.push_back({plain, 0});
        return paragraph;
    }

private:
    unsigned Random(unsigned n)
    {
        m_seed = m_seed * 1103515245u + 12345u;
        return (m_seed >> 16) % n;
    }
    unsigned m_seed = 1;
};

std::string RtfText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\xe9')
            out += "\\'e9";
        else if (c == '\x80')
            out += "\\u8364?";
        else
            out += c;
    }
    return out;
}

std::string HtmlText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\xe9')
            out += "&eacute;";
        else if (c == '\x80')
            out += "&#8364;";
        else
            out += c;
    }
    return out;
}

struct Body {
    std::string rtf;
    std::string html;
};

// Paragraphs until the RTF holds at least rtfBytes.
Body MakeBody(Shape shape, size_t rtfBytes)
{
    Body body;
    body.rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
               "{\\colortbl;\\red255\\green0\\blue0;}\\uc1\\pard\\plain\\f0\\fs20 ";
    body.html = "<html><head><style>p{margin:0}</style></head><body>";
    TextGenerator generator;
    while (body.rtf.size() < rtfBytes) {
        body.html += "<p>";
        for (const Span& span : generator.Next(shape)) {
            static const char* const rtfOpen[] = {"", "{\\b ", "{\\i\\cf1 "};
            static const char* const htmlOpen[] = {"", "<b>", "<i style=\"color:red\">"};
            static const char* const htmlClose[] = {"", "</b>", "</i>"};
            body.rtf += rtfOpen[span.emphasis] + RtfText(span.text) + (span.emphasis ? "}" : "");
            body.html += htmlOpen[span.emphasis] + HtmlText(span.text) + htmlClose[span.emphasis];
        }
        body.rtf += "\\par\n";
        body.html += "</p>\n";
    }
    body.rtf += "}";
    body.html += "</body></html>";
    return body;
}

ComPtr<IStream> Compressed(const std::string& rtf)
{
    ComPtr<IStream> stored = searchtest::EmptyStream();
    ComPtr<IStream> plain;
    if (FAILED(WrapCompressedRTFStream(stored.Get(), MAPI_MODIFY, &plain)))
        return nullptr;
    ULONG written = 0;
    plain->Write(rtf.data(), static_cast<ULONG>(rtf.size()), &written);
    plain->Commit(STGC_DEFAULT);
    return stored;
}

void Rewind(IStream* stream)
{
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

size_t ConvertRtf(RTFToText& converter, IStream* compressed)
{
    Rewind(compressed);
    ComPtr<IStream> output = searchtest::EmptyStream();
    converter.Convert(compressed, output.Get());
    return searchtest::BytesOf(output.Get()).size();
}

size_t ConvertHtml(HtmlToText& converter, const std::string& html)
{
    ComPtr<IStream> output = searchtest::EmptyStream();
    converter.Convert(searchtest::StreamOf(html).Get(), output.Get());
    return searchtest::BytesOf(output.Get()).size();
}

// Reading the decompressed RTF alone, the floor under any conversion.
double DecompressionSeconds(IStream* compressed)
{
    return MedianSeconds([&] {
        Rewind(compressed);
        ComPtr<IStream> plain;
        if (FAILED(WrapCompressedRTFStream(compressed, 0, &plain)))
            return;
        static char buffer[4096];
        ULONG read = 0;
        do {
            read = 0;
            if (FAILED(plain->Read(buffer, sizeof buffer, &read)))
                break;
        } while (read == sizeof buffer);
    });
}

} // namespace

int main()
{
    searchtest::CComScope com;
    try {
        HtmlToText htmlConverter;
        RTFToText rtfConverter;
        ComPtr<IStream> tiny = Compressed(R"({\rtf1\ansi x\par})");
        // A tiny body after a tiny one: what every conversion costs whatever
        // its size, taken off the clearing times below.
        const double tinyAfterTiny = MedianSeconds([&] { ConvertRtf(rtfConverter, tiny.Get()); }, 20, 0.1);
        std::printf("RTF   a tiny body: %.2f ms\n", tinyAfterTiny * 1000);

        for (Shape shape : {Shape::Lines, Shape::Prose}) {
            const char* shapeName = shape == Shape::Lines ? "lines" : "prose";
            for (size_t kib : {4u, 20u, 64u, 256u}) {
                const Body body = MakeBody(shape, kib << 10);
                ComPtr<IStream> compressed = Compressed(body.rtf);
                size_t rtfText = 0, htmlText = 0;
                const double rtf = MedianSeconds([&] { rtfText = ConvertRtf(rtfConverter, compressed.Get()); });
                const double html = MedianSeconds([&] { htmlText = ConvertHtml(htmlConverter, body.html); });
                // The big body after a tiny one, and a tiny one after the big one.
                double fresh = 0, clearing = 0;
                {
                    std::vector<double> freshTimes, clearTimes;
                    for (int i = 0; i < 3; ++i) {
                        ConvertRtf(rtfConverter, tiny.Get());
                        double t0 = Now();
                        ConvertRtf(rtfConverter, compressed.Get());
                        freshTimes.push_back(Now() - t0);
                        t0 = Now();
                        ConvertRtf(rtfConverter, tiny.Get());
                        clearTimes.push_back(Now() - t0);
                    }
                    std::sort(freshTimes.begin(), freshTimes.end());
                    std::sort(clearTimes.begin(), clearTimes.end());
                    fresh = freshTimes[1];
                    clearing = std::max(0.0, clearTimes[1] - tinyAfterTiny);
                }
                const double decompression = DecompressionSeconds(compressed.Get());
                std::printf("%-5s %3zu KiB: RTF %7zu B -> %7zu B text  %8.2f ms (%6.2f MiB/s)  "
                            "[into an empty control %7.2f ms, clearing it after %7.2f ms, decompression %6.2f ms]  "
                            "HTML %7zu B -> %7zu B text %7.2f ms (%6.2f MiB/s)\n",
                            shapeName, kib, body.rtf.size(), rtfText, rtf * 1000, MiBps(body.rtf.size(), rtf),
                            fresh * 1000, clearing * 1000, decompression * 1000, body.html.size(), htmlText,
                            html * 1000, MiBps(body.html.size(), html));
                const std::string size = std::to_string(kib) + " KiB";
                Result(std::string("RTF-to-text ") + shapeName + " " + size +
                           " (MiB/s of RTF, goal >= 2; ratio RTF/HTML, good near 1)",
                       MiBps(body.rtf.size(), rtf), "MiB/s",
                       std::string("HTML-to-text of the same text (MiB/s of HTML)"),
                       MiBps(body.html.size(), html));
                Result(std::string("RTF-to-text ") + shapeName + " " + size +
                           " emptying the control of the previous body (ms; ratio to the whole conversion, good near 0)",
                       clearing * 1000, "ms", "whole conversion (ms)", rtf * 1000);
            }
        }

        // A page of the size a newsletter has, against copying its bytes.
        std::string page = "<html><head><style>p{margin:0}</style></head><body>";
        while (page.size() < (1u << 20))
            page += "<p>Dear team, the <b>quarterly</b> figures &amp; forecasts are attached &ndash; "
                    "<a href=\"http://example.com/x\">see here</a>.</p><table><tr><td>Q1</td><td>12</td></tr></table>";
        page += "</body></html>";
        const double html = MedianSeconds([&] { ConvertHtml(htmlConverter, page); });
        std::vector<char> copy(page.size());
        const double memory = MedianSeconds([&] { std::memcpy(copy.data(), page.data(), page.size()); }, 20, 0.05);
        std::printf("HTML  1 MiB page: %.2f ms (%.2f MiB/s)\n", html * 1000, MiBps(page.size(), html));
        Result("HTML-to-text 1 MiB page (MiB/s of HTML; ratio to a memory copy)", MiBps(page.size(), html), "MiB/s",
               "memory copy of the page (MiB/s)", MiBps(page.size(), memory));
    } catch (const CException& error) {
        std::printf("conversion failed: %ls\n", error.GetText() ? error.GetText() : L"");
        return 1;
    }
    return 0;
}
