#include "Platform.h"
#include "ContractSamples.h"
#include "CRegistrar.h"
#include "ContractTestIds.h"

#include <cstring>
#include <cwchar>
#include <sstream>
#include <vector>

namespace contract_samples {

const char kStreamText[] = "stream behind an interface value";

namespace {

const GUID kGuidA = {0x01234567, 0x89ab, 0xcdef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
const GUID kGuidB = {0xfedcba98, 0x7654, 0x3210, {0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10}};

template <typename T>
T* Block(const T* source, size_t count)
{
    if (!source)
        return nullptr;
    T* block = static_cast<T*>(CoTaskMemAlloc(sizeof(T) * (count ? count : 1)));
    if (count)
        std::memcpy(block, source, sizeof(T) * count);
    return block;
}

char* Str8(const char* s) { return s ? Block(s, std::strlen(s) + 1) : nullptr; }
wchar_t* Str16(const wchar_t* s) { return s ? Block(s, std::wcslen(s) + 1) : nullptr; }

IUnknown* TextStream()
{
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    stream->Write(kStreamText, sizeof kStreamText, &written);
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::string StreamText(IUnknown* unknown)
{
    if (!unknown)
        return "<null>";
    ComPtr<IStream> stream;
    if (FAILED(unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()))))
        return "<no IStream>";
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    char buffer[128] = {};
    ULONG read = 0;
    stream->Read(buffer, sizeof buffer - 1, &read);
    return std::string(buffer, read);
}

class Values {
public:
    _SEsePropertyValue& Add(_EEsePropertyType type)
    {
        _SEsePropertyValue value = {};
        value.m_tag = (0x6600u + static_cast<ULONG>(m_values.size())) << 16 | (type & 0xFFFF);
        value.m_type = type;
        m_values.push_back(value);
        return m_values.back();
    }
    _SEsePropertyValue* Release(ULONG* count)
    {
        *count = static_cast<ULONG>(m_values.size());
        return Block(m_values.data(), m_values.size());
    }

private:
    std::vector<_SEsePropertyValue> m_values;
};

template <typename Array, typename T>
void SetArray(Array& array, T*& elements, std::initializer_list<T> items)
{
    array.m_count = static_cast<ULONG>(items.size());
    elements = items.size() ? Block(items.begin(), items.size()) : nullptr;
}

_SEseBinary Binary(const char* bytes, ULONG count)
{
    _SEseBinary binary = {count, count ? Block(reinterpret_cast<const BYTE*>(bytes), count) : nullptr};
    return binary;
}

void Describe(std::ostringstream& out, const char* what) { out << what << "; "; }

template <typename Array, typename T>
bool SameArray(const Array& a, const T* pa, const Array& b, const T* pb)
{
    if (a.m_count != b.m_count)
        return false;
    if (a.m_count == 0)
        return true;
    if (!pa || !pb)
        return pa == pb;
    return std::memcmp(pa, pb, sizeof(T) * a.m_count) == 0;
}

bool SameStr8(const char* a, const char* b) { return (!a || !b) ? a == b : std::strcmp(a, b) == 0; }
bool SameStr16(const wchar_t* a, const wchar_t* b) { return (!a || !b) ? a == b : std::wcscmp(a, b) == 0; }
bool SameBinary(const _SEseBinary& a, const _SEseBinary& b)
{
    if (a.m_count != b.m_count)
        return false;
    if (!a.m_count)
        return true;
    return a.m_p_bt && b.m_p_bt && std::memcmp(a.m_p_bt, b.m_p_bt, a.m_count) == 0;
}

} // namespace

std::wstring BesideThisProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result = path;
    return result.erase(result.find_last_of(L'\\') + 1) + name;
}

HRESULT RegisterTestServer(bool unregister)
{
    static const common::RegistryRow rows[] = {
        {L"CLSID\\" CONTRACT_TEST_SERVER_CLSID, nullptr, L"contract test server", common::RegistryRow::ForceRemove},
        {L"CLSID\\" CONTRACT_TEST_SERVER_CLSID L"\\LocalServer32", nullptr, L"%MODULE%", 0},
    };
    common::CRegistrar registrar(rows, 2);
    registrar.AddReplacement(L"%MODULE%", BesideThisProgram(L"VostrelContractTestServer.exe"));
    return unregister ? registrar.Unregister(false) : registrar.Register(false);
}

BYTE LargeStreamByte(ULONG offset) { return static_cast<BYTE>(offset * 131 + (offset >> 12)); }

_SEsePropertyValue* BuildValues(ULONG* count)
{
    Values values;
    auto& err = values.Add(ESE_PT_ERROR);
    err.m_value.m_err.m_source = ESE_ERR_SRC_JET;
    err.m_value.m_err.m_code = -1305;
    values.Add(ESE_PT_BOOL).m_value.m_b = 1;
    values.Add(ESE_PT_INT8).m_value.m_i8 = -5;
    values.Add(ESE_PT_INT16).m_value.m_i16 = -1234;
    values.Add(ESE_PT_INT32).m_value.m_i32 = -123456789;
    values.Add(ESE_PT_INT64).m_value.m_i64 = -(1LL << 40) - 7;
    values.Add(ESE_PT_FLOAT).m_value.m_f = 3.5f;
    values.Add(ESE_PT_DOUBLE).m_value.m_d = -2.25e100;
    values.Add(ESE_PT_DATETIME).m_value.m_dt = 45000.75;
    auto& ft = values.Add(ESE_PT_FILETIME);
    ft.m_value.m_ft.dwLowDateTime = 0x89ABCDEF;
    ft.m_value.m_ft.dwHighDateTime = 0x01D2E3F4;
    values.Add(ESE_PT_GUID).m_value.m_p_g = Block(&kGuidA, 1);
    values.Add(ESE_PT_GUID).m_value.m_p_g = nullptr;
    values.Add(ESE_PT_STRING8).m_value.m_p_s = Str8("plain ANSI text");
    values.Add(ESE_PT_STRING8).m_value.m_p_s = Str8("");
    values.Add(ESE_PT_STRING8).m_value.m_p_s = nullptr;
    values.Add(ESE_PT_STRING16).m_value.m_p_ws = Str16(L"Gr\u00fc\u00dfe \u65e5\u672c \u2713");
    values.Add(ESE_PT_STRING16).m_value.m_p_ws = Str16(L"");
    values.Add(ESE_PT_STRING16).m_value.m_p_ws = nullptr;
    values.Add(ESE_PT_INTERFACE).m_value.m_p_i = TextStream();
    values.Add(ESE_PT_INTERFACE).m_value.m_p_i = nullptr;
    values.Add(ESE_PT_BINARY).m_value.m_bin = Binary("\x00\x01\xfe\xff\x7f", 5);
    values.Add(ESE_PT_BINARY).m_value.m_bin = Binary(nullptr, 0);
    values.Add(ESE_PT_UINT8).m_value.m_ui8 = 250;
    values.Add(ESE_PT_UINT16).m_value.m_ui16 = 65000;
    values.Add(ESE_PT_UINT32).m_value.m_ui32 = 0xFFFFFFF0u;
    values.Add(ESE_PT_UINT64).m_value.m_ui64 = 0xFFFFFFFFFFFFFFF0ull;

    auto& mvB = values.Add(ESE_PT_MV_BOOL).m_value.m_mv_b;
    SetArray(mvB, mvB.m_p_b, {static_cast<signed char>(1), static_cast<signed char>(0)});
    auto& mvI8 = values.Add(ESE_PT_MV_INT8).m_value.m_mv_i8;
    SetArray(mvI8, mvI8.m_p_i8, {static_cast<signed char>(-128), static_cast<signed char>(127)});
    auto& mvI16 = values.Add(ESE_PT_MV_INT16).m_value.m_mv_i16;
    SetArray(mvI16, mvI16.m_p_i16, {static_cast<short>(-32768), static_cast<short>(1), static_cast<short>(32767)});
    auto& mvI32 = values.Add(ESE_PT_MV_INT32).m_value.m_mv_i32;
    SetArray(mvI32, mvI32.m_p_i32, {-1L, 0L, 2147483647L});
    auto& mvI32Empty = values.Add(ESE_PT_MV_INT32).m_value.m_mv_i32;
    SetArray(mvI32Empty, mvI32Empty.m_p_i32, {});
    auto& mvI64 = values.Add(ESE_PT_MV_INT64).m_value.m_mv_i64;
    SetArray(mvI64, mvI64.m_p_i64, {static_cast<hyper>(-1), static_cast<hyper>(1LL << 62)});
    auto& mvU8 = values.Add(ESE_PT_MV_UINT8).m_value.m_mv_ui8;
    SetArray(mvU8, mvU8.m_p_ui8, {static_cast<unsigned char>(0), static_cast<unsigned char>(255)});
    auto& mvU16 = values.Add(ESE_PT_MV_UINT16).m_value.m_mv_ui16;
    SetArray(mvU16, mvU16.m_p_ui16, {static_cast<unsigned short>(65535)});
    auto& mvU32 = values.Add(ESE_PT_MV_UINT32).m_value.m_mv_ui32;
    SetArray(mvU32, mvU32.m_p_ui32, {0xFFFFFFFFul, 7ul});
    auto& mvU64 = values.Add(ESE_PT_MV_UINT64).m_value.m_mv_ui64;
    SetArray(mvU64, mvU64.m_p_ui64, {static_cast<unsigned hyper>(~0ull), static_cast<unsigned hyper>(3)});
    auto& mvG = values.Add(ESE_PT_MV_GUID).m_value.m_mv_g;
    SetArray(mvG, mvG.m_p_g, {kGuidA, kGuidB});
    auto& mvF = values.Add(ESE_PT_MV_FLOAT).m_value.m_mv_f;
    SetArray(mvF, mvF.m_p_f, {1.5f, -0.0f});
    auto& mvD = values.Add(ESE_PT_MV_DOUBLE).m_value.m_mv_d;
    SetArray(mvD, mvD.m_p_d, {1e-300, 42.0});
    auto& mvDt = values.Add(ESE_PT_MV_DATETIME).m_value.m_mv_dt;
    SetArray(mvDt, mvDt.m_p_dt, {36526.0, 2.5});
    auto& mvFt = values.Add(ESE_PT_MV_FILETIME).m_value.m_mv_ft;
    FILETIME t1 = {1, 2}, t2 = {0xFFFFFFFF, 0x7FFFFFFF};
    SetArray(mvFt, mvFt.m_p_ft, {t1, t2});

    auto& mvS = values.Add(ESE_PT_MV_STRING8).m_value.m_mv_s;
    mvS.m_count = 3;
    mvS.m_pp_s = static_cast<LPSTR*>(CoTaskMemAlloc(3 * sizeof(LPSTR)));
    mvS.m_pp_s[0] = Str8("first");
    mvS.m_pp_s[1] = Str8("");
    mvS.m_pp_s[2] = nullptr;
    auto& mvWs = values.Add(ESE_PT_MV_STRING16).m_value.m_mv_ws;
    mvWs.m_count = 3;
    mvWs.m_pp_ws = static_cast<LPWSTR*>(CoTaskMemAlloc(3 * sizeof(LPWSTR)));
    mvWs.m_pp_ws[0] = Str16(L"\u00e9t\u00e9");
    mvWs.m_pp_ws[1] = nullptr;
    mvWs.m_pp_ws[2] = Str16(L"");
    auto& mvWsEmpty = values.Add(ESE_PT_MV_STRING16).m_value.m_mv_ws;
    mvWsEmpty.m_count = 0;
    mvWsEmpty.m_pp_ws = nullptr;
    auto& mvBin = values.Add(ESE_PT_MV_BINARY).m_value.m_mv_bin;
    mvBin.m_count = 3;
    mvBin.m_p_bin = static_cast<_SEseBinary*>(CoTaskMemAlloc(3 * sizeof(_SEseBinary)));
    mvBin.m_p_bin[0] = Binary("abc", 3);
    mvBin.m_p_bin[1] = Binary(nullptr, 0);
    mvBin.m_p_bin[2] = Binary("\0\0", 2);
    return values.Release(count);
}

_SEseRow* BuildRows(ULONG* count)
{
    *count = 3;
    auto* rows = static_cast<_SEseRow*>(CoTaskMemAlloc(3 * sizeof(_SEseRow)));
    rows[0].m_p_values = BuildValues(&rows[0].m_valueCount);
    rows[1].m_valueCount = 0;
    rows[1].m_p_values = nullptr;
    Values shortRow;
    shortRow.Add(ESE_PT_INT64).m_value.m_i64 = 0x0123456789ABCDEFll;
    shortRow.Add(ESE_PT_STRING16).m_value.m_p_ws = Str16(L"Inbox");
    rows[2].m_p_values = shortRow.Release(&rows[2].m_valueCount);
    return rows;
}

_SEseNamedPropertyId* BuildNamedIds(ULONG* count)
{
    *count = 4;
    auto* ids = static_cast<_SEseNamedPropertyId*>(CoTaskMemAlloc(4 * sizeof(_SEseNamedPropertyId)));
    std::memset(ids, 0, 4 * sizeof(_SEseNamedPropertyId));
    ids[0].lpguid = Block(&kGuidA, 1);
    ids[0].ulKind = 0;
    ids[0].Kind.lID = 0x8501;
    ids[1].lpguid = Block(&kGuidB, 1);
    ids[1].ulKind = 1;
    ids[1].Kind.lpwstrName = Str16(L"Keywords");
    ids[2].lpguid = nullptr;
    ids[2].ulKind = 1;
    ids[2].Kind.lpwstrName = Str16(L"");
    ids[3].lpguid = nullptr;
    ids[3].ulKind = 0;
    ids[3].Kind.lID = -1;
    return ids;
}

void FillStoreInfo(_SEseStoreInfo* info)
{
    info->m_p_fileName = Str16(L"C:\\Exchange\\Mailbox Store (SRV).edb");
    info->m_fileSize = 0x0000000123456789ull;
    info->m_localeId = 1033;
    info->m_pageSize = 4096;
    info->m_spaceAvailableInPages = 17;
    info->m_spaceOwnedInPages = 0xFFFFFFFFu;
    info->m_vesion = -2;
}

ULONG TagForNamedId(const _SEseNamedPropertyId* id)
{
    if (!id)
        return 0x0000000A; // PT_ERROR: no name given
    ULONG tag = id->lpguid ? (id->lpguid->Data1 & 0xFF) << 24 : 0;
    if (id->ulKind == 0)
        return tag | (static_cast<ULONG>(id->Kind.lID) & 0xFFFF) << 8 | 0x03;
    ULONG length = id->Kind.lpwstrName ? static_cast<ULONG>(std::wcslen(id->Kind.lpwstrName)) : 0xFF;
    ULONG first = id->Kind.lpwstrName && length ? id->Kind.lpwstrName[0] & 0xFF : 0;
    return tag | first << 16 | (length & 0xFF) << 8 | 0x1F;
}

std::string CompareValue(const _SEsePropertyValue& e, const _SEsePropertyValue& a)
{
    std::ostringstream out;
    if (e.m_tag != a.m_tag)
        out << "tag " << std::hex << e.m_tag << " != " << a.m_tag << "; ";
    if (e.m_type != a.m_type) {
        out << "type " << std::hex << e.m_type << " != " << a.m_type << "; ";
        return out.str();
    }
    const auto &ev = e.m_value, &av = a.m_value;
    bool same = true;
    switch (e.m_type) {
    case ESE_PT_ERROR:
        same = ev.m_err.m_source == av.m_err.m_source && ev.m_err.m_code == av.m_err.m_code;
        break;
    case ESE_PT_BOOL: same = ev.m_b == av.m_b; break;
    case ESE_PT_INT8: same = ev.m_i8 == av.m_i8; break;
    case ESE_PT_INT16: same = ev.m_i16 == av.m_i16; break;
    case ESE_PT_INT32: same = ev.m_i32 == av.m_i32; break;
    case ESE_PT_INT64: same = ev.m_i64 == av.m_i64; break;
    case ESE_PT_FLOAT: same = std::memcmp(&ev.m_f, &av.m_f, sizeof ev.m_f) == 0; break;
    case ESE_PT_DOUBLE: same = std::memcmp(&ev.m_d, &av.m_d, sizeof ev.m_d) == 0; break;
    case ESE_PT_DATETIME: same = std::memcmp(&ev.m_dt, &av.m_dt, sizeof ev.m_dt) == 0; break;
    case ESE_PT_FILETIME:
        same = ev.m_ft.dwLowDateTime == av.m_ft.dwLowDateTime && ev.m_ft.dwHighDateTime == av.m_ft.dwHighDateTime;
        break;
    case ESE_PT_GUID:
        same = (!ev.m_p_g || !av.m_p_g) ? ev.m_p_g == av.m_p_g : IsEqualGUID(*ev.m_p_g, *av.m_p_g);
        break;
    case ESE_PT_STRING8: same = SameStr8(ev.m_p_s, av.m_p_s); break;
    case ESE_PT_STRING16: same = SameStr16(ev.m_p_ws, av.m_p_ws); break;
    case ESE_PT_INTERFACE: same = StreamText(ev.m_p_i) == StreamText(av.m_p_i); break;
    case ESE_PT_BINARY: same = SameBinary(ev.m_bin, av.m_bin); break;
    case ESE_PT_UINT8: same = ev.m_ui8 == av.m_ui8; break;
    case ESE_PT_UINT16: same = ev.m_ui16 == av.m_ui16; break;
    case ESE_PT_UINT32: same = ev.m_ui32 == av.m_ui32; break;
    case ESE_PT_UINT64: same = ev.m_ui64 == av.m_ui64; break;
    case ESE_PT_MV_BOOL: same = SameArray(ev.m_mv_b, ev.m_mv_b.m_p_b, av.m_mv_b, av.m_mv_b.m_p_b); break;
    case ESE_PT_MV_INT8: same = SameArray(ev.m_mv_i8, ev.m_mv_i8.m_p_i8, av.m_mv_i8, av.m_mv_i8.m_p_i8); break;
    case ESE_PT_MV_INT16:
        same = SameArray(ev.m_mv_i16, ev.m_mv_i16.m_p_i16, av.m_mv_i16, av.m_mv_i16.m_p_i16);
        break;
    case ESE_PT_MV_INT32:
        same = SameArray(ev.m_mv_i32, ev.m_mv_i32.m_p_i32, av.m_mv_i32, av.m_mv_i32.m_p_i32);
        break;
    case ESE_PT_MV_INT64:
        same = SameArray(ev.m_mv_i64, ev.m_mv_i64.m_p_i64, av.m_mv_i64, av.m_mv_i64.m_p_i64);
        break;
    case ESE_PT_MV_UINT8:
        same = SameArray(ev.m_mv_ui8, ev.m_mv_ui8.m_p_ui8, av.m_mv_ui8, av.m_mv_ui8.m_p_ui8);
        break;
    case ESE_PT_MV_UINT16:
        same = SameArray(ev.m_mv_ui16, ev.m_mv_ui16.m_p_ui16, av.m_mv_ui16, av.m_mv_ui16.m_p_ui16);
        break;
    case ESE_PT_MV_UINT32:
        same = SameArray(ev.m_mv_ui32, ev.m_mv_ui32.m_p_ui32, av.m_mv_ui32, av.m_mv_ui32.m_p_ui32);
        break;
    case ESE_PT_MV_UINT64:
        same = SameArray(ev.m_mv_ui64, ev.m_mv_ui64.m_p_ui64, av.m_mv_ui64, av.m_mv_ui64.m_p_ui64);
        break;
    case ESE_PT_MV_GUID: same = SameArray(ev.m_mv_g, ev.m_mv_g.m_p_g, av.m_mv_g, av.m_mv_g.m_p_g); break;
    case ESE_PT_MV_FLOAT: same = SameArray(ev.m_mv_f, ev.m_mv_f.m_p_f, av.m_mv_f, av.m_mv_f.m_p_f); break;
    case ESE_PT_MV_DOUBLE: same = SameArray(ev.m_mv_d, ev.m_mv_d.m_p_d, av.m_mv_d, av.m_mv_d.m_p_d); break;
    case ESE_PT_MV_DATETIME:
        same = SameArray(ev.m_mv_dt, ev.m_mv_dt.m_p_dt, av.m_mv_dt, av.m_mv_dt.m_p_dt);
        break;
    case ESE_PT_MV_FILETIME:
        same = SameArray(ev.m_mv_ft, ev.m_mv_ft.m_p_ft, av.m_mv_ft, av.m_mv_ft.m_p_ft);
        break;
    case ESE_PT_MV_STRING8:
        same = ev.m_mv_s.m_count == av.m_mv_s.m_count && (!ev.m_mv_s.m_count || av.m_mv_s.m_pp_s);
        for (ULONG i = 0; same && i < ev.m_mv_s.m_count; ++i)
            same = SameStr8(ev.m_mv_s.m_pp_s[i], av.m_mv_s.m_pp_s[i]);
        break;
    case ESE_PT_MV_STRING16:
        same = ev.m_mv_ws.m_count == av.m_mv_ws.m_count && (!ev.m_mv_ws.m_count || av.m_mv_ws.m_pp_ws);
        for (ULONG i = 0; same && i < ev.m_mv_ws.m_count; ++i)
            same = SameStr16(ev.m_mv_ws.m_pp_ws[i], av.m_mv_ws.m_pp_ws[i]);
        break;
    case ESE_PT_MV_BINARY:
        same = ev.m_mv_bin.m_count == av.m_mv_bin.m_count && (!ev.m_mv_bin.m_count || av.m_mv_bin.m_p_bin);
        for (ULONG i = 0; same && i < ev.m_mv_bin.m_count; ++i)
            same = SameBinary(ev.m_mv_bin.m_p_bin[i], av.m_mv_bin.m_p_bin[i]);
        break;
    default:
        break;
    }
    if (!same)
        Describe(out, "value differs");
    return out.str();
}

std::string CompareValues(const _SEsePropertyValue* expected, ULONG expectedCount, const _SEsePropertyValue* actual,
                          ULONG actualCount)
{
    std::ostringstream out;
    if (expectedCount != actualCount) {
        out << "count " << expectedCount << " != " << actualCount;
        return out.str();
    }
    if (expectedCount && !actual)
        return "values missing";
    for (ULONG i = 0; i < expectedCount; ++i) {
        std::string difference = CompareValue(expected[i], actual[i]);
        if (!difference.empty())
            out << "value " << i << " (type " << std::hex << expected[i].m_type << std::dec << "): " << difference;
    }
    return out.str();
}

std::string CompareNamedId(const _SEseNamedPropertyId& e, const _SEseNamedPropertyId& a)
{
    bool sameGuid = (!e.lpguid || !a.lpguid) ? e.lpguid == a.lpguid : IsEqualGUID(*e.lpguid, *a.lpguid);
    if (!sameGuid)
        return "guid differs";
    if (e.ulKind != a.ulKind)
        return "kind differs";
    if (e.ulKind == 0 && e.Kind.lID != a.Kind.lID)
        return "id differs";
    if (e.ulKind == 1 && !SameStr16(e.Kind.lpwstrName, a.Kind.lpwstrName))
        return "name differs";
    return "";
}

} // namespace contract_samples
