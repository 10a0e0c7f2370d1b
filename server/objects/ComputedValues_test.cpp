// The computed-property handlers over hand-built rows: subject, sender entry
// name and address type, the copies into empty twins, and the root aliasing.
#include "Platform.h"
#include "objects/ComputedValues.h"
#include "EseValueMemory.h"
#include "objects/CEseStoreContext.h"
#include "objects/ComputedProperties.h"
#include "objects/FolderTables.h"
#include "objects/RootAliasMaps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;

// A row of values that owns their memory, as the engine hands it to the
// handlers.
class CRow {
public:
    ~CRow()
    {
        for (auto& value : m_values)
            FreeEseValueContents(value);
    }
    CRow& Text(ULONG tag, const wchar_t* text)
    {
        _SEsePropertyValue value = {};
        SetStringValue(value, tag, text);
        m_values.push_back(value);
        return *this;
    }
    CRow& Binary(ULONG tag, const Bytes& bytes)
    {
        _SEsePropertyValue value = {};
        value.m_tag = tag;
        value.m_type = ESE_PT_BINARY;
        value.m_value.m_bin.m_count = static_cast<ULONG>(bytes.size());
        value.m_value.m_bin.m_p_bt = static_cast<BYTE*>(CoTaskMemAlloc(bytes.size() ? bytes.size() : 1));
        std::memcpy(value.m_value.m_bin.m_p_bt, bytes.data(), bytes.size());
        m_values.push_back(value);
        return *this;
    }
    // Absent (0x000A) or null (0x0001) column, as the engine marks them.
    CRow& Missing(ULONG tag, USHORT type = 0x000A)
    {
        _SEsePropertyValue value = {};
        value.m_tag = (tag & 0xFFFF0000) | type;
        value.m_type = ESE_PT_ERROR;
        value.m_value.m_err.m_code = static_cast<long>(0x8004010F);
        m_values.push_back(value);
        return *this;
    }
    CRow& Int64(ULONG tag, int64_t number)
    {
        _SEsePropertyValue value = {};
        value.m_tag = tag;
        value.m_type = ESE_PT_INT64;
        value.m_value.m_i64 = number;
        m_values.push_back(value);
        return *this;
    }
    CRow& Int32(ULONG tag, long number)
    {
        _SEsePropertyValue value = {};
        value.m_tag = tag;
        value.m_type = ESE_PT_INT32;
        value.m_value.m_i32 = number;
        m_values.push_back(value);
        return *this;
    }

    template <typename Handler>
    void Run(Handler handler)
    {
        handler(static_cast<ULONG>(m_values.size()), m_values.data(), ContextRef());
    }

    const _SEsePropertyValue& operator[](size_t i) const { return m_values[i]; }
    // The text of value i, or a marker saying what it is instead.
    std::wstring TextAt(size_t i) const
    {
        const _SEsePropertyValue& value = m_values[i];
        if (value.m_type != ESE_PT_STRING16)
            return L"<type " + std::to_wstring(value.m_type) + L">";
        return value.m_value.m_p_ws ? value.m_value.m_p_ws : L"<null>";
    }

private:
    std::vector<_SEsePropertyValue> m_values;
};

Bytes Utf16Bytes(const std::wstring& text)
{
    Bytes bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

// A sender entry: the first word, then (long layout) two more bytes, the
// one-byte name length and the name bytes, then a tail.
Bytes ShortEntry(const Bytes& name, const Bytes& tail = "tail")
{
    return Bytes("\x00\x00", 2) + static_cast<char>(name.size()) + name + tail;
}
Bytes LongEntry(const Bytes& name, char flags = 0, const Bytes& tail = "tail")
{
    return Bytes("\x00\x80", 2) + flags + '\x01' + static_cast<char>(name.size()) + name + tail;
}

const Bytes kZero(1, '\0');
const Bytes kZeroUnit(2, '\0');

} // namespace

TEST(ComputedSubject, PrefixAndNormalizedSubjectMakeTheSubject)
{
    struct Case {
        const char* name;
        const wchar_t* prefix;      // null: column absent
        const wchar_t* normalized;  // null: column absent
        const wchar_t* stored;      // null: subject absent
        std::wstring expected;
    } cases[] = {
        {"prefix and normalized replace a different stored subject", L"RE: ", L"Hello", L"Other", L"RE: Hello"},
        {"normalized alone", nullptr, L"Hello", L"Hello", L"Hello"},
        {"a null stored subject is filled", L"FW: ", L"Plan", nullptr, L"FW: Plan"},
        {"no parts keep the stored subject", nullptr, nullptr, L"Kept", L"Kept"},
        {"empty parts keep the stored subject", L"", L"", L"Kept", L"Kept"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRow row;
        if (c.stored)
            row.Text(0x0037001F, c.stored);
        else
            row.Missing(0x0037001F, 0x0001);
        c.prefix ? row.Text(0x003D001F, c.prefix) : row.Missing(0x003D001F);
        c.normalized ? row.Text(0x0E1D001F, c.normalized) : row.Missing(0x0E1D001F);
        row.Run(ComputeSubject);
        if (!c.stored && c.expected.empty())
            EXPECT_EQ(ESE_PT_ERROR, row[0].m_type);
        else
            EXPECT_EQ(c.expected, row.TextAt(0));
        EXPECT_EQ(0x0037001Fu, row[0].m_tag);
    }
}

TEST(ComputedSubject, RowWithoutSubjectIsLeftAlone)
{
    CRow row;
    row.Text(0x003D001F, L"RE: ").Text(0x0E1D001F, L"Hello");
    row.Run(ComputeSubject);
    EXPECT_EQ(L"RE: ", row.TextAt(0));
    EXPECT_EQ(L"Hello", row.TextAt(1));
}

TEST(SenderEntry, NameInBothLayoutsAndBothWidths)
{
    struct Case {
        const char* name;
        Bytes entry;
        std::wstring expected;
    } cases[] = {
        {"short layout, ANSI with its zero last", ShortEntry("Alice" + kZero), L"Alice"},
        {"long layout, ANSI with its zero last", LongEntry("Bob" + kZero), L"Bob"},
        {"short layout, UTF-16", ShortEntry(Utf16Bytes(L"Carol") + kZeroUnit), L"Carol"},
        {"long layout, UTF-16 filling its whole length", LongEntry(Utf16Bytes(L"Dave"), 0, kZero), L"Dave"},
        {"UTF-16 beyond Latin-1", LongEntry(Utf16Bytes(L"\x0416\x0435\x043D\x044F") + kZeroUnit),
         L"\x0416\x0435\x043D\x044F"},
        {"UTF-16 stops at its first zero unit", ShortEntry(Utf16Bytes(L"Ed") + kZeroUnit + Utf16Bytes(L"xy")), L"Ed"},
        {"ANSI zero elsewhere than last is read as UTF-16", ShortEntry(Bytes("Ab\0cd", 5)), L"\x6241\x6300"},
        {"length 0", Bytes("\x00\x00\x00zz\0", 6), L""},
        {"name running beyond the entry", Bytes("\x00\x00\x09" "Ann\0", 7), L""},
        {"no zero byte after the name start", ShortEntry("Alice", "xyz"), L""},
        {"entry of one byte", Bytes("\x00", 1), L""},
        {"long entry cut before its length byte", Bytes("\x00\x80\x10\x00", 4), L""},
        {"name that is only its zero", ShortEntry(kZero), L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected,
                  SenderEntryName(reinterpret_cast<const BYTE*>(c.entry.data()), static_cast<ULONG>(c.entry.size())));
    }
}

TEST(SenderEntry, AddressTypeFromTheEntryFlags)
{
    struct Case {
        const char* name;
        Bytes entry;
        const wchar_t* expected;
    } cases[] = {
        {"long layout with the SMTP bit", LongEntry("a" + kZero, 0x10), L"SMTP"},
        {"long layout with other bits only", LongEntry("a" + kZero, static_cast<char>(0xEF)), L"EX"},
        {"short layout whose byte 2 has the bit", Bytes("\x00\x00\x10" "a", 4), L"EX"},
        {"entry too short to hold byte 2", Bytes("\x00\x80", 2), L"EX"},
        {"one byte", Bytes("\xFF", 1), L"EX"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(c.expected,
                     SenderAddressType(reinterpret_cast<const BYTE*>(c.entry.data()),
                                       static_cast<ULONG>(c.entry.size())));
    }
}

TEST(ComputedSender, NameComesFromTheFirstUsableEntry)
{
    // Source order of the rule: the name itself, then the three entries.
    CRow row;
    row.Missing(0x0042001F, 0x0001)
        .Binary(0x67B60102, "")
        .Binary(0x67B50102, LongEntry("Second" + kZero))
        .Binary(0x67BD0102, ShortEntry("Third" + kZero));
    row.Run(ComputeSenderName);
    EXPECT_EQ(L"Second", row.TextAt(0));
    EXPECT_EQ(0x0042001Fu, row[0].m_tag);
}

TEST(ComputedSender, StoredNameAndUnusableEntriesChangeNothing)
{
    CRow stored;
    stored.Text(0x0042001F, L"Stored").Binary(0x67B60102, ShortEntry("Entry" + kZero));
    stored.Run(ComputeSenderName);
    EXPECT_EQ(L"Stored", stored.TextAt(0));

    CRow malformed;
    malformed.Text(0x0042001F, L"").Binary(0x67B60102, Bytes("\x00\x00\x40" "x", 4));
    malformed.Run(ComputeSenderName);
    EXPECT_EQ(L"", malformed.TextAt(0));

    CRow none;
    none.Missing(0x0042001F).Missing(0x67B60102).Missing(0x67B50102).Missing(0x67BD0102);
    none.Run(ComputeSenderName);
    EXPECT_EQ(ESE_PT_ERROR, none[0].m_type);
}

TEST(ComputedSender, AddressTypeOnlyFillsAnEmptyValue)
{
    struct Case {
        const char* name;
        bool storedType;
        Bytes entry;  // empty: no entry value
        std::wstring expected;
    } cases[] = {
        {"SMTP entry", false, LongEntry("a" + kZero, 0x10), L"SMTP"},
        {"Exchange entry", false, LongEntry("a" + kZero, 0), L"EX"},
        {"stored type wins", true, LongEntry("a" + kZero, 0x10), L"X400"},
        {"no entry leaves the error", false, "", L"<type 0>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRow row;
        c.storedType ? row.Text(0x0064001F, L"X400") : row.Missing(0x0064001F, 0x0001);
        c.entry.empty() ? row.Missing(0x67B60102) : row.Binary(0x67B60102, c.entry);
        row.Run(ComputeSenderAddressType);
        EXPECT_EQ(c.expected, row.TextAt(0));
    }
}

TEST(ComputedSender, CopiesFillOnlyEmptyTwins)
{
    using Handler = void (*)(ULONG, _SEsePropertyValue*, const ContextRef&);
    struct Case {
        const char* name;
        Handler handler;
        ULONG target;
        ULONG source;
    } cases[] = {
        {"email address from the SMTP address", CopySenderEmailAddress, 0x0065001F, 0x4031001F},
        {"representing name from the sender name", CopySentRepresentingName, 0x0C1A001F, 0x0042001F},
        {"representing address from the sender address", CopySentRepresentingAddress, 0x0C1F001F, 0x0065001F},
        {"representing type from the sender type", CopySentRepresentingAddressType, 0x0C1E001F, 0x0064001F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRow nullTarget;
        nullTarget.Missing(c.target, 0x0001).Text(c.source, L"from source");
        nullTarget.Run(c.handler);
        EXPECT_EQ(L"from source", nullTarget.TextAt(0));
        EXPECT_EQ(c.target, nullTarget[0].m_tag);

        CRow emptyTarget;
        emptyTarget.Text(c.target, L"").Text(c.source, L"from source");
        emptyTarget.Run(c.handler);
        EXPECT_EQ(L"from source", emptyTarget.TextAt(0));

        CRow storedTarget;
        storedTarget.Text(c.target, L"stored").Text(c.source, L"from source");
        storedTarget.Run(c.handler);
        EXPECT_EQ(L"stored", storedTarget.TextAt(0));

        CRow emptySource;
        emptySource.Missing(c.target, 0x0001).Text(c.source, L"");
        emptySource.Run(c.handler);
        EXPECT_EQ(ESE_PT_ERROR, emptySource[0].m_type);
    }
}

TEST(ComputedSender, RulesInOrderFillTheRepresentingNameFromTheEntry)
{
    // Asking only for 0x0C1A001F: the requested value, then the rule's sources
    // (itself and 0x0042001F), then the sources of the sender-name rule.
    CRow row;
    row.Missing(0x0C1A001F, 0x0001)
        .Missing(0x0C1A001F, 0x0001)
        .Missing(0x0042001F, 0x0001)
        .Binary(0x67B60102, LongEntry(Utf16Bytes(L"Zo\x00EB") + kZeroUnit));
    row.Run(ComputeSenderName);
    row.Run(CopySentRepresentingName);
    EXPECT_EQ(L"Zo\x00EB", row.TextAt(0));
}

TEST(ComputedRoot, AliasMapsRewriteParentAndFolderIds)
{
    SetRootAlias(0x7001, 0x5001);
    struct Case {
        const char* name;
        void (*handler)(ULONG, _SEsePropertyValue*, const ContextRef&);
        ULONG tag;
        int64_t stored;
        int64_t expected;
    } cases[] = {
        {"child of the alias folder names the root as parent", AliasParentFolderId, 0x67490014, 0x7001, 0x5001},
        {"other parents stay", AliasParentFolderId, 0x67490014, 0x7002, 0x7002},
        {"message of the alias folder names the root as folder", AliasMessageFolderId, 0x67480014, 0x7001, 0x5001},
        {"other folders stay", AliasMessageFolderId, 0x67480014, 0x5001, 0x5001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRow row;
        row.Int64(c.tag, c.stored);
        row.Run(c.handler);
        EXPECT_EQ(c.tag, row[0].m_tag);
        EXPECT_EQ(ESE_PT_INT64, row[0].m_type);
        EXPECT_EQ(c.expected, row[0].m_value.m_i64);
    }

    // An absent id column is no id: its error value stays as it was.
    CRow absent;
    absent.Missing(0x67490014);
    absent.Run(AliasParentFolderId);
    EXPECT_EQ(ESE_PT_ERROR, absent[0].m_type);
    EXPECT_EQ(static_cast<long>(0x8004010F), absent[0].m_value.m_err.m_code);
}

// The nine counters of a mailbox root, in the order of the counter map.
const ULONG kCounterOrder[] = {0x36170003, 0x66B20003, 0x66B10003, 0x36020003, 0x36030003,
                               0x66380003, 0x66AD0003, 0x66B00003, 0x66AF0003};

TEST(ComputedRoot, RootRowShowsTheAliasFolderCounters)
{
    SRootCounters counters = {{11, 12, 13, 14, 15, 16, 17, 18, 19}};
    SetRootCounters(0x5002, counters);

    // The row lists the counter columns backwards, so that a handler that
    // wrote by position instead of by its counter's tag would be caught.
    CRow row;
    row.Int64(0x67480014, 0x5002);
    for (size_t i = 9; i-- > 0;)
        row.Int32(kCounterOrder[i], 0);
    for (auto handler : {ShowRootCounter<0>, ShowRootCounter<1>, ShowRootCounter<2>, ShowRootCounter<3>,
                         ShowRootCounter<4>, ShowRootCounter<5>, ShowRootCounter<6>, ShowRootCounter<7>,
                         ShowRootCounter<8>})
        row.Run(handler);
    for (unsigned i = 0; i < 9; ++i) {
        const _SEsePropertyValue& value = row[9 - i];
        EXPECT_EQ(kCounterOrder[i], value.m_tag) << "counter " << i;
        EXPECT_EQ(ESE_PT_INT32, value.m_type);
        EXPECT_EQ(static_cast<long>(11 + i), value.m_value.m_i32) << "counter " << i;
    }
}

TEST(ComputedRules, TheRuleTableRunsItsRowsInOrder)
{
    using Handler = void (*)(ULONG, _SEsePropertyValue*, const ContextRef&);
    const struct {
        ULONG target;
        ULONG kindMask;
        std::vector<ULONG> sources;
        Handler handler;
    } rows[] = {
        {0x0037001F, 0x1, {0x003D001F, 0x0E1D001F}, ComputeSubject},
        {0x0042001F, 0x4, {0x0042001F, 0x67B60102, 0x67B50102, 0x67BD0102}, ComputeSenderName},
        {0x0065001F, 0x4, {0x0065001F, 0x4031001F}, CopySenderEmailAddress},
        {0x0064001F, 0x4, {0x0064001F, 0x67B60102}, ComputeSenderAddressType},
        {0x0C1A001F, 0x4, {0x0C1A001F, 0x0042001F}, CopySentRepresentingName},
        {0x0C1F001F, 0x4, {0x0C1F001F, 0x0065001F}, CopySentRepresentingAddress},
        {0x0C1E001F, 0x4, {0x0C1E001F, 0x0064001F}, CopySentRepresentingAddressType},
        {0x360A000B, 0x2, {0x67480014}, ComputeSubfoldersFlag},
        {0x67490014, 0x2, {0x67490014}, AliasParentFolderId},
        {0x36170003, 0x2, {0x67480014, 0x36170003}, ShowRootCounter<0>},
        {0x66B20003, 0x2, {0x67480014, 0x66B20003}, ShowRootCounter<1>},
        {0x66B10003, 0x2, {0x67480014, 0x66B10003}, ShowRootCounter<2>},
        {0x36020003, 0x2, {0x67480014, 0x36020003}, ShowRootCounter<3>},
        {0x36030003, 0x2, {0x67480014, 0x36030003}, ShowRootCounter<4>},
        {0x66380003, 0x2, {0x67480014, 0x66380003}, ShowRootCounter<5>},
        {0x66AD0003, 0x2, {0x67480014, 0x66AD0003}, ShowRootCounter<6>},
        {0x66B00003, 0x2, {0x67480014, 0x66B00003}, ShowRootCounter<7>},
        {0x66AF0003, 0x2, {0x67480014, 0x66AF0003}, ShowRootCounter<8>},
        {0x67480014, 0x1, {0x67480014}, AliasMessageFolderId},
    };
    size_t n = 0;
    for (; g_eseComputedProps[n].handler; ++n) {
        ASSERT_LT(n, sizeof(rows) / sizeof(rows[0])) << "more rules than expected";
        const SComputedProperty& rule = g_eseComputedProps[n];
        SCOPED_TRACE("rule " + std::to_string(n));
        EXPECT_EQ(rows[n].target, rule.targetTag);
        EXPECT_EQ(rows[n].kindMask, rule.kindMask);
        EXPECT_EQ(rows[n].sources, std::vector<ULONG>(rule.sourceTags, rule.sourceTags + rule.sourceCount));
        EXPECT_TRUE(rows[n].handler == rule.handler);
    }
    EXPECT_EQ(sizeof(rows) / sizeof(rows[0]), n);
}

TEST(ComputedRoot, CountersOfOtherFoldersStayAndNullCountersBecomeNumbers)
{
    SRootCounters counters = {{1, 2, 3, 4, 5, 6, 7, 8, 9}};
    SetRootCounters(0x5003, counters);

    CRow other;
    other.Int64(0x67480014, 0x5004).Int32(0x36020003, 42);
    other.Run(ShowRootCounter<3>);
    EXPECT_EQ(42, other[1].m_value.m_i32);

    // A root whose own count column is null still shows the alias folder's.
    CRow nullCount;
    nullCount.Int64(0x67480014, 0x5003).Missing(0x36020003, 0x0001);
    nullCount.Run(ShowRootCounter<3>);
    EXPECT_EQ(0x36020003u, nullCount[1].m_tag);
    EXPECT_EQ(ESE_PT_INT32, nullCount[1].m_type);
    EXPECT_EQ(4, nullCount[1].m_value.m_i32);

    CRow noFolderId;
    noFolderId.Missing(0x67480014).Int32(0x36020003, 42);
    noFolderId.Run(ShowRootCounter<3>);
    EXPECT_EQ(42, noFolderId[1].m_value.m_i32);
}
