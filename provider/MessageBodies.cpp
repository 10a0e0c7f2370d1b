#include "ProviderPlatform.h"
#include "MessageBodies.h"

#include <algorithm>
#include <cwchar>

bool IsBodyTag(ULONG tag)
{
    return tag == kPrBodyW || tag == kPrRtfCompressed || tag == kPrHtml;
}

bool IsTooLargeServerValue(const _SEsePropertyValue& value)
{
    return PROP_TYPE(value.m_tag) == PT_ERROR && value.m_type == ESE_PT_ERROR &&
           value.m_value.m_err.m_code == E_OUTOFMEMORY;
}

bool IsPresentServerValue(const _SEsePropertyValue& value)
{
    const ULONG type = PROP_TYPE(value.m_tag);
    if (type == PT_ERROR)
        return IsTooLargeServerValue(value);
    return type != PT_NULL;
}

bool IsUnicodeText(const void* bytes, ULONG size)
{
    if (!bytes || size == 0)
        return false;
    return IsTextUnicode(bytes, static_cast<int>(size), nullptr) != FALSE;
}

std::wstring WideFromAnsi(const void* bytes, ULONG size)
{
    const char* text = static_cast<const char*>(bytes);
    if (!text)
        return std::wstring();
    while (size > 0 && text[size - 1] == '\0')
        --size;
    if (size == 0)
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), &wide[0], length);
    return wide;
}

ULONG WideByteCount(const wchar_t* text)
{
    return text ? static_cast<ULONG>(std::wcslen(text) * sizeof(wchar_t)) : 0;
}

HRESULT ReadStreamBytes(IStream* stream, ULONG limit, std::vector<BYTE>& bytes)
{
    if (!stream)
        return E_INVALIDARG;
    constexpr ULONG kPiece = 65536;
    ULONG taken = 0;
    for (;;) {
        const ULONG want = limit ? std::min(kPiece, limit - taken) : kPiece;
        if (want == 0)
            return S_OK;
        const size_t at = bytes.size();
        bytes.resize(at + want);
        ULONG read = 0;
        const HRESULT hr = stream->Read(bytes.data() + at, want, &read);
        if (FAILED(hr) || read > want) {
            bytes.resize(at);
            return FAILED(hr) ? hr : MAPI_E_CORRUPT_DATA;
        }
        bytes.resize(at + read);
        taken += read;
        if (read == 0 || hr == S_FALSE)
            return S_OK;
    }
}

namespace {

// Where the text of pending can be cut so that no double-byte character is
// split and trailing zero bytes (possibly the end's padding) wait for more.
size_t ConvertibleLength(const std::vector<BYTE>& pending)
{
    size_t whole = 0;
    for (size_t i = 0; i < pending.size();) {
        const size_t width = IsDBCSLeadByte(pending[i]) ? 2 : 1;
        if (i + width > pending.size())
            break;
        i += width;
        whole = i;
    }
    while (whole > 0 && pending[whole - 1] == 0)
        --whole;
    return whole;
}

HRESULT WriteWide(IStream* out, const BYTE* text, size_t size)
{
    if (size == 0)
        return S_OK;
    const char* ansi = reinterpret_cast<const char*>(text);
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(size), nullptr, 0);
    if (length <= 0)
        return S_OK;
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, static_cast<int>(size), &wide[0], length);
    ULONG written = 0;
    return out->Write(wide.data(), static_cast<ULONG>(wide.size() * sizeof(wchar_t)), &written);
}

} // namespace

HRESULT WideStreamFromAnsi(const std::vector<BYTE>& head, IStream* rest, IStream** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    ComPtr<IStream> wide;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, wide.GetAddressOf());
    if (FAILED(hr))
        return hr;
    std::vector<BYTE> pending = head;
    for (bool more = rest != nullptr;;) {
        const size_t cut = ConvertibleLength(pending);
        hr = WriteWide(wide.Get(), pending.data(), cut);
        if (FAILED(hr))
            return hr;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(cut));
        if (!more)
            break;
        const size_t before = pending.size();
        hr = ReadStreamBytes(rest, kBodyTestBytes, pending);
        if (FAILED(hr))
            return hr;
        more = pending.size() - before == kBodyTestBytes;
    }
    // What is left is zero padding, or a lead byte the text ends on.
    while (!pending.empty() && pending.back() == 0)
        pending.pop_back();
    hr = WriteWide(wide.Get(), pending.data(), pending.size());
    if (FAILED(hr))
        return hr;
    LARGE_INTEGER start = {};
    hr = wide->Seek(start, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr))
        return hr;
    *out = wide.Detach();
    return S_OK;
}
