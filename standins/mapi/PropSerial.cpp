#include "MapiStandin.h"
#include "PropSerial.h"
#include "PropValue.h"

#include <cstring>

namespace mapistub {

static void Append(std::vector<BYTE>& out, const void* data, size_t cb)
{
    const BYTE* p = static_cast<const BYTE*>(data);
    out.insert(out.end(), p, p + cb);
}

static void SerialiseSingle(const SPropValue& value, std::vector<BYTE>& out)
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_STRING8:
        Append(out, value.Value.lpszA, std::strlen(value.Value.lpszA) + 1);
        break;
    case PT_UNICODE:
        Append(out, value.Value.lpszW, (wcslen(value.Value.lpszW) + 1) * sizeof(WCHAR));
        break;
    case PT_BINARY:
        Append(out, value.Value.bin.lpb, value.Value.bin.cb);
        break;
    case PT_CLSID:
        Append(out, value.Value.lpguid, sizeof(GUID));
        break;
    default:
        Append(out, &value.Value, sizeof(value.Value));
        break;
    }
}

std::vector<BYTE> SerialiseValue(const SPropValue& value)
{
    std::vector<BYTE> out;
    if (!mapistub::IsMultiValued(value.ulPropTag)) {
        SerialiseSingle(value, out);
        return out;
    }
    ULONG count = mapistub::ElementCount(value);
    Append(out, &count, sizeof(count));
    for (ULONG i = 0; i < count; ++i) {
        std::vector<BYTE> element;
        SerialiseSingle(mapistub::Element(value, i), element);
        ULONG cb = static_cast<ULONG>(element.size());
        Append(out, &cb, sizeof(cb));
        Append(out, element.data(), element.size());
    }
    return out;
}

// Rebuilds a value into a single MAPI buffer; false for malformed bytes.
static bool ReadSingle(ULONG type, const BYTE* data, size_t cb, SPropValue& value, void* root)
{
    auto more = [&](size_t size) -> void* {
        void* p = nullptr;
        if (MAPIAllocateMore(static_cast<ULONG>(size ? size : 1), root, &p) != S_OK)
            return nullptr;
        return p;
    };
    value.ulPropTag = PROP_TAG(type, 0);
    switch (type) {
    case PT_STRING8: {
        char* text = static_cast<char*>(more(cb + 1));
        if (!text)
            return false;
        std::memcpy(text, data, cb);
        text[cb] = 0;
        value.Value.lpszA = text;
        return true;
    }
    case PT_UNICODE: {
        size_t chars = cb / sizeof(WCHAR);
        WCHAR* text = static_cast<WCHAR*>(more((chars + 1) * sizeof(WCHAR)));
        if (!text)
            return false;
        std::memcpy(text, data, chars * sizeof(WCHAR));
        text[chars] = 0;
        value.Value.lpszW = text;
        return true;
    }
    case PT_BINARY: {
        BYTE* bytes = static_cast<BYTE*>(more(cb));
        if (!bytes)
            return false;
        std::memcpy(bytes, data, cb);
        value.Value.bin.cb = static_cast<ULONG>(cb);
        value.Value.bin.lpb = bytes;
        return true;
    }
    case PT_CLSID: {
        if (cb != sizeof(GUID))
            return false;
        GUID* guid = static_cast<GUID*>(more(sizeof(GUID)));
        if (!guid)
            return false;
        std::memcpy(guid, data, sizeof(GUID));
        value.Value.lpguid = guid;
        return true;
    }
    default:
        if (cb != sizeof(value.Value))
            return false;
        std::memcpy(&value.Value, data, cb);
        return true;
    }
}

bool DeserialiseValue(ULONG tag, const std::vector<BYTE>& bytes, SPropValue& value, void* root)
{
    ULONG type = PROP_TYPE(tag);
    if (!mapistub::IsMultiValued(tag)) {
        if (!ReadSingle(type, bytes.data(), bytes.size(), value, root))
            return false;
        value.ulPropTag = tag;
        return true;
    }
    ULONG base = mapistub::BaseType(tag);
    if (bytes.size() < 4)
        return false;
    ULONG count = 0;
    std::memcpy(&count, bytes.data(), 4);
    std::vector<SPropValue> elements(count);
    size_t at = 4;
    for (ULONG i = 0; i < count; ++i) {
        ULONG cb = 0;
        if (bytes.size() - at < 4)
            return false;
        std::memcpy(&cb, bytes.data() + at, 4);
        at += 4;
        if (bytes.size() - at < cb)
            return false;
        if (!ReadSingle(base, bytes.data() + at, cb, elements[i], root))
            return false;
        at += cb;
    }
    // Multi-valued arrays of every type are laid out as {count, pointer}.
    size_t elementSize = 0;
    switch (base) {
    case PT_I2: elementSize = sizeof(short); break;
    case PT_LONG: elementSize = sizeof(LONG); break;
    case PT_R4: elementSize = sizeof(float); break;
    case PT_DOUBLE: case PT_APPTIME: elementSize = sizeof(double); break;
    case PT_CURRENCY: elementSize = sizeof(CURRENCY); break;
    case PT_SYSTIME: elementSize = sizeof(FILETIME); break;
    case PT_I8: elementSize = sizeof(LARGE_INTEGER); break;
    case PT_CLSID: elementSize = sizeof(GUID); break;
    case PT_BINARY: elementSize = sizeof(SBinary); break;
    case PT_STRING8: elementSize = sizeof(LPSTR); break;
    case PT_UNICODE: elementSize = sizeof(LPWSTR); break;
    default: return false;
    }
    void* array = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(elementSize * (count ? count : 1)), root, &array) != S_OK)
        return false;
    BYTE* p = static_cast<BYTE*>(array);
    for (ULONG i = 0; i < count; ++i, p += elementSize) {
        const SPropValue& e = elements[i];
        switch (base) {
        case PT_BINARY: std::memcpy(p, &e.Value.bin, elementSize); break;
        case PT_STRING8: std::memcpy(p, &e.Value.lpszA, elementSize); break;
        case PT_UNICODE: std::memcpy(p, &e.Value.lpszW, elementSize); break;
        case PT_CLSID: std::memcpy(p, e.Value.lpguid, elementSize); break;
        default: std::memcpy(p, &e.Value, elementSize); break;
        }
    }
    value.ulPropTag = tag;
    value.Value.MVl.cValues = count;
    value.Value.MVl.lpl = static_cast<LONG*>(array);
    return true;
}

} // namespace mapistub
