#include "ProviderPlatform.h"
#include "RawValues.h"
#include "CLastError.h"
#include "EseValueConversion.h"
#include "ProviderLog.h"
#include "ProviderMemory.h"

#include <cstring>

namespace {

constexpr ULONG kBytesPerDumpLine = 48;

// Bytes read for a fixed-width type, 0 when the type has no fixed width.
ULONG FixedWidth(ULONG type)
{
    switch (type) {
    case PT_I2:
        return 2;
    case PT_BOOLEAN:
        return 1;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
        return 4;
    case PT_DOUBLE:
    case PT_APPTIME:
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME:
        return 8;
    case PT_CLSID:
        return sizeof(GUID);
    default:
        return 0;
    }
}

// A copy of size bytes followed by a zero terminator of unitSize bytes (and
// padding to whole units), so the copy is a string whatever the bytes hold.
HRESULT CopyTerminated(LPVOID parent, const BYTE* data, ULONG size, ULONG unitSize, LPVOID* out)
{
    *out = nullptr;
    const ULONG padded = (size + unitSize - 1) / unitSize * unitSize;
    if (padded < size || padded > 0x7FFFFFF0u - unitSize)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    LPVOID block = nullptr;
    const HRESULT hr = ProviderAllocateMore(padded + unitSize, parent, &block);
    if (FAILED(hr))
        return hr;
    std::memset(block, 0, padded + unitSize);
    std::memcpy(block, data, size);
    *out = block;
    return S_OK;
}

HRESULT Build(SPropValue& dst, ULONG tag, const BYTE* data, ULONG size, LPVOID parent)
{
    const ULONG type = PROP_TYPE(tag);
    const ULONG width = FixedWidth(type);
    if (size < width)
        return MAPI_E_CORRUPT_DATA;
    auto& out = dst.Value;
    LPVOID block = nullptr;
    HRESULT hr = S_OK;
    switch (type) {
    case PT_BINARY:
        hr = MapiCopyBytes(parent, size, data, &block);
        out.bin.cb = size;
        out.bin.lpb = static_cast<LPBYTE>(block);
        return hr;
    case PT_STRING8:
        hr = CopyTerminated(parent, data, size, 1, &block);
        out.lpszA = static_cast<LPSTR>(block);
        return hr;
    case PT_UNICODE:
        hr = CopyTerminated(parent, data, size, sizeof(wchar_t), &block);
        out.lpszW = static_cast<LPWSTR>(block);
        return hr;
    case PT_CLSID:
        hr = MapiCopyBytes(parent, sizeof(GUID), data, &block);
        out.lpguid = static_cast<LPGUID>(block);
        return hr;
    case PT_NULL:
    case PT_OBJECT:
        return S_OK;
    case PT_I2:
        std::memcpy(&out.i, data, 2);
        return S_OK;
    case PT_BOOLEAN:
        out.b = static_cast<unsigned short>(static_cast<short>(static_cast<signed char>(data[0])));
        return S_OK;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
        std::memcpy(&out.l, data, 4);
        return S_OK;
    default:
        if (width == 8)
            std::memcpy(&out.li, data, 8);
        return S_OK;
    }
}

} // namespace

int GetRawValueSize(ULONG type, const BYTE* data, int max)
{
    if (max < 0 || !data)
        max = 0;
    const auto fits = [max](int size) { return size <= max ? size : -1; };
    switch (PROP_TYPE(type)) {
    case PT_NULL:
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
    case PT_OBJECT:
        return fits(4);
    case PT_I2:
    case PT_BOOLEAN:
        return fits(2);
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
        return fits(8);
    case PT_CLSID:
        return fits(16);
    case PT_STRING8: {
        const void* end = max ? std::memchr(data, 0, static_cast<size_t>(max)) : nullptr;
        return end ? static_cast<int>(static_cast<const BYTE*>(end) - data) + 1 : -1;
    }
    case PT_UNICODE:
        // Byte-wise: records are packed, so a string need not be aligned.
        for (int i = 0; 2 * i + 1 < max; ++i)
            if (data[2 * i] == 0 && data[2 * i + 1] == 0)
                return 2 * i + 2;
        return -1;
    case PT_BINARY: {
        if (max < 2)
            return -1;
        const int n = data[0] | data[1] << 8;
        return fits(n + 2);
    }
    default:
        return 0;
    }
}

HRESULT ValueFromBytes(SPropValue* dst, ULONG tag, const BYTE* data, ULONG size, LPVOID parent)
{
    if (!dst || !data)
        return E_INVALIDARG;
    dst->ulPropTag = tag;
    dst->dwAlignPad = 0;
    std::memset(&dst->Value, 0, sizeof(dst->Value));
    const HRESULT hr = Build(*dst, tag, data, size, parent);
    if (FAILED(hr)) {
        dst->ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        std::memset(&dst->Value, 0, sizeof(dst->Value));
        dst->Value.err = hr;
    }
    return hr;
}

std::wstring FormatHexDump(const wchar_t* prefix, const BYTE* data, ULONG size)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text = prefix ? prefix : L"";
    text += L"\r\n";
    if (!data)
        size = 0;
    text.reserve(text.size() + size * 3 + size / kBytesPerDumpLine * 2);
    for (ULONG i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0xF];
        text += L' ';
        if ((i + 1) % kBytesPerDumpLine == 0)
            text += L"\r\n";
    }
    return text;
}

int LogHexDump(const wchar_t* prefix, const BYTE* data, ULONG size)
{
    CLastError record;
    return LogHexDump(record.LogPath(), prefix, data, size);
}

int LogHexDump(std::wstring& logPath, const wchar_t* prefix, const BYTE* data, ULONG size)
{
    WriteLogLine(logPath, FormatHexDump(prefix, data, size).c_str());
    return 0;
}
