// The packed recipient records: every layout with its strings, extra columns
// with and without markers, records that do not fit (left out, the walk goes
// on), the hex dump of what was left out, the recipient table's rows, and
// random and truncated data read at the very end of readable memory.
#include "ProviderPlatform.h"
#include "RecipientRecords.h"
#include "MapiPtr.h"
#include "ProviderLog.h"
#include "RawValues.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

constexpr ULONG kPrRecipientEntryId = 0x5FF70102;
constexpr ULONG kPrRecipientFlags = 0x5FFD0003;
constexpr ULONG kPrSmtpAddressW = 0x39FE001F;
constexpr ULONG kPrInstanceKey = 0x0FF60102;
constexpr ULONG kPrDisplayType = 0x39000003;

// Little-endian pieces of a packed value.
struct CPack {
    Bytes bytes;
    CPack& U8(BYTE v)
    {
        bytes.push_back(v);
        return *this;
    }
    CPack& U16(USHORT v) { return U8(static_cast<BYTE>(v)).U8(static_cast<BYTE>(v >> 8)); }
    CPack& U32(ULONG v) { return U16(static_cast<USHORT>(v)).U16(static_cast<USHORT>(v >> 16)); }
    CPack& Wide(const std::wstring& text)
    {
        for (wchar_t c : text)
            U16(static_cast<USHORT>(c));
        return U16(0);
    }
    CPack& Ansi(const std::string& text)
    {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return U8(0);
    }
    CPack& Raw(const Bytes& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    CPack& Binary(const Bytes& value) { return U16(static_cast<USHORT>(value.size())).Raw(value); }
};

// One record: type, two bytes, its length, flags, then body.
Bytes Record(BYTE type, USHORT flags, const Bytes& body)
{
    CPack record;
    record.U8(type).U16(0xBEEF).U16(static_cast<USHORT>(2 + body.size())).U16(flags).Raw(body);
    return record.bytes;
}

Bytes Packed(const std::vector<ULONG>& tags, const std::vector<Bytes>& records, USHORT count = 0xFFFF)
{
    CPack packed;
    packed.U16(count == 0xFFFF ? static_cast<USHORT>(records.size()) : count).U16(0x1234);
    packed.U16(static_cast<USHORT>(tags.size()));
    for (ULONG tag : tags)
        packed.U32(tag);
    for (const Bytes& record : records)
        packed.Raw(record);
    return packed.bytes;
}

// The value part after a record's strings: count, marker flag, values.
Bytes NoValues()
{
    return CPack().U16(0).U8(0).bytes;
}

std::wstring Hex(const Bytes& bytes)
{
    std::wstring text;
    wchar_t cell[4];
    for (BYTE b : bytes) {
        swprintf(cell, 4, L"%02X", b);
        text += cell;
    }
    return text;
}

// What a record reads as, in one line: type, layout, address, name, values.
std::wstring Describe(const SRecipientRecord& record)
{
    std::wstring text = std::to_wstring(record.index) + L":" + std::to_wstring(record.type) + L":";
    text += record.layout == ERecipientLayout::A ? L"A" : record.layout == ERecipientLayout::B ? L"B" : L"C";
    if (record.hasAddress)
        text += L" <" + record.address + L">";
    if (record.hasDisplayName)
        text += L" \"" + record.displayName + L"\"";
    for (const SRecipientValue& value : record.values) {
        wchar_t tag[16];
        swprintf(tag, 16, L" %08X=", static_cast<unsigned>(value.tag));
        text += tag + Hex(value.bytes);
    }
    return text;
}

TEST(RecipientRecords, FlagsChooseTheLayout)
{
    struct Case {
        USHORT flags;
        ERecipientLayout layout;
    } cases[] = {
        {0x0000, ERecipientLayout::B}, {0x0010, ERecipientLayout::B}, {0x0430, ERecipientLayout::B},
        {0x8010, ERecipientLayout::B}, {0x0011, ERecipientLayout::A}, {0x0213, ERecipientLayout::A},
        {0x0001, ERecipientLayout::A}, {0x00D1, ERecipientLayout::C}, {0x8210, ERecipientLayout::C},
        {0x8610, ERecipientLayout::C}, {0x0051, ERecipientLayout::C}, {0x0251, ERecipientLayout::C},
        {0x0391, ERecipientLayout::C}, {0x00B1, ERecipientLayout::C}, {0x0191, ERecipientLayout::C},
        {0x0031, ERecipientLayout::A}, {0x0090, ERecipientLayout::B}, {0x8211, ERecipientLayout::A},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.layout, RecipientLayoutOf(c.flags)) << std::hex << c.flags;
    EXPECT_STREQ(L"SMTP", RecipientAddressType(ERecipientLayout::A));
    EXPECT_STREQ(L"EX", RecipientAddressType(ERecipientLayout::C));
    EXPECT_EQ(nullptr, RecipientAddressType(ERecipientLayout::B));
}

TEST(RecipientRecords, EachLayoutYieldsItsAddressAndName)
{
    struct Case {
        const char* what;
        BYTE type;
        USHORT flags;
        Bytes body;
        std::wstring expected;
    } cases[] = {
        {"B: the name only", 1, 0x0010, CPack().Wide(L"Anna").Raw(NoValues()).bytes, L"0:1:B \"Anna\""},
        {"B: the 0x20 and 0x400 strings come first", 2, 0x0430,
         CPack().Wide(L"twenty").Wide(L"four hundred").Wide(L"Bob").Raw(NoValues()).bytes, L"0:2:B \"Bob\""},
        {"B: no strings", 3, 0x0000, NoValues(), L"0:3:B"},
        {"A: address then name", 1, 0x0011, CPack().Wide(L"al@example.org").Wide(L"Al").Raw(NoValues()).bytes,
         L"0:1:A <al@example.org> \"Al\""},
        {"A: 0x0213 has three bytes after the address", 1, 0x0213,
         CPack().Wide(L"di@example.org").U8(9).U8(9).U8(9).Wide(L"Di").Raw(NoValues()).bytes,
         L"0:1:A <di@example.org> \"Di\""},
        {"A: all three strings", 2, 0x0431,
         CPack().Wide(L"ed@example.org").Wide(L"x").Wide(L"y").Wide(L"Ed").Raw(NoValues()).bytes,
         L"0:2:A <ed@example.org> \"Ed\""},
        {"A: no display name", 1, 0x0001, CPack().Wide(L"fi@example.org").Raw(NoValues()).bytes,
         L"0:1:A <fi@example.org>"},
        {"C: 0x8210, the name after the ANSI string; the 0x10 string skipped", 1, 0x8210,
         CPack().U16(0).Ansi("/o=Example/cn=carl").Wide(L"Carl").Wide(L"skipped").Raw(NoValues()).bytes,
         L"0:1:C \"Carl\""},
        {"C: 0x8610 also skips the 0x400 string", 2, 0x8610,
         CPack().U16(0).Ansi("/o=Example/cn=dora").Wide(L"Dora").Wide(L"x").Wide(L"y").Raw(NoValues()).bytes,
         L"0:2:C \"Dora\""},
        {"C: low bits 0x51 with 0x200", 1, 0x0251,
         CPack().U16(0).Ansi("/o=E/cn=e").Wide(L"Eve").Wide(L"z").Raw(NoValues()).bytes, L"0:1:C \"Eve\""},
        {"C: 0x91 without 0x200 has no name", 3, 0x0091,
         CPack().U16(0).Ansi("/o=E/cn=f").Wide(L"skipped").Raw(NoValues()).bytes, L"0:3:C"},
        {"C: 0xB1 skips the 0x20 and 0x10 strings", 1, 0x00B1,
         CPack().U16(0).Ansi("/o=E/cn=g").Wide(L"x").Wide(L"y").Raw(NoValues()).bytes, L"0:1:C"},
    };
    for (const Case& c : cases) {
        const Bytes data = Packed({}, {Record(c.type, c.flags, c.body)});
        const SRecipientRecords parsed = ParseRecipientRecords(data.data(), static_cast<ULONG>(data.size()));
        ASSERT_EQ(1u, parsed.records.size()) << c.what;
        EXPECT_TRUE(parsed.leftOut.empty()) << c.what;
        EXPECT_EQ(c.expected, Describe(parsed.records[0])) << c.what;
        EXPECT_EQ(c.flags, parsed.records[0].flags) << c.what;
    }
    // Layout C keeps its ANSI string for whoever wants it.
    const Bytes data = Packed({}, {Record(1, 0x8210, CPack().U16(0).Ansi("/o=X/cn=h").Wide(L"H").Wide(L"").Raw(
                                                        NoValues()).bytes)});
    EXPECT_EQ("/o=X/cn=h",
              ParseRecipientRecords(data.data(), static_cast<ULONG>(data.size())).records[0].exchangeText);
}

TEST(RecipientRecords, ExtraColumnsWithAndWithoutMarkers)
{
    const std::vector<ULONG> tags = {kPrRecipientEntryId, kPrRecipientFlags, kPrSmtpAddressW};
    const Bytes entry = {0x00, 0x00, 0x00, 0x00, 0xAB, 0xCD};
    struct Case {
        const char* what;
        Bytes values;
        std::wstring expected;
    } cases[] = {
        {"all three, no markers; the entry id without its length",
         CPack().U16(3).U8(0).Binary(entry).U32(1).Wide(L"a@b").bytes,
         L"0:1:B \"N\" 5FF70102=00000000ABCD 5FFD0003=01000000 39FE001F=6100400062000000"},
        {"markers: 0x0A makes a value an error code", CPack().U16(3).U8(1).U8(0).Binary(entry).U8(0x0A).U32(
                                                                  0x8004010F).U8(0).Wide(L"x").bytes,
         L"0:1:B \"N\" 5FF70102=00000000ABCD 5FFD000A=0F010480 39FE001F=78000000"},
        {"a marker other than 0x0A changes nothing", CPack().U16(1).U8(1).U8(0x01).Binary({7}).bytes,
         L"0:1:B \"N\" 5FF70102=07"},
        {"fewer values than tags", CPack().U16(1).U8(0).Binary({}).bytes, L"0:1:B \"N\" 5FF70102="},
        {"more values than tags: only the tags' are read, the rest ignored",
         CPack().U16(9).U8(0).Binary({1}).U32(2).Wide(L"").U32(0xFFFFFFFF).bytes,
         L"0:1:B \"N\" 5FF70102=01 5FFD0003=02000000 39FE001F=0000"},
        {"no values", NoValues(), L"0:1:B \"N\""},
    };
    for (const Case& c : cases) {
        const Bytes data = Packed(tags, {Record(1, 0x0010, CPack().Wide(L"N").Raw(c.values).bytes)});
        const SRecipientRecords parsed = ParseRecipientRecords(data.data(), static_cast<ULONG>(data.size()));
        EXPECT_EQ(tags, parsed.extraTags) << c.what;
        ASSERT_EQ(1u, parsed.records.size()) << c.what;
        EXPECT_TRUE(parsed.leftOut.empty()) << c.what;
        EXPECT_EQ(c.expected, Describe(parsed.records[0])) << c.what;
    }

    // A type without a size rule ends the record's values; the record stays.
    const Bytes data = Packed({kPrRecipientFlags, 0x80011003, kPrDisplayType},
                              {Record(2, 0x0010, CPack().Wide(L"M").U16(3).U8(0).U32(5).U32(1).U32(6).bytes)});
    const SRecipientRecords parsed = ParseRecipientRecords(data.data(), static_cast<ULONG>(data.size()));
    ASSERT_EQ(1u, parsed.records.size());
    EXPECT_EQ(L"0:2:B \"M\" 5FFD0003=05000000", Describe(parsed.records[0]));
}

TEST(RecipientRecords, RecordsThatDoNotFitAreLeftOutAndTheWalkGoesOn)
{
    const std::vector<ULONG> tags = {kPrRecipientFlags, kPrRecipientEntryId};
    const Bytes good = Record(1, 0x0010, CPack().Wide(L"Good").U16(0).U8(0).bytes);
    struct Case {
        const char* what;
        Bytes bad;
    } cases[] = {
        {"a name without its terminator", Record(1, 0x0010, CPack().U16('a').U16('b').bytes)},
        {"a name whose terminator is cut in half", Record(1, 0x0010, CPack().U16('a').U8(0).bytes)},
        {"no room for the flags", CPack().U8(1).U16(0).U16(1).U8(0x10).bytes},
        {"no length at all in a record of five bytes", CPack().U8(1).U16(0).U16(0).bytes},
        {"the address of layout A unterminated", Record(1, 0x0011, CPack().U16('a').bytes)},
        {"the three bytes of 0x0213 beyond the record", Record(1, 0x0213, CPack().Wide(L"a").U8(1).bytes)},
        {"layout C shorter than its ANSI string's start", Record(1, 0x8210, CPack().U8(0).bytes)},
        {"layout C's ANSI string unterminated", Record(1, 0x8210, CPack().U16(0).U8('x').U8('y').bytes)},
        {"layout C's name unterminated", Record(1, 0x8210, CPack().U16(0).Ansi("x").U16('N').bytes)},
        {"no value count", Record(1, 0x0010, CPack().Wide(L"N").bytes)},
        {"no marker flag", Record(1, 0x0010, CPack().Wide(L"N").U16(1).bytes)},
        {"a value cut short", Record(1, 0x0010, CPack().Wide(L"N").U16(1).U8(0).U16(7).bytes)},
        {"a marker without its value", Record(1, 0x0010, CPack().Wide(L"N").U16(1).U8(1).U8(0).bytes)},
        {"a binary longer than the record",
         Record(1, 0x0010, CPack().Wide(L"N").U16(2).U8(0).U32(1).U16(40).U8(1).bytes)},
    };
    for (const Case& c : cases) {
        const Bytes data = Packed(tags, {good, c.bad, good});
        const SRecipientRecords parsed = ParseRecipientRecords(data.data(), static_cast<ULONG>(data.size()));
        ASSERT_EQ(2u, parsed.records.size()) << c.what;
        EXPECT_EQ(0u, parsed.records[0].index) << c.what;
        EXPECT_EQ(2u, parsed.records[1].index) << c.what;
        EXPECT_EQ(L"Good", parsed.records[1].displayName) << c.what;
        ASSERT_EQ(1u, parsed.leftOut.size()) << c.what;
        EXPECT_EQ(6 + 4 * tags.size() + good.size(), parsed.leftOut[0].offset) << c.what;
        EXPECT_EQ(c.bad.size(), parsed.leftOut[0].size) << c.what;
    }
}

TEST(RecipientRecords, DataCutShortEndsTheWalk)
{
    const Bytes first = Record(1, 0x0010, CPack().Wide(L"One").Raw(NoValues()).bytes);
    const Bytes second = Record(2, 0x0010, CPack().Wide(L"Two").Raw(NoValues()).bytes);
    const Bytes whole = Packed({kPrRecipientFlags}, {first, second});
    const ULONG secondAt = static_cast<ULONG>(whole.size() - second.size());
    struct Case {
        const char* what;
        ULONG size;
        size_t records;
        std::vector<SRecipientBytes> leftOut;
    } cases[] = {
        {"whole", static_cast<ULONG>(whole.size()), 2, {}},
        {"the second record one byte short", static_cast<ULONG>(whole.size() - 1), 1,
         {{secondAt, static_cast<ULONG>(second.size() - 1)}}},
        {"the second record's header cut", secondAt + 3, 1, {{secondAt, 3}}},
        {"the second record missing", secondAt, 1, {}},
        {"the tags cut", 8, 0, {{0, 8}}},
        {"the header cut", 5, 0, {{0, 5}}},
        {"empty", 0, 0, {}},
    };
    for (const Case& c : cases) {
        const SRecipientRecords parsed = ParseRecipientRecords(whole.data(), c.size);
        EXPECT_EQ(c.records, parsed.records.size()) << c.what;
        ASSERT_EQ(c.leftOut.size(), parsed.leftOut.size()) << c.what;
        for (size_t i = 0; i < c.leftOut.size(); ++i) {
            EXPECT_EQ(c.leftOut[i].offset, parsed.leftOut[i].offset) << c.what;
            EXPECT_EQ(c.leftOut[i].size, parsed.leftOut[i].size) << c.what;
        }
    }
    // A count below the records present reads only that many; trailing
    // bytes after the counted records are not looked at.
    const Bytes fewer = Packed({}, {first, second, Bytes{1, 2, 3}}, 1);
    EXPECT_EQ(1u, ParseRecipientRecords(fewer.data(), static_cast<ULONG>(fewer.size())).records.size());
    EXPECT_TRUE(ParseRecipientRecords(fewer.data(), static_cast<ULONG>(fewer.size())).leftOut.empty());
    EXPECT_TRUE(ParseRecipientRecords(nullptr, 20).records.empty());
}

TEST(RecipientRecords, LeftOutRecordsGoToTheLogAsHexDumps)
{
    providertest::CScratchDir dir;
    std::wstring log = dir.File(kLogFileName);
    const Bytes bad = Record(3, 0x0010, CPack().U16('x').bytes);
    const Bytes data = Packed({}, {Record(1, 0x0010, CPack().Wide(L"A").Raw(NoValues()).bytes), bad});
    const SRecipientRecords parsed =
        ReadRecipientRecords(data.data(), static_cast<ULONG>(data.size()), kRecipientsDumpPrefix, log);
    EXPECT_EQ(1u, parsed.records.size());

    const std::vector<BYTE> raw = providertest::ReadBytes(log);
    std::wstring text;
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
        text += static_cast<wchar_t>(raw[i] | raw[i + 1] << 8);
    const size_t at = text.find(kRecipientsDumpPrefix);
    ASSERT_NE(std::wstring::npos, at);
    EXPECT_EQ(L"Unexpected recipients: \r\n03 EF BE 04 00 10 00 78 00 \r\n", text.substr(at));
}

TEST(RecipientRecords, RecipientTableRows)
{
    const std::vector<ULONG> tags = {kPrInstanceKey, kPrRecipientFlags, kPrRecipientEntryId, 0x3003001F};
    const std::vector<ULONG> columns = RecipientTableColumns(tags);
    const std::vector<ULONG> expectedColumns = {kPrInstanceKey, 0x30000003, 0x0C150003,         0x3002001F,
                                                0x3001001F,     0x3003001F, kPrRecipientFlags, kPrRecipientEntryId};
    EXPECT_EQ(expectedColumns, columns);

    // A: its own instance key and a flag value; B: an absent flag (marker),
    // an e-mail address from the extra column; C: nothing extra.
    const Bytes data = Packed(
        tags, {Record(1, 0x0011, CPack().Wide(L"a@x.org").Wide(L"Ann").U16(2).U8(0).Binary({9, 8}).U32(1).bytes),
               Record(2, 0x0010, CPack().Wide(L"Bo").U16(4).U8(1).U8(0x0A).U32(0x8004010F).U8(0x0A).U32(
                                     0x80040102).U8(0).Binary({}).U8(0).Wide(L"bo@x.org").bytes),
               Record(3, 0x8210, CPack().U16(0).Ansi("/o=X").Wide(L"Cy").Wide(L"").Raw(NoValues()).bytes)});
    const SRecipientRecords parsed = ParseRecipientRecords(data.data(), static_cast<ULONG>(data.size()));
    ASSERT_EQ(3u, parsed.records.size());

    HRESULT hr = S_OK;
    MapiPtr<SPropValue> rows = MapiAllocate<SPropValue>(static_cast<ULONG>(3 * columns.size() * sizeof(SPropValue)), hr);
    ASSERT_EQ(S_OK, hr);
    std::vector<std::wstring> described;
    std::set<std::vector<BYTE>> keysInUse;
    for (size_t r = 0; r < 3; ++r) {
        SPropValue* row = rows.get() + r * columns.size();
        ASSERT_EQ(S_OK, FillRecipientRow(parsed.records[r], columns, row, rows.get(), keysInUse));
        std::wstring text;
        for (size_t i = 0; i < columns.size(); ++i) {
            wchar_t tag[16];
            swprintf(tag, 16, L"%08X=", static_cast<unsigned>(row[i].ulPropTag));
            text += tag;
            switch (PROP_TYPE(row[i].ulPropTag)) {
            case PT_UNICODE: text += row[i].Value.lpszW; break;
            case PT_BINARY:
                text += Hex(Bytes(row[i].Value.bin.lpb, row[i].Value.bin.lpb + row[i].Value.bin.cb));
                break;
            case PT_LONG:
            case PT_ERROR: {
                wchar_t number[16];
                swprintf(number, 16, L"%lX", static_cast<unsigned long>(row[i].Value.l));
                text += number;
                break;
            }
            default: text += std::to_wstring(row[i].Value.l); break;
            }
            text += L" ";
        }
        described.push_back(text);
    }
    EXPECT_EQ(L"0FF60102=0908 30000003=0 0C150003=1 3002001F=SMTP 3001001F=Ann 3003001F=a@x.org "
              L"5FFD0003=1 00000001=0 ",
              described[0]);
    EXPECT_EQ(L"0FF60102=01000000 30000003=1 0C150003=2 3002000A=8004010F 3001001F=Bo 3003001F=bo@x.org "
              L"5FFD000A=80040102 5FF70102= ",
              described[1]);
    EXPECT_EQ(L"0FF60102=02000000 30000003=2 0C150003=3 3002001F=EX 3001001F=Cy 3003000A=8004010F "
              L"00000001=0 00000001=0 ",
              described[2]);
}

// The recipient table is indexed on PR_INSTANCE_KEY: records whose own key
// is marked absent, repeats an earlier record's key, or equals the index
// another record falls back to, still give one row each with keys of their
// own, so that every row goes into the table.
TEST(RecipientRecords, EveryRowGetsAKeyOfItsOwn)
{
    const std::vector<ULONG> tags = {kPrInstanceKey};
    const std::vector<ULONG> columns = RecipientTableColumns(tags);
    const auto withKey = [](const wchar_t* name, Bytes key) {
        return Record(1, 0x0010, CPack().Wide(name).U16(1).U8(0).Binary(key).bytes);
    };
    const Bytes absentKey = Record(1, 0x0010, CPack().Wide(L"Absent").U16(1).U8(1).U8(0x0A).U32(0x8004010F).bytes);
    const Bytes data = Packed(tags, {withKey(L"Ann", {7, 7}), withKey(L"Bo", {7, 7}), absentKey,
                                     withKey(L"Cy", {3, 0, 0, 0}), withKey(L"Di", {1, 0, 0, 0})});
    const SRecipientRecords parsed = ParseRecipientRecords(data.data(), static_cast<ULONG>(data.size()));
    ASSERT_EQ(5u, parsed.records.size());

    SizedSPropTagArray(2, tableColumns) = {2, {kPrInstanceKey, 0x30000003}};
    ComPtr<ITableData> table;
    ASSERT_EQ(S_OK, CreateTable(&IID_IMAPITableData, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr,
                                TBLTYPE_SNAPSHOT, kPrInstanceKey, reinterpret_cast<LPSPropTagArray>(&tableColumns),
                                table.GetAddressOf()));
    std::set<std::vector<BYTE>> keysInUse;
    std::vector<Bytes> keys;
    for (size_t r = 0; r < parsed.records.size(); ++r) {
        HRESULT hr = S_OK;
        MapiPtr<SPropValue> row = MapiAllocate<SPropValue>(static_cast<ULONG>(columns.size() * sizeof(SPropValue)), hr);
        ASSERT_EQ(S_OK, FillRecipientRow(parsed.records[r], columns, row.get(), row.get(), keysInUse));
        ASSERT_EQ(kPrInstanceKey, row.get()[0].ulPropTag) << r;
        keys.emplace_back(row.get()[0].Value.bin.lpb, row.get()[0].Value.bin.lpb + row.get()[0].Value.bin.cb);
        SRow mapiRow = {0, 2, row.get()};
        EXPECT_EQ(S_OK, table->HrInsertRow(static_cast<ULONG>(r), &mapiRow)) << "record " << r;
    }
    const std::vector<Bytes> expected = {{7, 7}, {1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0}, {4, 0, 0, 0}};
    EXPECT_EQ(expected, keys);
}

// Memory whose last readable byte is followed by a page that faults when
// read, so that a read past the data stops the process.
class CGuardedBuffer {
public:
    explicit CGuardedBuffer(size_t capacity)
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_page = info.dwPageSize;
        m_readable = (capacity + m_page - 1) / m_page * m_page;
        m_base = static_cast<BYTE*>(VirtualAlloc(nullptr, m_readable + m_page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        m_guarded = m_base && VirtualProtect(m_base + m_readable, m_page, PAGE_NOACCESS, &old);
    }
    ~CGuardedBuffer()
    {
        if (m_base)
            VirtualFree(m_base, 0, MEM_RELEASE);
    }
    CGuardedBuffer(const CGuardedBuffer&) = delete;
    CGuardedBuffer& operator=(const CGuardedBuffer&) = delete;

    // The guard page really cannot be read.
    bool Guarded() const
    {
        MEMORY_BASIC_INFORMATION info{};
        return m_guarded && VirtualQuery(m_base + m_readable, &info, sizeof(info)) == sizeof(info) &&
               info.Protect == PAGE_NOACCESS;
    }

    // A copy of the first size bytes ending right at the guard page.
    const BYTE* Place(const Bytes& bytes, size_t size)
    {
        BYTE* at = m_base + m_readable - size;
        if (size)
            std::memcpy(at, bytes.data(), size);
        return at;
    }

private:
    size_t m_page = 0;
    size_t m_readable = 0;
    BYTE* m_base = nullptr;
    bool m_guarded = false;
};

// Parses data of size bytes placed against the guard page and checks what
// the walk reports; a read past the data faults.
void ParseGuarded(CGuardedBuffer& buffer, const Bytes& bytes, size_t size)
{
    const BYTE* data = buffer.Place(bytes, size);
    const SRecipientRecords parsed = ParseRecipientRecords(data, static_cast<ULONG>(size));
    for (const SRecipientBytes& span : parsed.leftOut) {
        ASSERT_LE(span.offset, size);
        ASSERT_LE(span.size, size - span.offset);
        // The dump reads exactly the span.
        FormatHexDump(kRecipientsDumpPrefix, data + span.offset, span.size);
    }
    for (const SRecipientRecord& record : parsed.records)
        ASSERT_EQ(RecipientLayoutOf(record.flags), record.layout);
}

// A well-formed packed value of random records of every layout.
Bytes RandomPacked(std::mt19937& random, std::vector<ULONG>& tags)
{
    static const ULONG kTagPool[] = {kPrRecipientEntryId, kPrRecipientFlags, kPrSmtpAddressW, kPrInstanceKey,
                                     0x0C150003, 0x3A40000B, 0x39000003, 0x5FDF0003, 0x5FE5001F, 0x30070040,
                                     0x0FFF0102, 0x3001001E, 0x66050048, 0x39FF0002};
    static const USHORT kFlags[] = {0x0000, 0x0010, 0x0030, 0x0410, 0x0430, 0x0011, 0x0213, 0x0431, 0x8210,
                                    0x8610, 0x0251, 0x0091, 0x00B1, 0x0001, 0x0233};
    tags.clear();
    const size_t tagCount = random() % 6;
    for (size_t i = 0; i < tagCount; ++i)
        tags.push_back(kTagPool[random() % (sizeof(kTagPool) / sizeof(kTagPool[0]))]);
    const auto text = [&random]() {
        std::wstring t;
        for (size_t n = random() % 12; n > 0; --n)
            t += static_cast<wchar_t>(L'a' + random() % 26 + (random() % 5 == 0 ? 0x400 : 0));
        return t;
    };
    std::vector<Bytes> records;
    for (size_t r = random() % 6; r > 0; --r) {
        const USHORT flags = kFlags[random() % (sizeof(kFlags) / sizeof(kFlags[0]))];
        CPack body;
        const ERecipientLayout layout = RecipientLayoutOf(flags);
        if (layout == ERecipientLayout::A) {
            body.Wide(text());
            if (flags == 0x0213)
                body.U8(1).U8(2).U8(3);
        }
        if (layout == ERecipientLayout::C) {
            body.U16(0).Ansi("/o=Org/cn=x");
            if (flags & 0x200)
                body.Wide(text());
        }
        if (flags & 0x20)
            body.Wide(text());
        if (flags & 0x400)
            body.Wide(text());
        if (flags & 0x10)
            body.Wide(text());
        const bool markers = random() % 2 != 0;
        body.U16(static_cast<USHORT>(tags.size())).U8(markers ? 1 : 0);
        for (ULONG tag : tags) {
            bool absent = false;
            if (markers) {
                absent = random() % 3 == 0;
                body.U8(absent ? 0x0A : 0x00);
            }
            switch (absent ? PT_ERROR : PROP_TYPE(tag)) {
            case PT_BINARY: {
                Bytes value(random() % 24);
                for (BYTE& b : value)
                    b = static_cast<BYTE>(random());
                body.Binary(value);
                break;
            }
            case PT_UNICODE: body.Wide(text()); break;
            case PT_STRING8: body.Ansi("ansi"); break;
            case PT_I2:
            case PT_BOOLEAN: body.U16(static_cast<USHORT>(random())); break;
            case PT_SYSTIME: body.U32(random()).U32(random()); break;
            case PT_CLSID: body.U32(random()).U32(random()).U32(random()).U32(random()); break;
            default: body.U32(random()); break;
            }
        }
        records.push_back(Record(static_cast<BYTE>(1 + random() % 3), flags, body.bytes));
    }
    return Packed(tags, records);
}

TEST(RecipientRecords, RandomAndTruncatedRecordsNeverReadOutsideTheData)
{
    CGuardedBuffer buffer(1 << 16);
    ASSERT_TRUE(buffer.Guarded());
    std::mt19937 random(20240611);
    std::vector<ULONG> tags;

    // Well-formed values read whole, then every truncation and random damage.
    for (int round = 0; round < 300; ++round) {
        const Bytes whole = RandomPacked(random, tags);
        const SRecipientRecords parsed = ParseRecipientRecords(buffer.Place(whole, whole.size()),
                                                               static_cast<ULONG>(whole.size()));
        ASSERT_TRUE(parsed.leftOut.empty()) << "round " << round;
        ASSERT_EQ(whole[0] | whole[1] << 8, static_cast<int>(parsed.records.size())) << "round " << round;
        for (size_t size = 0; size < whole.size(); ++size)
            ParseGuarded(buffer, whole, size);
        for (int damage = 0; damage < 20; ++damage) {
            Bytes damaged = whole;
            for (int n = 1 + random() % 4; n > 0; --n)
                damaged[random() % damaged.size()] = static_cast<BYTE>(random());
            ParseGuarded(buffer, damaged, damaged.size());
            ParseGuarded(buffer, damaged, random() % (damaged.size() + 1));
        }
    }
    // Noise, with small headers so that records are reached.
    for (int round = 0; round < 5000; ++round) {
        Bytes noise(random() % 200);
        for (BYTE& b : noise)
            b = static_cast<BYTE>(random());
        if (noise.size() >= 6) {
            noise[1] = 0;
            noise[4] = static_cast<BYTE>(noise[4] % 4);
            noise[5] = 0;
        }
        ParseGuarded(buffer, noise, noise.size());
    }
}

} // namespace
