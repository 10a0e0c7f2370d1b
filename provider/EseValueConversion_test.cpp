#include "ProviderPlatform.h"
#include "EseValueConversion.h"
#include "MapiPtr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

MapiPtr<void> NewParent()
{
    HRESULT hr = S_OK;
    MapiPtr<void> parent = MapiAllocate<void>(16, hr);
    EXPECT_EQ(S_OK, hr);
    return parent;
}

_SEsePropertyValue EseValue(ULONG tag, _EEsePropertyType type)
{
    _SEsePropertyValue value;
    std::memset(&value, 0, sizeof(value));
    value.m_tag = tag;
    value.m_type = type;
    return value;
}

SPropValue Garbage()
{
    SPropValue value;
    std::memset(&value, 0xCD, sizeof(value));
    return value;
}

TEST(EseValueConversion, ScalarsFollowTheTagsType)
{
    struct Case {
        const char* what;
        _SEsePropertyValue src;
        ULONG tag; // expected destination tag
        std::function<void(const SPropValue&)> check;
    };
    auto with = [](ULONG tag, _EEsePropertyType type, std::function<void(_SEsePropertyValue&)> fill) {
        _SEsePropertyValue v = EseValue(tag, type);
        fill(v);
        return v;
    };
    const Case cases[] = {
        {"null column becomes not-found error under the same id", with(0x0E080001, ESE_PT_ERROR, [](auto&) {}),
         0x0E08000A, [](const SPropValue& v) { EXPECT_EQ(MAPI_E_NOT_FOUND, v.Value.err); }},
        {"server error keeps its code, not its source",
         with(0x1000000A, ESE_PT_ERROR,
              [](auto& v) {
                  v.m_value.m_err.m_source = ESE_ERR_SRC_INT;
                  v.m_value.m_err.m_code = E_OUTOFMEMORY;
              }),
         0x1000000A, [](const SPropValue& v) { EXPECT_EQ(E_OUTOFMEMORY, v.Value.err); }},
        {"i2", with(0x00170002, ESE_PT_INT16, [](auto& v) { v.m_value.m_i16 = -2; }), 0x00170002,
         [](const SPropValue& v) { EXPECT_EQ(-2, v.Value.i); }},
        {"boolean true byte", with(0x0E1F000B, ESE_PT_BOOL, [](auto& v) { v.m_value.m_b = 1; }), 0x0E1F000B,
         [](const SPropValue& v) { EXPECT_EQ(1, v.Value.b); }},
        {"boolean byte widened with its sign",
         with(0x0E1F000B, ESE_PT_BOOL, [](auto& v) { v.m_value.m_i64 = 0x7F7F7F80; }), 0x0E1F000B,
         [](const SPropValue& v) { EXPECT_EQ(0xFF80, v.Value.b); }},
        {"long", with(0x0E080003, ESE_PT_INT32, [](auto& v) { v.m_value.m_i32 = 123456; }), 0x0E080003,
         [](const SPropValue& v) { EXPECT_EQ(123456, v.Value.l); }},
        {"float", with(0x66000004, ESE_PT_FLOAT, [](auto& v) { v.m_value.m_f = 1.5f; }), 0x66000004,
         [](const SPropValue& v) { EXPECT_EQ(1.5f, v.Value.flt); }},
        {"double", with(0x66010005, ESE_PT_DOUBLE, [](auto& v) { v.m_value.m_d = -0.25; }), 0x66010005,
         [](const SPropValue& v) { EXPECT_EQ(-0.25, v.Value.dbl); }},
        {"apptime", with(0x66020007, ESE_PT_DATETIME, [](auto& v) { v.m_value.m_dt = 40000.5; }), 0x66020007,
         [](const SPropValue& v) { EXPECT_EQ(40000.5, v.Value.at); }},
        {"i8 both halves",
         with(0x67480014, ESE_PT_INT64, [](auto& v) { v.m_value.m_i64 = 0x1122334455667788LL; }), 0x67480014,
         [](const SPropValue& v) { EXPECT_EQ(0x1122334455667788LL, v.Value.li.QuadPart); }},
        {"currency both halves",
         with(0x66030006, ESE_PT_UINT64, [](auto& v) { v.m_value.m_ui64 = 0x8000000000000001ULL; }), 0x66030006,
         [](const SPropValue& v) { EXPECT_EQ(0x80000000u, static_cast<ULONG>(v.Value.cur.Hi)); }},
        {"systime",
         with(0x30070040, ESE_PT_FILETIME,
              [](auto& v) {
                  v.m_value.m_ft.dwLowDateTime = 0xAABBCCDD;
                  v.m_value.m_ft.dwHighDateTime = 0x01D00000;
              }),
         0x30070040,
         [](const SPropValue& v) {
             EXPECT_EQ(0xAABBCCDDu, v.Value.ft.dwLowDateTime);
             EXPECT_EQ(0x01D00000u, v.Value.ft.dwHighDateTime);
         }},
        {"object is value 0", with(0x3701000D, ESE_PT_BINARY, [](auto& v) { v.m_value.m_i64 = -1; }), 0x3701000D,
         [](const SPropValue& v) { EXPECT_EQ(0, v.Value.li.QuadPart); }},
        {"unknown type keeps only the tag", with(0x660400FE, ESE_PT_BINARY, [](auto& v) { v.m_value.m_i64 = -1; }),
         0x660400FE, [](const SPropValue& v) { EXPECT_EQ(0, v.Value.li.QuadPart); }},
    };
    MapiPtr<void> parent = NewParent();
    for (const Case& c : cases) {
        SPropValue dst = Garbage();
        EXPECT_EQ(S_OK, ConvertEseValue(&dst, &c.src, parent.get())) << c.what;
        EXPECT_EQ(c.tag, dst.ulPropTag) << c.what;
        EXPECT_EQ(0u, dst.dwAlignPad) << c.what;
        c.check(dst);
    }
}

TEST(EseValueConversion, PointedValuesAreCopiedIntoTheParent)
{
    MapiPtr<void> parent = NewParent();
    char ansi[] = "subject";
    wchar_t wide[] = L"Betreff \x00FC";
    BYTE bytes[] = {1, 0, 2, 0xFF};
    GUID guid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
    wchar_t one[] = L"one", two[] = L"", three[] = L"three";
    LPWSTR wides[] = {one, two, three};
    char a[] = "a", bc[] = "bc";
    LPSTR ansis[] = {a, bc};
    _SEseBinary bins[] = {{2, bytes}, {0, nullptr}, {4, bytes}};
    LONG longs[] = {7, -8, 9};
    short shorts[] = {-1, 2};
    LONGLONG wides64[] = {1LL << 40, -5};
    GUID guids[] = {guid, GUID_NULL};

    struct Case {
        const char* what;
        ULONG tag;
        _EEsePropertyType type;
        std::function<void(_SEsePropertyValue&)> fill;
        std::function<void(const SPropValue&)> check;
    };
    const Case cases[] = {
        {"binary", 0x0FFF0102, ESE_PT_BINARY, [&](auto& v) { v.m_value.m_bin = {4, bytes}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(4u, v.Value.bin.cb);
             EXPECT_NE(bytes, v.Value.bin.lpb);
             EXPECT_EQ(0, std::memcmp(bytes, v.Value.bin.lpb, 4));
         }},
        {"untyped tag as binary", 0x67F00000, ESE_PT_BINARY, [&](auto& v) { v.m_value.m_bin = {2, bytes}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(2u, v.Value.bin.cb);
             EXPECT_EQ(0, std::memcmp(bytes, v.Value.bin.lpb, 2));
         }},
        {"empty binary", 0x0FFF0102, ESE_PT_BINARY, [&](auto& v) { v.m_value.m_bin = {0, nullptr}; },
         [&](const SPropValue& v) { EXPECT_EQ(0u, v.Value.bin.cb); }},
        {"string8", 0x0037001E, ESE_PT_STRING8, [&](auto& v) { v.m_value.m_p_s = ansi; },
         [&](const SPropValue& v) {
             EXPECT_NE(ansi, v.Value.lpszA);
             EXPECT_STREQ("subject", v.Value.lpszA);
         }},
        {"unicode", 0x0037001F, ESE_PT_STRING16, [&](auto& v) { v.m_value.m_p_ws = wide; },
         [&](const SPropValue& v) {
             EXPECT_NE(wide, v.Value.lpszW);
             EXPECT_STREQ(L"Betreff \x00FC", v.Value.lpszW);
         }},
        {"clsid", 0x66050048, ESE_PT_GUID, [&](auto& v) { v.m_value.m_p_g = &guid; },
         [&](const SPropValue& v) {
             EXPECT_NE(&guid, v.Value.lpguid);
             EXPECT_TRUE(IsEqualGUID(guid, *v.Value.lpguid));
         }},
        {"three wide strings", 0x8001101F, ESE_PT_MV_STRING16, [&](auto& v) { v.m_value.m_mv_ws = {3, wides}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(3u, v.Value.MVszW.cValues);
             EXPECT_NE(wides, v.Value.MVszW.lppszW);
             for (int i = 0; i < 3; ++i) {
                 EXPECT_NE(wides[i], v.Value.MVszW.lppszW[i]);
                 EXPECT_STREQ(wides[i], v.Value.MVszW.lppszW[i]);
             }
             EXPECT_NE(v.Value.MVszW.lppszW[0], v.Value.MVszW.lppszW[2]);
         }},
        {"ansi strings", 0x8002101E, ESE_PT_MV_STRING8, [&](auto& v) { v.m_value.m_mv_s = {2, ansis}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(2u, v.Value.MVszA.cValues);
             EXPECT_STREQ("a", v.Value.MVszA.lppszA[0]);
             EXPECT_STREQ("bc", v.Value.MVszA.lppszA[1]);
             EXPECT_NE(ansis[1], v.Value.MVszA.lppszA[1]);
         }},
        {"binaries", 0x80031102, ESE_PT_MV_BINARY, [&](auto& v) { v.m_value.m_mv_bin = {3, bins}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(3u, v.Value.MVbin.cValues);
             EXPECT_EQ(2u, v.Value.MVbin.lpbin[0].cb);
             EXPECT_EQ(0u, v.Value.MVbin.lpbin[1].cb);
             ASSERT_EQ(4u, v.Value.MVbin.lpbin[2].cb);
             EXPECT_NE(bytes, v.Value.MVbin.lpbin[2].lpb);
             EXPECT_EQ(0, std::memcmp(bytes, v.Value.MVbin.lpbin[2].lpb, 4));
         }},
        {"longs", 0x80041003, ESE_PT_MV_INT32, [&](auto& v) { v.m_value.m_mv_i32 = {3, longs}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(3u, v.Value.MVl.cValues);
             EXPECT_NE(longs, v.Value.MVl.lpl);
             EXPECT_EQ(0, std::memcmp(longs, v.Value.MVl.lpl, sizeof(longs)));
         }},
        {"shorts", 0x80051002, ESE_PT_MV_INT16, [&](auto& v) { v.m_value.m_mv_i16 = {2, shorts}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(2u, v.Value.MVi.cValues);
             EXPECT_EQ(-1, v.Value.MVi.lpi[0]);
             EXPECT_EQ(2, v.Value.MVi.lpi[1]);
         }},
        {"64-bit elements", 0x80061014, ESE_PT_MV_INT64, [&](auto& v) { v.m_value.m_mv_i64 = {2, wides64}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(2u, v.Value.MVli.cValues);
             EXPECT_EQ(1LL << 40, v.Value.MVli.lpli[0].QuadPart);
             EXPECT_EQ(-5, v.Value.MVli.lpli[1].QuadPart);
         }},
        {"guids", 0x80071048, ESE_PT_MV_GUID, [&](auto& v) { v.m_value.m_mv_g = {2, guids}; },
         [&](const SPropValue& v) {
             ASSERT_EQ(2u, v.Value.MVguid.cValues);
             EXPECT_TRUE(IsEqualGUID(guid, v.Value.MVguid.lpguid[0]));
             EXPECT_TRUE(IsEqualGUID(GUID_NULL, v.Value.MVguid.lpguid[1]));
         }},
    };
    for (const Case& c : cases) {
        _SEsePropertyValue src = EseValue(c.tag, c.type);
        c.fill(src);
        SPropValue dst = Garbage();
        ASSERT_EQ(S_OK, ConvertEseValue(&dst, &src, parent.get())) << c.what;
        EXPECT_EQ(c.tag, dst.ulPropTag) << c.what;
        SCOPED_TRACE(c.what);
        c.check(dst);
    }
    // The copies are the parent's: the source may change without them.
    wide[0] = L'X';
    one[0] = L'X';
    // One free of the parent releases every copy.
    EXPECT_EQ(S_OK, MAPIFreeBuffer(parent.release()));
}

TEST(EseValueConversion, ValuesThatCannotBeCopiedBecomeErrorEntries)
{
    MapiPtr<void> parent = NewParent();
    wchar_t one[] = L"one";
    LPWSTR holed[] = {one, nullptr};
    _SEseBinary bins[] = {{3, nullptr}};
    struct Case {
        const char* what;
        ULONG tag;
        _EEsePropertyType type;
        std::function<void(_SEsePropertyValue&)> fill;
        LPVOID parent;
        HRESULT hr;
    };
    const Case cases[] = {
        {"string without its pointer", 0x0037001F, ESE_PT_STRING16, [](auto&) {}, parent.get(),
         MAPI_E_CORRUPT_DATA},
        {"guid without its pointer", 0x66050048, ESE_PT_GUID, [](auto&) {}, parent.get(), MAPI_E_CORRUPT_DATA},
        {"binary count without bytes", 0x0FFF0102, ESE_PT_BINARY, [](auto& v) { v.m_value.m_bin.m_count = 5; },
         parent.get(), MAPI_E_CORRUPT_DATA},
        {"binary too large to allocate", 0x0FFF0102, ESE_PT_BINARY,
         [](auto& v) {
             v.m_value.m_bin.m_count = 0xFFFFFFFF;
             v.m_value.m_bin.m_p_bt = reinterpret_cast<BYTE*>(16);
         },
         parent.get(), MAPI_E_NOT_ENOUGH_MEMORY},
        {"element count overflowing the block size", 0x80041003, ESE_PT_MV_INT32,
         [](auto& v) {
             v.m_value.m_mv_i32.m_count = 0x40000001;
             v.m_value.m_mv_i32.m_p_i32 = reinterpret_cast<LONG*>(16);
         },
         parent.get(), MAPI_E_NOT_ENOUGH_MEMORY},
        {"string list with a missing element", 0x8001101F, ESE_PT_MV_STRING16,
         [&](auto& v) { v.m_value.m_mv_ws = {2, holed}; }, parent.get(), MAPI_E_CORRUPT_DATA},
        {"binary list element without bytes", 0x80031102, ESE_PT_MV_BINARY,
         [&](auto& v) { v.m_value.m_mv_bin = {1, bins}; }, parent.get(), MAPI_E_CORRUPT_DATA},
        {"string without a parent block", 0x0037001F, ESE_PT_STRING16, [&](auto& v) { v.m_value.m_p_ws = one; },
         nullptr, MAPI_E_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        _SEsePropertyValue src = EseValue(c.tag, c.type);
        c.fill(src);
        SPropValue dst = Garbage();
        EXPECT_EQ(c.hr, ConvertEseValue(&dst, &src, c.parent)) << c.what;
        EXPECT_EQ(CHANGE_PROP_TYPE(c.tag, PT_ERROR), dst.ulPropTag) << c.what;
        EXPECT_EQ(c.hr, dst.Value.err) << c.what;
    }
    SPropValue dst;
    _SEsePropertyValue src = EseValue(0x0E080003, ESE_PT_INT32);
    EXPECT_EQ(E_INVALIDARG, ConvertEseValue(nullptr, &src, parent.get()));
    EXPECT_EQ(E_INVALIDARG, ConvertEseValue(&dst, nullptr, parent.get()));
}

TEST(EseValueConversion, RowConvertsFromTheFirstAskedValueAndGoesOnAfterAFailure)
{
    MapiPtr<void> parent = NewParent();
    wchar_t name[] = L"Inbox";
    _SEsePropertyValue values[4] = {EseValue(0x67480014, ESE_PT_INT64), EseValue(0x3001001F, ESE_PT_STRING16),
                                    EseValue(0x0037001F, ESE_PT_STRING16), EseValue(0x36020003, ESE_PT_INT32)};
    values[0].m_value.m_i64 = 99;
    values[1].m_value.m_p_ws = name;
    values[3].m_value.m_i32 = 12; // values[2] has lost its string
    const _SEseRow row = {4, values};

    SPropValue dst[3];
    for (SPropValue& v : dst)
        v = Garbage();
    EXPECT_EQ(S_OK, ConvertEseRow(dst, row, 1, parent.get()));
    EXPECT_EQ(0x3001001Fu, dst[0].ulPropTag);
    EXPECT_STREQ(L"Inbox", dst[0].Value.lpszW);
    EXPECT_EQ(0x0037000Au, dst[1].ulPropTag);
    EXPECT_EQ(MAPI_E_CORRUPT_DATA, dst[1].Value.err);
    EXPECT_EQ(0x36020003u, dst[2].ulPropTag);
    EXPECT_EQ(12, dst[2].Value.l);

    // Nothing to convert past the end; dst is not touched.
    SPropValue untouched = Garbage();
    EXPECT_EQ(S_OK, ConvertEseRow(&untouched, row, 4, parent.get()));
    EXPECT_EQ(0xCDCDCDCDu, untouched.ulPropTag);
}

TEST(EseValueConversion, CopyBytesChainsToTheParent)
{
    MapiPtr<void> parent = NewParent();
    const BYTE bytes[] = {9, 8, 7};
    LPVOID copy = reinterpret_cast<LPVOID>(1);
    ASSERT_EQ(S_OK, MapiCopyBytes(parent.get(), 3, bytes, &copy));
    EXPECT_EQ(0, std::memcmp(bytes, copy, 3));
    copy = reinterpret_cast<LPVOID>(1);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MapiCopyBytes(nullptr, 3, bytes, &copy));
    EXPECT_EQ(nullptr, copy);
    EXPECT_EQ(E_INVALIDARG, MapiCopyBytes(parent.get(), 3, nullptr, &copy));
}

} // namespace
