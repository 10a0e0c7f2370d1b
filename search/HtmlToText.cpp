#include "SearchPlatform.h"
#include "HtmlToText.h"

#include "CException.h"
#include "ProviderLog.h"
#include "TextFold.h"

#include <string>
#include <vector>

namespace {

constexpr wchar_t kHandlerKey[] = L".HTML\\PersistentHandler";
constexpr wchar_t kFilterAddinKey[] = L"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";

constexpr ULONG kInitFlags = IFILTER_INIT_CANON_PARAGRAPHS | IFILTER_INIT_CANON_HYPHENS | IFILTER_INIT_CANON_SPACES |
                             IFILTER_INIT_APPLY_INDEX_ATTRIBUTES | IFILTER_INIT_INDEXING_ONLY;
static_assert(kInitFlags == 0x5D, "the flags the filter is initialised with");

// Characters asked of the filter per GetText.
constexpr ULONG kPieceSize = 4096;

[[noreturn]] void Throw(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text;
    FormatWideV(text, format, args);
    va_end(args);
    CException error;
    error.Format(L"%s", text.c_str());
    throw error;
}

// The default value of a key under HKEY_CLASSES_ROOT, as the text of a
// GUID in braces (80 bytes are room for one and its terminator).
std::wstring ReadClassesValue(const std::wstring& key)
{
    wchar_t value[40] = {};
    LONG size = sizeof(value) - sizeof(wchar_t); // the last unit stays a terminator
    if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS)
        Throw(L"cannot get filter classid, regvalue=%s", key.c_str());
    return value;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

void WriteUnits(IStream* output, const wchar_t* units, size_t count)
{
    const ULONG bytes = static_cast<ULONG>(count * sizeof(wchar_t));
    ULONG written = 0;
    HRESULT hr = output->Write(units, bytes, &written);
    // A stream that takes less than all of it loses text as surely as one that fails.
    if (SUCCEEDED(hr) && written != bytes)
        hr = STG_E_MEDIUMFULL;
    if (FAILED(hr))
        Throw(L"cannot write text to ouput stream, error=%x", hr);
}

} // namespace

void HtmlToText::GetHtmlFilterClsid()
{
    const std::wstring handler = ReadClassesValue(kHandlerKey);
    const std::wstring filter = ReadClassesValue(L"CLSID\\" + handler + kFilterAddinKey);
    CLSID clsid;
    if (FAILED(IIDFromString(filter.c_str(), &clsid)))
        Throw(L"cannot get filter classid from string=%s", filter.c_str());
    m_filterClsid = clsid;
}

void HtmlToText::FoldPunctuationAndWrite(IStream* output, const wchar_t* piece, size_t length)
{
    std::vector<wchar_t> folded(piece, piece + length);
    for (wchar_t& unit : folded)
        unit = FoldTextUnit(unit);
    WriteUnits(output, folded.data(), folded.size());
}

void HtmlToText::Convert(IStream* input, IStream* output)
{
    if (IsEqualCLSID(m_filterClsid, GUID_NULL))
        GetHtmlFilterClsid();

    ComPtr<IFilter> filter;
    HRESULT hr = CoCreateInstance(m_filterClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IFilter,
                                  reinterpret_cast<void**>(filter.GetAddressOf()));
    if (FAILED(hr))
        Throw(L"cannot create html filter, error=%x", hr);
    ComPtr<IPersistStream> persist;
    if (FAILED(filter.As(&persist)))
        Throw(L"fail to get IPersistStream for html filter");
    hr = persist->Load(input);
    if (FAILED(hr))
        Throw(L"fail to load html filter, error=%x", hr);
    ULONG flags = 0;
    hr = filter->Init(kInitFlags, 0, nullptr, &flags);
    if (FAILED(hr))
        Throw(L"html filter initialization is failed, error=%x", hr);

    std::vector<wchar_t> buffer(kPieceSize + 1);
    for (;;) {
        STAT_CHUNK chunk{};
        hr = filter->GetChunk(&chunk);
        if (hr == FILTER_E_END_OF_CHUNKS)
            break;
        if (hr == FILTER_E_EMBEDDING_UNAVAILABLE || hr == FILTER_E_LINK_UNAVAILABLE)
            continue;
        if (FAILED(hr))
            Throw(L"cannot get next chunk from html filter, error=%x", hr);
        if (!(chunk.flags & CHUNK_TEXT))
            continue;

        switch (chunk.breakType) {
        case CHUNK_EOW:
            WriteUnits(output, L" ", 1);
            break;
        case CHUNK_EOS:
        case CHUNK_EOP:
        case CHUNK_EOC:
            WriteUnits(output, L"\r\n", 2);
            break;
        default:
            break;
        }

        // Pieces of one chunk are trimmed one by one; where white space was
        // trimmed between two of them one blank keeps the words apart.
        bool wroteInChunk = false;
        bool gap = false;
        for (;;) {
            std::fill(buffer.begin(), buffer.end(), L'\0');
            ULONG count = kPieceSize;
            hr = filter->GetText(&count, buffer.data());
            if (hr == FILTER_E_NO_MORE_TEXT)
                break;
            if (FAILED(hr))
                Throw(L"cannot get text from html filter, error=%x", hr);
            // The filter says how much it wrote; a NUL in the text is folded, not an end.
            const size_t length = count < kPieceSize ? count : kPieceSize;
            size_t first = 0;
            size_t last = length;
            while (first < last && IsBlank(buffer[first]))
                ++first;
            while (last > first && IsBlank(buffer[last - 1]))
                --last;
            if (first == last) {
                gap = gap || length > 0;
            } else {
                if (wroteInChunk && (gap || first > 0))
                    WriteUnits(output, L" ", 1);
                FoldPunctuationAndWrite(output, buffer.data() + first, last - first);
                wroteInChunk = true;
                gap = last < length;
            }
            if (hr == FILTER_S_LAST_TEXT)
                break;
        }
    }
}
