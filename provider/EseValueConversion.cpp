#include "ProviderPlatform.h"
#include "EseValueConversion.h"
#include "ProviderMemory.h"

#include <cstring>
#include <cwchar>

namespace {

// The largest block the conversion asks for; element counts beyond it would
// overflow the size computation and are answered as the allocator would.
constexpr ULONG kMaxBlock = 0x7FFFFFF0u;

HRESULT CopyArray(LPVOID parent, ULONG count, ULONG elementSize, const void* elements, LPVOID* out)
{
    *out = nullptr;
    if (elementSize && count > kMaxBlock / elementSize)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    if (count && !elements)
        return MAPI_E_CORRUPT_DATA;
    return MapiCopyBytes(parent, count * elementSize, elements, out);
}

HRESULT CopyString8(LPVOID parent, const char* text, LPSTR* out)
{
    *out = nullptr;
    if (!text)
        return MAPI_E_CORRUPT_DATA;
    LPVOID copy = nullptr;
    const HRESULT hr = MapiCopyBytes(parent, static_cast<ULONG>(strlen(text) + 1), text, &copy);
    *out = static_cast<LPSTR>(copy);
    return hr;
}

HRESULT CopyString16(LPVOID parent, const wchar_t* text, LPWSTR* out)
{
    *out = nullptr;
    if (!text)
        return MAPI_E_CORRUPT_DATA;
    LPVOID copy = nullptr;
    const HRESULT hr =
        MapiCopyBytes(parent, static_cast<ULONG>((wcslen(text) + 1) * sizeof(wchar_t)), text, &copy);
    *out = static_cast<LPWSTR>(copy);
    return hr;
}

// Element-wise copies of multi-valued strings and binaries: every element is
// checked, so a failed copy never leaves a dangling element behind.
template <typename Element, typename CopyOne>
HRESULT CopyPointerArray(LPVOID parent, ULONG count, const Element* elements, Element** out, CopyOne copyOne)
{
    *out = nullptr;
    LPVOID block = nullptr;
    HRESULT hr = CopyArray(parent, count, sizeof(Element), elements, &block);
    if (FAILED(hr))
        return hr;
    auto* copies = static_cast<Element*>(block);
    for (ULONG i = 0; i < count; ++i) {
        hr = copyOne(elements[i], copies[i]);
        if (FAILED(hr))
            return hr;
    }
    *out = copies;
    return S_OK;
}

HRESULT Convert(SPropValue& dst, const _SEsePropertyValue& src, LPVOID parent)
{
    const auto& v = src.m_value;
    auto& out = dst.Value;
    LPVOID block = nullptr;
    HRESULT hr = S_OK;
    switch (PROP_TYPE(src.m_tag)) {
    case PT_UNSPECIFIED:
    case PT_BINARY:
    case 0x0105:
        hr = CopyArray(parent, v.m_bin.m_count, 1, v.m_bin.m_p_bt, &block);
        out.bin.cb = v.m_bin.m_count;
        out.bin.lpb = static_cast<LPBYTE>(block);
        return hr;
    case PT_STRING8:
        return CopyString8(parent, v.m_p_s, &out.lpszA);
    case PT_UNICODE:
        return CopyString16(parent, v.m_p_ws, &out.lpszW);
    case PT_CLSID:
        hr = CopyArray(parent, 1, sizeof(GUID), v.m_p_g, &block);
        out.lpguid = static_cast<LPGUID>(block);
        return hr;
    case PT_NULL:
        dst.ulPropTag = CHANGE_PROP_TYPE(src.m_tag, PT_ERROR);
        out.err = MAPI_E_NOT_FOUND;
        return S_OK;
    case PT_I2:
        out.i = v.m_i16;
        return S_OK;
    case PT_BOOLEAN:
        out.b = static_cast<unsigned short>(static_cast<short>(v.m_b));
        return S_OK;
    case PT_LONG:
    case PT_R4:
        out.l = v.m_i32;
        return S_OK;
    case PT_ERROR:
        // The server's error record is {source, code}: the code is the
        // result, the source (at the start of the union) would read as
        // S_OK and hide that the value is missing or too large.
        out.err = src.m_type == ESE_PT_ERROR ? v.m_err.m_code : v.m_i32;
        return S_OK;
    case PT_DOUBLE:
    case PT_APPTIME:
        out.dbl = v.m_d;
        return S_OK;
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME:
        out.li.QuadPart = v.m_i64;
        return S_OK;
    case PT_OBJECT:
        return S_OK;
    case PT_MV_I2:
        hr = CopyArray(parent, v.m_mv_i16.m_count, 2, v.m_mv_i16.m_p_i16, &block);
        out.MVi.cValues = v.m_mv_i16.m_count;
        out.MVi.lpi = static_cast<short*>(block);
        return hr;
    case PT_MV_LONG:
    case PT_MV_R4:
        hr = CopyArray(parent, v.m_mv_i32.m_count, 4, v.m_mv_i32.m_p_i32, &block);
        out.MVl.cValues = v.m_mv_i32.m_count;
        out.MVl.lpl = static_cast<LONG*>(block);
        return hr;
    case PT_MV_DOUBLE:
    case PT_MV_CURRENCY:
    case PT_MV_APPTIME:
    case PT_MV_I8:
    case PT_MV_SYSTIME:
        hr = CopyArray(parent, v.m_mv_i64.m_count, 8, v.m_mv_i64.m_p_i64, &block);
        out.MVli.cValues = v.m_mv_i64.m_count;
        out.MVli.lpli = static_cast<LARGE_INTEGER*>(block);
        return hr;
    case PT_MV_CLSID:
        hr = CopyArray(parent, v.m_mv_g.m_count, sizeof(GUID), v.m_mv_g.m_p_g, &block);
        out.MVguid.cValues = v.m_mv_g.m_count;
        out.MVguid.lpguid = static_cast<LPGUID>(block);
        return hr;
    case PT_MV_STRING8:
        out.MVszA.cValues = v.m_mv_s.m_count;
        return CopyPointerArray(parent, v.m_mv_s.m_count, v.m_mv_s.m_pp_s, &out.MVszA.lppszA,
                                [parent](LPSTR from, LPSTR& to) { return CopyString8(parent, from, &to); });
    case PT_MV_UNICODE:
        out.MVszW.cValues = v.m_mv_ws.m_count;
        return CopyPointerArray(parent, v.m_mv_ws.m_count, v.m_mv_ws.m_pp_ws, &out.MVszW.lppszW,
                                [parent](LPWSTR from, LPWSTR& to) { return CopyString16(parent, from, &to); });
    case PT_MV_BINARY: {
        static_assert(sizeof(_SEseBinary) == sizeof(SBinary), "binary records");
        out.MVbin.cValues = v.m_mv_bin.m_count;
        SBinary* copies = nullptr;
        hr = CopyPointerArray(parent, v.m_mv_bin.m_count, reinterpret_cast<const SBinary*>(v.m_mv_bin.m_p_bin),
                              &copies, [parent](const SBinary& from, SBinary& to) {
                                  LPVOID bytes = nullptr;
                                  const HRESULT one = CopyArray(parent, from.cb, 1, from.lpb, &bytes);
                                  to.cb = from.cb;
                                  to.lpb = static_cast<LPBYTE>(bytes);
                                  return one;
                              });
        out.MVbin.lpbin = copies;
        return hr;
    }
    default:
        return S_OK;
    }
}

} // namespace

HRESULT MapiCopyBytes(LPVOID parent, ULONG size, const void* src, LPVOID* out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (size && !src)
        return E_INVALIDARG;
    LPVOID block = nullptr;
    const HRESULT hr = ProviderAllocateMore(size, parent, &block);
    if (FAILED(hr))
        return hr;
    if (size)
        std::memcpy(block, src, size);
    *out = block;
    return S_OK;
}

HRESULT ConvertEseValue(SPropValue* dst, const _SEsePropertyValue* src, LPVOID parent)
{
    if (!dst || !src)
        return E_INVALIDARG;
    dst->ulPropTag = src->m_tag;
    dst->dwAlignPad = 0;
    std::memset(&dst->Value, 0, sizeof(dst->Value));
    const HRESULT hr = Convert(*dst, *src, parent);
    if (FAILED(hr)) {
        dst->ulPropTag = CHANGE_PROP_TYPE(src->m_tag, PT_ERROR);
        std::memset(&dst->Value, 0, sizeof(dst->Value));
        dst->Value.err = hr;
    }
    return hr;
}

HRESULT ConvertEseRow(SPropValue* dst, const _SEseRow& srcRow, ULONG first, LPVOID parent)
{
    if (first >= srcRow.m_valueCount || !srcRow.m_p_values)
        return S_OK;
    if (!dst)
        return E_INVALIDARG;
    for (ULONG i = first; i < srcRow.m_valueCount; ++i)
        ConvertEseValue(&dst[i - first], &srcRow.m_p_values[i], parent);
    return S_OK;
}
