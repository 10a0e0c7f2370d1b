#include "ProviderPlatform.h"
#include "RawValues.h"
#include "MapiPtr.h"
#include "ProviderLog.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(RawValues, SizeOfAPackedValue)
{
    const BYTE binary[] = {3, 0, 'a', 'b', 'c', 'x'};
    const BYTE longBinary[] = {0x10, 0, 'a'};
    const BYTE ansi[] = {'a', 'b', 0, 'z'};
    const BYTE unterminated[] = {'a', 'b', 'c'};
    const BYTE wide[] = {'a', 0, 0, 'b', 0, 0, 'x', 0}; // the pair 0, 'b' is no terminator
    const BYTE wideOpen[] = {'a', 0, 'b', 0, 0};
    const BYTE any[16] = {};
    struct Case {
        const char* what;
        ULONG type;
        const BYTE* data;
        int max;
        int size;
    };
    const Case cases[] = {
        {"long", PT_LONG, any, 4, 4},
        {"long cut short", PT_LONG, any, 3, -1},
        {"null", PT_NULL, any, 16, 4},
        {"object", PT_OBJECT, any, 4, 4},
        {"error", PT_ERROR, any, 4, 4},
        {"float", PT_R4, any, 4, 4},
        {"i2", PT_I2, any, 2, 2},
        {"boolean", PT_BOOLEAN, any, 1, -1},
        {"systime", PT_SYSTIME, any, 8, 8},
        {"i8 cut short", PT_I8, any, 7, -1},
        {"double", PT_DOUBLE, any, 16, 8},
        {"currency", PT_CURRENCY, any, 8, 8},
        {"apptime", PT_APPTIME, any, 8, 8},
        {"clsid", PT_CLSID, any, 16, 16},
        {"clsid cut short", PT_CLSID, any, 15, -1},
        {"only the low word of the type counts", 0x7FFF0003, any, 4, 4},
        {"string8 with its terminator", PT_STRING8, ansi, 4, 3},
        {"string8 whose terminator lies beyond max", PT_STRING8, ansi, 2, -1},
        {"string8 without a terminator", PT_STRING8, unterminated, 3, -1},
        {"unicode with its terminator", PT_UNICODE, wide, 8, 6},
        {"unicode: a half character is no terminator", PT_UNICODE, wideOpen, 5, -1},
        {"binary", PT_BINARY, binary, 6, 5},
        {"binary filling max exactly", PT_BINARY, binary, 5, 5},
        {"binary whose length exceeds the bytes left", PT_BINARY, longBinary, 3, -1},
        {"binary without its length", PT_BINARY, binary, 1, -1},
        {"unknown type", 0x00FE, any, 16, 0},
        {"multi-valued type has no rule", PT_MV_LONG, any, 16, 0},
        {"negative max", PT_LONG, any, -5, -1},
        {"no data", PT_STRING8, nullptr, 10, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.size, GetRawValueSize(c.type, c.data, c.max)) << c.what;
}

TEST(RawValues, ValueFromBytesByType)
{
    HRESULT hr = S_OK;
    MapiPtr<void> parent = MapiAllocate<void>(8, hr);
    ASSERT_EQ(S_OK, hr);
    const BYTE bytes[16] = {0x80, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                            0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E};
    const BYTE ansi[] = {'S', 'M', 'T', 'P'}; // no terminator of its own
    const BYTE wide[] = {'E', 0, 'X', 0, 0, 0};

    SPropValue v;
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x0FFF0102, bytes, 5, parent.get()));
    EXPECT_EQ(0x0FFF0102u, v.ulPropTag);
    ASSERT_EQ(5u, v.Value.bin.cb);
    EXPECT_NE(bytes, v.Value.bin.lpb);
    EXPECT_EQ(0, std::memcmp(bytes, v.Value.bin.lpb, 5));

    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x3002001E, ansi, 4, parent.get()));
    EXPECT_STREQ("SMTP", v.Value.lpszA);
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x3001001F, wide, 6, parent.get()));
    EXPECT_STREQ(L"EX", v.Value.lpszW);
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x3001001F, wide, 3, parent.get())); // cut inside a character
    EXPECT_EQ(L'E', v.Value.lpszW[0]);
    EXPECT_EQ(0, v.Value.lpszW[2]);

    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x66050048, bytes, 16, parent.get()));
    EXPECT_EQ(0, std::memcmp(bytes, v.Value.lpguid, 16));

    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x0C150003, bytes, 4, parent.get()));
    EXPECT_EQ(0x0201FF80, v.Value.l);
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x0C150002, bytes, 2, parent.get()));
    EXPECT_EQ(static_cast<short>(0xFF80), v.Value.i);
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x0E1F000B, bytes, 1, parent.get()));
    EXPECT_EQ(0xFF80, v.Value.b); // the first byte, widened with its sign
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x30070040, bytes, 8, parent.get()));
    EXPECT_EQ(0x06050403u, v.Value.ft.dwHighDateTime);
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x66010005, bytes, 8, parent.get()));
    EXPECT_EQ(0, std::memcmp(bytes, &v.Value.dbl, 8));
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x0C15000A, bytes, 4, parent.get()));
    EXPECT_EQ(0x0201FF80, v.Value.err);

    v.Value.l = 5;
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x37010001, bytes, 0, parent.get()));
    EXPECT_EQ(0, v.Value.l);
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x3701000D, bytes, 0, parent.get()));
    EXPECT_EQ(0, v.Value.l);
    ASSERT_EQ(S_OK, ValueFromBytes(&v, 0x80011003, bytes, 16, parent.get()));
    EXPECT_EQ(0x80011003u, v.ulPropTag); // no rule: only the tag
    EXPECT_EQ(0, v.Value.li.QuadPart);
}

TEST(RawValues, ValueFromBytesRefusesWhatItCannotRead)
{
    HRESULT hr = S_OK;
    MapiPtr<void> parent = MapiAllocate<void>(8, hr);
    const BYTE bytes[16] = {};
    struct Case {
        const char* what;
        ULONG tag;
        ULONG size;
        HRESULT hr;
    };
    const Case cases[] = {
        {"long from three bytes", 0x0C150003, 3, MAPI_E_CORRUPT_DATA},
        {"time from four bytes", 0x30070040, 4, MAPI_E_CORRUPT_DATA},
        {"guid from eight bytes", 0x66050048, 8, MAPI_E_CORRUPT_DATA},
        {"boolean from nothing", 0x0E1F000B, 0, MAPI_E_CORRUPT_DATA},
    };
    for (const Case& c : cases) {
        SPropValue v;
        EXPECT_EQ(c.hr, ValueFromBytes(&v, c.tag, bytes, c.size, parent.get())) << c.what;
        EXPECT_EQ(CHANGE_PROP_TYPE(c.tag, PT_ERROR), v.ulPropTag) << c.what;
        EXPECT_EQ(c.hr, v.Value.err) << c.what;
    }
    SPropValue v;
    EXPECT_EQ(E_INVALIDARG, ValueFromBytes(nullptr, 0x0C150003, bytes, 4, parent.get()));
    EXPECT_EQ(E_INVALIDARG, ValueFromBytes(&v, 0x0C150003, nullptr, 4, parent.get()));
}

TEST(RawValues, HexDumpBreaksAfterEveryFortyEighthByte)
{
    std::vector<BYTE> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<BYTE>(i * 7 + 0xA0);
    std::wstring expected = L"Unexpected recipients: \r\n";
    for (size_t i = 0; i < bytes.size(); ++i) {
        wchar_t cell[4];
        swprintf(cell, 4, L"%02X ", bytes[i]);
        expected += cell;
        if (i == 47 || i == 95)
            expected += L"\r\n";
    }
    EXPECT_EQ(expected, FormatHexDump(L"Unexpected recipients: ", bytes.data(), 100));
    EXPECT_EQ(L"p\r\n", FormatHexDump(L"p", nullptr, 5));
    EXPECT_EQ(L"\r\n", FormatHexDump(nullptr, bytes.data(), 0));
    const std::wstring exact = FormatHexDump(L"", bytes.data(), 48);
    EXPECT_EQ(2 + 48 * 3 + 2u, exact.size());
    EXPECT_EQ(L"\r\n", exact.substr(exact.size() - 2));
}

TEST(RawValues, HexDumpGoesToTheLogAsOneLine)
{
    providertest::CScratchDir dir;
    std::wstring log = dir.File(kLogFileName);
    const BYTE bytes[] = {0x67, 0x00, 0xFF};
    EXPECT_EQ(0, LogHexDump(log, L"Unexpected sender: ", bytes, 3));

    const std::vector<BYTE> raw = providertest::ReadBytes(log);
    std::wstring text;
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
        text += static_cast<wchar_t>(raw[i] | raw[i + 1] << 8);
    const size_t at = text.find(L"Unexpected sender: ");
    ASSERT_NE(std::wstring::npos, at);
    EXPECT_EQ(L" : ", text.substr(at - 3, 3)); // after "<stamp> : <thread> : "
    EXPECT_EQ(L"Unexpected sender: \r\n67 00 FF \r\n", text.substr(at));
}

} // namespace
