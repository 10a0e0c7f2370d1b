#include "Platform.h"
#include "objects/CEseTableImpl.h"
#include "CException.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace exchangefixture;
using NJbFramework::CSharedRef;

namespace {

using Engine = CSharedRef<CEseTableImpl>;

Engine Open(const CFixtureStore& store, unsigned short key, const std::string& table, unsigned long kind)
{
    return Engine(new CEseTableImpl(key, store.Context(), table.c_str(), kind));
}

std::string Hex(unsigned long value)
{
    char text[16];
    snprintf(text, sizeof(text), "%08lX", value);
    return text;
}

std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; text && *text; ++text)
        narrow += *text < 128 ? static_cast<char>(*text) : '?';
    return narrow;
}

// A value as text: "<contract type>:<payload>" (the tag is checked apart).
std::string Describe(const _SEsePropertyValue& value)
{
    const auto& v = value.m_value;
    char text[64];
    switch (value.m_type) {
    case ESE_PT_ERROR:
        return "err:" + Hex(value.m_tag).substr(4) + "/" + std::to_string(v.m_err.m_source) + "/" +
               Hex(static_cast<unsigned long>(v.m_err.m_code));
    case ESE_PT_BOOL: return std::string("bool:") + (v.m_b ? "1" : "0");
    case ESE_PT_INT16: return "i16:" + std::to_string(v.m_i16);
    case ESE_PT_INT32: return "i32:" + std::to_string(v.m_i32);
    case ESE_PT_INT64: return "i64:" + std::to_string(v.m_i64);
    case ESE_PT_DOUBLE: snprintf(text, sizeof(text), "dbl:%g", v.m_d); return text;
    case ESE_PT_FILETIME:
        return "ft:" + Hex(v.m_ft.dwHighDateTime) + Hex(v.m_ft.dwLowDateTime);
    case ESE_PT_GUID: return "guid:" + Hex(v.m_p_g->Data1);
    case ESE_PT_STRING16: return "str:" + Narrow(v.m_p_ws);
    case ESE_PT_BINARY:
        return "bin:" + std::string(reinterpret_cast<const char*>(v.m_bin.m_p_bt), v.m_bin.m_count);
    case ESE_PT_MV_INT32: {
        std::string out = "mv32:";
        for (ULONG i = 0; i < v.m_mv_i32.m_count; ++i)
            out += (i ? "," : "") + std::to_string(v.m_mv_i32.m_p_i32[i]);
        return out;
    }
    case ESE_PT_MV_INT64: {
        std::string out = "mv64:";
        for (ULONG i = 0; i < v.m_mv_i64.m_count; ++i)
            out += (i ? "," : "") + std::to_string(v.m_mv_i64.m_p_i64[i]);
        return out;
    }
    case ESE_PT_MV_INT16: {
        std::string out = "mv16:";
        for (ULONG i = 0; i < v.m_mv_i16.m_count; ++i)
            out += (i ? "," : "") + std::to_string(v.m_mv_i16.m_p_i16[i]);
        return out;
    }
    case ESE_PT_MV_DOUBLE: {
        std::string out = "mvdbl:";
        for (ULONG i = 0; i < v.m_mv_d.m_count; ++i) {
            snprintf(text, sizeof(text), "%s%g", i ? "," : "", v.m_mv_d.m_p_d[i]);
            out += text;
        }
        return out;
    }
    case ESE_PT_MV_FILETIME: {
        std::string out = "mvft:";
        for (ULONG i = 0; i < v.m_mv_ft.m_count; ++i)
            out += (i ? "," : "") + Hex(v.m_mv_ft.m_p_ft[i].dwLowDateTime);
        return out;
    }
    case ESE_PT_MV_GUID: {
        std::string out = "mvguid:";
        for (ULONG i = 0; i < v.m_mv_g.m_count; ++i)
            out += (i ? "," : "") + Hex(v.m_mv_g.m_p_g[i].Data1);
        return out;
    }
    case ESE_PT_MV_STRING16: {
        std::string out = "mvstr:";
        for (ULONG i = 0; i < v.m_mv_ws.m_count; ++i)
            out += (i ? "," : "") + Narrow(v.m_mv_ws.m_pp_ws[i]);
        return out;
    }
    case ESE_PT_MV_BINARY: {
        std::string out = "mvbin:";
        for (ULONG i = 0; i < v.m_mv_bin.m_count; ++i)
            out += (i ? "," : "") +
                   std::string(reinterpret_cast<const char*>(v.m_mv_bin.m_p_bin[i].m_p_bt), v.m_mv_bin.m_p_bin[i].m_count);
        return out;
    }
    default: return "type:" + Hex(value.m_type);
    }
}

constexpr const char* kNotFound = "8004010F";
std::string Missing(unsigned long tag) { return "err:" + Hex((tag & 0xFFFF0000) | 0x000A).substr(4) + "/0/" + kNotFound; }
std::string Null(unsigned long tag) { return "err:" + Hex((tag & 0xFFFF0000) | 0x0001).substr(4) + "/0/" + kNotFound; }
std::string TooLarge(unsigned long tag) { return "err:" + Hex((tag & 0xFFFF0000) | 0x000A).substr(4) + "/0/8007000E"; }

// Rows handed out by an engine, freed with the contract's rule.
struct CRows {
    _SEseRow* rows = nullptr;
    unsigned long count = 0;
    ~CRows() { FreeEseRows(rows, count); }
    std::vector<std::string> Column(unsigned long index) const
    {
        std::vector<std::string> values;
        for (unsigned long i = 0; i < count; ++i)
            values.push_back(index < rows[i].m_valueCount ? Describe(rows[i].m_p_values[index]) : "-");
        return values;
    }
};

void ReadRows(CEseTableImpl& engine, const std::vector<unsigned long>& tags, CRows& out, bool restart = true,
              unsigned long maximum = 0x7FFFFFFF)
{
    engine.SetColumns(static_cast<unsigned long>(tags.size()), tags.data());
    engine.GetRows(maximum, restart, &out.count, &out.rows);
}

std::vector<std::string> Ids(const std::vector<int64_t>& ids)
{
    std::vector<std::string> out;
    for (int64_t id : ids)
        out.push_back("i64:" + std::to_string(id));
    return out;
}

std::wstring Repeat(const std::wstring& unit, size_t count)
{
    std::wstring text;
    for (size_t i = 0; i < count; ++i)
        text += unit;
    return text;
}

unsigned long ErrorCode(const CException& error)
{
    unsigned long code = 0;
    error.GetCodes(&code, nullptr, nullptr);
    return code;
}

const GUID kGuid = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

// One mailbox store that every test reads.
struct SShop {
    CExchangeDatabase database;
    SMailbox alice, bob;
    int64_t inbox = 0, alpha = 0, beta = 0, empty = 0;
    int64_t plain = 0, large = 0, exact = 0, typed = 0, unlinked = 0;
    int64_t attachment = 0;
    std::unique_ptr<CFixtureStore> store;

    SShop()
    {
        alice = database.AddMailbox(L"Alice");
        bob = database.AddMailbox(L"Bob", ETopFolder::Absent);
        inbox = database.AddFolder(alice.topId, L"Inbox");
        beta = database.AddFolder(inbox, L"Beta");
        alpha = database.AddFolder(inbox, L"Alpha");
        empty = database.AddFolder(alice.topId, L"Empty");

        SMessage first;
        first.subject = L"First";
        first.senderName = L"Bob Smith";
        first.body = L"the body in Msg";
        first.folderRow = {Text("S0042", L"Bo"), Text("S1000", L"a stale copy of the body"),
                           Text("S0C1A", L"Representing, the long one"), Binary("J7F10", "ignored"),
                           Binary("F3701", "ignored"), Binary("F0E27", "ignored"), Int64("Q3F88", 1),
                           Binary("V3701", "kept")};
        first.msgRow = {Text("S0C1A", L"Short"), Binary("F7F30", "abc")};
        plain = database.AddMessage(inbox, first);

        SMessage large;
        large.subject = L"Large";
        large.body = Repeat(L"0123456789", 1000); // 20000 bytes
        large.msgRow = {Multi("ML7F20", {esefixture::I32(1), esefixture::I32(2), esefixture::I32(3)}),
                        Multi("MS7F21", {esefixture::Utf16(L"a"), esefixture::Utf16(L"bb"), esefixture::Utf16(L"ccc")}),
                        Multi("MQ7F22", {esefixture::I64(10), esefixture::I64(20), esefixture::I64(30)}),
                        Multi("MF7F23", {"x", "yy", "zzz"}),
                        Multi("ML7F24", {esefixture::I32(9)}),
                        Multi("MF7F25", {"small", std::string(9000, 'L')}),
                        Multi("MI7F26", {esefixture::I16(-1), esefixture::I16(2)}),
                        Multi("MD7F27", {Double("", 0.5).values[0], Double("", 1.5).values[0]}),
                        Multi("MT7F28", {esefixture::I64(0x10), esefixture::I64(0x20)}),
                        Multi("MG7F29", {GuidBytes(kGuid), GuidBytes(GUID{0xABCD, 0, 0, {0}})}),
                        // Multi-valued booleans are not in the conversion table: binary.
                        Multi("MB7F2A", {Bytes(1, '\x01'), Bytes(1, '\x00')})};
        this->large = database.AddMessage(inbox, large);

        SMessage exact;
        exact.subject = L"Exact";
        exact.body = Repeat(L"x", 4096); // 8192 bytes: still a row value
        this->exact = database.AddMessage(inbox, exact);

        SMessage typed;
        typed.subject = L"Typed";
        typed.msgRow = {Int16("I7F01", 7), Int32("L7F02", 123456), Double("D7F03", 2.5), Bool("B7F04", true),
                        Int64("Q7F05", -5), Int64("T7F06", 0x0123456789ABCDEFLL), Binary("G7F07", GuidBytes(kGuid)),
                        Binary("F7F08", "fixed"), Binary("V7F09", "long"), Binary("X7F0B", "other"),
                        Binary("F7F30", "abcdef"),
                        // Texts whose stored length is odd: a lone last byte.
                        Binary("S7F0D", Bytes("a\0b\0c", 5)), Binary("S7F0F", Bytes("d", 1)),
                        Multi("MS7F0E", {Bytes("x\0y", 3), esefixture::Utf16(L"zz")})};
        this->typed = database.AddMessage(inbox, typed);

        SMessage unlinked;
        unlinked.subject = L"Unlinked";
        unlinked.linked = false;
        this->unlinked = database.AddMessage(inbox, unlinked);

        SAttachment attach;
        attach.fileName = L"a.txt";
        attach.data = "attached";
        attach.row = {Int64("T3008", 0x1111), Text("S1000", L"attachment-row body")};
        attach.msgRow = {Int64("T3008", 0x2222), Text("S1000", L"attachment body")};
        attachment = database.AddAttachment(plain, attach);
        // A column of a table no row uses.
        database.AddColumn("Msg", ColumnSpecFor("L7F0C"));
        store.reset(new CFixtureStore(database));
    }

    std::string InboxTable() const { return CExchangeDatabase::MessageTable(inbox); }
    std::string AttachmentsTable() const { return CExchangeDatabase::MessageTable(database.AttachmentsFolderId()); }
    // The inbox's message table joined with "Msg".
    Engine InboxJoined() const
    {
        Engine messages = Open(*store, 0x674A, InboxTable(), kKindFolderMessages);
        messages->AddLinkedTable(0x67B0, Open(*store, 0x67B0, "Msg", kKindMsg));
        return messages;
    }
};

SShop& Shop()
{
    static SShop* shop = new SShop();
    return *shop;
}

TEST(ColumnNames, ParseTagsFromNames)
{
    struct Case {
        const char* name;
        bool column;
        unsigned long tag;
        bool multiValued;
        char letter;
    } cases[] = {
        {"Q6748", true, 0x67480014, false, 'Q'},
        {"s3001", true, 0x3001001F, false, 's'},
        {"F67B6", true, 0x67B60102, false, 'F'},
        {"N3701", true, 0x37010102, false, 'N'},
        {"V1000", true, 0x10000102, false, 'V'},
        {"B0E1B", true, 0x0E1B000B, false, 'B'},
        {"D7F03", true, 0x7F030005, false, 'D'},
        {"G0FFF", true, 0x0FFF0048, false, 'G'},
        {"I0017", true, 0x00170002, false, 'I'},
        {"J7F10", true, 0x7F100105, false, 'J'},
        {"L3602", true, 0x36020003, false, 'L'},
        {"O3702", true, 0x3702000D, false, 'O'},
        {"T668F", true, 0x668F0040, false, 'T'},
        {"X1234", true, 0x12340000, false, 'X'},
        {"MS8002", true, 0x8002101F, true, 'S'},
        {"mq1234", true, 0x12341014, true, 'q'},
        {"Qzz", true, 0x00000014, false, 'Q'},
        {"Q", false, 0, false, 0},
        {"", false, 0, false, 0},
        {"MQ", false, 0, false, 0},
        {nullptr, false, 0, false, 0},
    };
    for (const Case& c : cases) {
        unsigned long tag = 0;
        bool multi = false;
        char letter = 0;
        SCOPED_TRACE(c.name ? c.name : "(null)");
        ASSERT_EQ(c.column, ParseColumnName(c.name, &tag, &multi, &letter));
        if (!c.column)
            continue;
        EXPECT_EQ(Hex(c.tag), Hex(tag));
        EXPECT_EQ(c.multiValued, multi);
        EXPECT_EQ(c.letter, letter);
    }
}

TEST(ColumnNames, FolderIdsNameMessageTables)
{
    struct Case {
        unsigned char bytes[8];
        const char* name;
    } cases[] = {
        {{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34}, "1-1234"},
        {{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x12, 0x00}, "1-1200"},
        {{0x12, 0x34, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "1234"},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, ""},
        {{0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, "1-100000000"},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05}, "5"},
        {{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}, "ABCDEF-123456789"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "FFFFFFFFFFFFFFFF"},
    };
    for (const Case& c : cases) {
        int64_t id;
        memcpy(&id, c.bytes, sizeof(id));
        EXPECT_EQ(c.name, FormatEseId(id));
        EXPECT_EQ(c.name, CExchangeDatabase::MessageTable(id)) << "the fixture names tables the same way";
    }
}

TEST(Catalogue, LeavesOutExcludedColumnsAndFindsTheKeyColumn)
{
    SShop& shop = Shop();
    Engine messages = Open(*shop.store, 0x674A, shop.InboxTable(), kKindFolderMessages);
    std::vector<unsigned long> tags;
    for (const SEseColumnRecord& record : messages->Catalogue())
        tags.push_back(record.tag);
    auto has = [&](unsigned long tag) { return std::find(tags.begin(), tags.end(), tag) != tags.end(); };
    EXPECT_TRUE(has(0x674A0014));
    EXPECT_TRUE(has(0x37010102)) << "V3701 is catalogued, only the F column of 0x3701 is left out";
    EXPECT_FALSE(has(0x7F100105));
    EXPECT_FALSE(has(0x0E270102));
    EXPECT_FALSE(has(0x3F880014));
    const SEseColumnRecord* v3701 = messages->FindColumn(0x37010102);
    ASSERT_NE(nullptr, v3701);
    EXPECT_EQ("V3701", v3701->name);
    EXPECT_EQ('V', v3701->letter);

    Engine msg = Open(*shop.store, 0x67B0, "Msg", kKindMsg);
    const SEseColumnRecord* multi = msg->FindColumn(0x7F21101F);
    ASSERT_NE(nullptr, multi);
    EXPECT_TRUE(multi->multiValued);
    EXPECT_EQ(static_cast<JET_COLTYP>(JET_coltypLongText), multi->columnType);
    EXPECT_EQ(1200, multi->codePage);
}

TEST(Catalogue, LooksColumnsUpByTagTypeAndMappingRule)
{
    SShop& shop = Shop();
    Engine alone = Open(*shop.store, 0x674A, shop.InboxTable(), kKindFolderMessages);
    Engine joined = shop.InboxJoined();
    Engine msg = Open(*shop.store, 0x67B0, "Msg", kKindMsg);
    struct Case {
        const char* what;
        CEseTableImpl* table;
        unsigned long tag;
        unsigned long found; // 0: not found
    } cases[] = {
        {"exact tag", alone.Get(), 0x0037001F, 0x0037001F},
        {"type 0 takes the first column of the id", alone.Get(), 0x674A0000, 0x674A0014},
        {"another type falls back to the binary column", msg.Get(), 0x67B6001F, 0x67B60102},
        {"another type without a binary column", alone.Get(), 0x00370003, 0},
        {"absent id", alone.Get(), 0x7FFF001F, 0},
        {"the Msg link asked as binary: its 64-bit column", alone.Get(), 0x67B00102, 0x67B00014},
        {"the Msg link as binary on Msg itself", msg.Get(), 0x67B00102, 0x67B00014},
        {"another 64-bit id asked as binary", alone.Get(), 0x674A0102, 0},
        {"body on the message table alone", alone.Get(), 0x1000001F, 0x1000001F},
        {"body on the joined message table: served by Msg", joined.Get(), 0x1000001F, 0},
        {"body on Msg alone", msg.Get(), 0x1000001F, 0x1000001F},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hex(c.found), Hex(c.table->FindColumn(c.tag) ? c.table->FindColumn(c.tag)->tag : 0)) << c.what;

    const CEseTableImpl* holder = nullptr;
    const SEseColumnRecord* body = joined->FindColumnThroughLinks(0x1000001F, &holder);
    ASSERT_NE(nullptr, body);
    EXPECT_EQ("Msg", holder->TableName());
    EXPECT_EQ(nullptr, joined->FindColumnThroughLinks(0x7FFF001F));
}

// The debugger texts this thread writes while the object lives: a
// vectored handler sees the exception that OutputDebugString raises.
class CDebugTexts {
public:
    CDebugTexts() : m_handler(AddVectoredExceptionHandler(1, &CDebugTexts::Handler)) { Texts().clear(); }
    ~CDebugTexts() { RemoveVectoredExceptionHandler(m_handler); }
    CDebugTexts(const CDebugTexts&) = delete;
    CDebugTexts& operator=(const CDebugTexts&) = delete;
    static std::vector<std::string>& Texts()
    {
        static std::vector<std::string> texts;
        return texts;
    }

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* pointers)
    {
        const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
        if (record->NumberParameters < 2)
            return EXCEPTION_CONTINUE_SEARCH;
        // A wide text may be raised again narrow when no debugger took it:
        // that copy follows the wide one and is not counted twice.
        static bool lastWide = false;
        if (record->ExceptionCode == 0x4001000A) {
            Texts().push_back(Narrow(reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1])));
            lastWide = true;
        } else if (record->ExceptionCode == 0x40010006) {
            std::string text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
            if (!(lastWide && !Texts().empty() && Texts().back() == text))
                Texts().push_back(text);
            lastWide = false;
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }
    void* m_handler;
};

TEST(Catalogue, TheMappingRuleTellsTheDebuggerOncePerLookup)
{
    SShop& shop = Shop();
    Engine engine = shop.InboxJoined();
    std::vector<unsigned long> tags = {0x1000001F, 0x0037001F};
    CDebugTexts texts;
    engine->SetColumns(2, tags.data());
    std::vector<std::string> expected = {"table=" + shop.InboxTable() +
                                         " tag=1000001f is ignored because of tag mapping rule\n"};
    EXPECT_EQ(expected, CDebugTexts::Texts());
}

TEST(Move, TheThreeModesSelectRows)
{
    SShop& shop = Shop();
    const int64_t absent = 0x0777000000000100LL;
    int64_t msgPlain = shop.database.MsgRowId(shop.plain);
    int64_t msgLarge = shop.database.MsgRowId(shop.large);
    int64_t msgTyped = shop.database.MsgRowId(shop.typed);
    struct Case {
        const char* what;
        unsigned short key;
        const char* index; // set by name when given
        unsigned long kind;
        std::string table;
        std::vector<int64_t> keys;
        bool match;
        unsigned long column;
        std::vector<int64_t> expected;
    } cases[] = {
        {"exact keys in list order", 0x67B0, nullptr, kKindMsg, "Msg", {msgTyped, msgPlain}, true, 0x67B00014,
         {msgTyped, msgPlain}},
        {"exact keys end at an absent key", 0x67B0, nullptr, kKindMsg, "Msg", {msgLarge, absent, msgPlain}, true,
         0x67B00014, {msgLarge}},
        {"a scan never matches the absent key", 0x67B0, nullptr, kKindFolderMessages, shop.InboxTable(),
         {msgTyped, absent, msgPlain}, true, 0x67B00014, {msgPlain, msgTyped}},
        {"match false leaves the listed keys out", 0x674A, nullptr, kKindNamedProps, shop.InboxTable(),
         {shop.plain, shop.large, shop.exact, shop.typed, shop.unlinked}, false, 0x674A0014,
         {}}, // folder entries only: filled below
        {"no keys select every row", 0x67B0, nullptr, kKindMsg, "Msg", {}, true, 0x67B00014, {}},
        {"range: the children of a folder in display-name order", 0x6749, "?T668F+Q6749+S3001+Q6748+2",
         kKindFolders, "Folders", {shop.inbox}, true, 0x67480014, {shop.alpha, shop.beta}},
        {"range: only the first key counts", 0x6749, "?T668F+Q6749+S3001+Q6748+2", kKindFolders, "Folders",
         {shop.alice.topId, shop.inbox}, true, 0x67480014, {shop.empty, shop.inbox}},
        {"range: a parent without children", 0x6749, "?T668F+Q6749+S3001+Q6748+2", kKindFolders, "Folders",
         {shop.alpha}, true, 0x67480014, {}},
        {"range over a root's children", 0x6749, "?T668F+Q6749+S3001+Q6748+2", kKindFolders, "Folders",
         {shop.alice.rootId}, true, 0x67480014, {shop.alice.topId}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        Engine engine = Open(*shop.store, c.key, c.table, c.kind);
        if (c.index)
            engine->SetIndexByName(c.index);
        engine->SetKeyValues(static_cast<unsigned long>(c.keys.size()), c.keys.data(), c.match);
        CRows rows;
        ReadRows(*engine, {c.column}, rows);
        std::vector<std::string> got = rows.Column(0);
        // Once the selection has ended, continuing finds nothing more (no
        // rows of other keys beyond a range or after an absent key).
        CRows more;
        engine->GetRows(10, false, &more.count, &more.rows);
        EXPECT_EQ(0u, more.count);
        if (std::string(c.what) == "match false leaves the listed keys out") {
            // Left: the entry rows of the inbox's two child folders.
            EXPECT_EQ(2u, got.size());
            for (int64_t id : c.keys)
                EXPECT_EQ(got.end(), std::find(got.begin(), got.end(), "i64:" + std::to_string(id)));
            continue;
        }
        if (std::string(c.what) == "no keys select every row") {
            EXPECT_EQ(5u, got.size()) << "four messages and one attachment share Msg";
            continue;
        }
        EXPECT_EQ(Ids(c.expected), got);
    }
}

TEST(Move, LinkedTablesFollowTheJoinedRowAndStayUnpositionedOnANullLink)
{
    SShop& shop = Shop();
    Engine msg = Open(*shop.store, 0x67B0, "Msg", kKindMsg);
    Engine messages = Open(*shop.store, 0x674A, shop.InboxTable(), kKindFolderMessages);
    messages->AddLinkedTable(0x67B0, msg);
    int64_t keys[] = {shop.plain, shop.unlinked};
    messages->SetKeyValues(2, keys, true);
    ASSERT_TRUE(messages->Move(true));
    EXPECT_TRUE(msg->IsPositioned());
    ASSERT_TRUE(messages->Move(false));
    EXPECT_FALSE(msg->IsPositioned()) << "a null link leaves the joined table unpositioned";
    EXPECT_FALSE(messages->Move(false));
    EXPECT_FALSE(messages->IsPositioned());

    CRows rows;
    ReadRows(*messages, {0x0037001F, 0x0042001F}, rows);
    ASSERT_EQ(2u, rows.count);
    EXPECT_EQ((std::vector<std::string>{"str:First", "str:Unlinked"}), rows.Column(0));
    EXPECT_EQ((std::vector<std::string>{"str:Bob Smith", Null(0x0042001F)}), rows.Column(1));
}

TEST(RowValues, ConvertEveryStoredType)
{
    SShop& shop = Shop();
    Engine engine = shop.InboxJoined();
    int64_t key = shop.typed;
    engine->SetKeyValues(1, &key, true);
    struct Case {
        unsigned long tag;
        std::string value;
        unsigned long valueTag;
    } cases[] = {
        {0x7F010002, "i16:7", 0x7F010002},
        {0x7F020003, "i32:123456", 0x7F020003},
        {0x7F030005, "dbl:2.5", 0x7F030005},
        {0x7F04000B, "bool:1", 0x7F04000B},
        {0x7F050014, "i64:-5", 0x7F050014},
        {0x7F060040, "ft:0123456789ABCDEF", 0x7F060040},
        {0x7F070048, "guid:12345678", 0x7F070048},
        {0x7F080102, "bin:fixed", 0x7F080102},
        {0x7F090102, "bin:long", 0x7F090102},
        {0x7F0B0000, "bin:other", 0x7F0B0000},
        // Another type finds only a binary (0x0102) column of the id.
        {0x7F0B0102, Missing(0x7F0B0102), 0x7F0B000A},
        {0x7F300003, "bin:abcdef", 0x7F300102},
        {0x7F0C0003, Null(0x7F0C0003), 0x7F0C0001},
        {0x7EEE001F, Missing(0x7EEE001F), 0x7EEE000A},
        {0x0037001F, "str:Typed", 0x0037001F},
        // The link to "Msg" asked as binary: its 8 bytes, under the tag asked for.
        {0x67B00102, "bin:" + esefixture::I64(shop.database.MsgRowId(shop.typed)), 0x67B00102},
    };
    std::vector<unsigned long> tags;
    for (const Case& c : cases)
        tags.push_back(c.tag);
    CRows rows;
    ReadRows(*engine, tags, rows);
    ASSERT_EQ(1u, rows.count);
    ASSERT_EQ(tags.size(), rows.rows[0].m_valueCount);
    for (size_t i = 0; i < tags.size(); ++i) {
        SCOPED_TRACE(Hex(cases[i].tag));
        EXPECT_EQ(cases[i].value, Describe(rows.rows[0].m_p_values[i]));
        EXPECT_EQ(Hex(cases[i].valueTag), Hex(rows.rows[0].m_p_values[i].m_tag));
    }
}

// The units of a text block up to its first zero unit, never reading past the
// block's allocated size; "<no zero unit>" when the block holds none.
std::wstring TextWithinBlock(const wchar_t* text)
{
    ComPtr<IMalloc> malloc;
    if (!text || FAILED(CoGetMalloc(1, &malloc)))
        return L"<no block>";
    size_t units = malloc->GetSize(const_cast<wchar_t*>(text)) / sizeof(wchar_t);
    for (size_t i = 0; i < units; ++i) {
        if (text[i] == L'\0')
            return std::wstring(text, i);
    }
    return L"<no zero unit>";
}

TEST(RowValues, OddLengthTextsKeepTheirLastByteAndEndInsideTheirBlock)
{
    SShop& shop = Shop();
    Engine engine = shop.InboxJoined();
    int64_t key = shop.typed;
    engine->SetKeyValues(1, &key, true);
    CRows rows;
    ReadRows(*engine, {0x7F0D001F, 0x7F0F001F, 0x7F0E101F}, rows);
    ASSERT_EQ(1u, rows.count);
    const _SEsePropertyValue* values = rows.rows[0].m_p_values;
    ASSERT_EQ(ESE_PT_STRING16, values[0].m_type);
    EXPECT_EQ(L"abc", TextWithinBlock(values[0].m_value.m_p_ws));
    ASSERT_EQ(ESE_PT_STRING16, values[1].m_type);
    EXPECT_EQ(L"d", TextWithinBlock(values[1].m_value.m_p_ws));
    ASSERT_EQ(ESE_PT_MV_STRING16, values[2].m_type);
    ASSERT_EQ(2u, values[2].m_value.m_mv_ws.m_count);
    EXPECT_EQ(L"xy", TextWithinBlock(values[2].m_value.m_mv_ws.m_pp_ws[0]));
    EXPECT_EQ(L"zz", TextWithinBlock(values[2].m_value.m_mv_ws.m_pp_ws[1]));
}

TEST(RowValues, MultiValuedAndLargeValues)
{
    SShop& shop = Shop();
    Engine engine = shop.InboxJoined();
    int64_t keys[] = {shop.large, shop.exact};
    engine->SetKeyValues(2, keys, true);
    struct Case {
        unsigned long tag;
        std::string large;
        std::string exact;
    } cases[] = {
        {0x7F201003, "mv32:1,2,3", Null(0x7F201003)},
        {0x7F21101F, "mvstr:a,bb,ccc", Null(0x7F21101F)},
        {0x7F221014, "mv64:10,20,30", Null(0x7F221014)},
        {0x7F231102, "mvbin:x,yy,zzz", Null(0x7F231102)},
        {0x7F241003, "mv32:9", Null(0x7F241003)},
        {0x7F261002, "mv16:-1,2", Null(0x7F261002)},
        {0x7F271005, "mvdbl:0.5,1.5", Null(0x7F271005)},
        {0x7F281040, "mvft:00000010,00000020", Null(0x7F281040)},
        {0x7F291048, "mvguid:12345678,0000ABCD", Null(0x7F291048)},
        {0x7F2A100B, std::string("mvbin:\x01,") + std::string(1, '\0'), Null(0x7F2A100B)},
        // An element longer than a row holds makes the whole value a stream
        // value instead of a truncated element.
        {0x7F251102, TooLarge(0x7F251102), Null(0x7F251102)},
        {0x1000001F, TooLarge(0x1000001F), "str:" + std::string(4096, 'x')},
    };
    std::vector<unsigned long> tags;
    for (const Case& c : cases)
        tags.push_back(c.tag);
    CRows rows;
    ReadRows(*engine, tags, rows);
    ASSERT_EQ(2u, rows.count);
    for (size_t i = 0; i < tags.size(); ++i) {
        SCOPED_TRACE(Hex(cases[i].tag));
        EXPECT_EQ(cases[i].large, Describe(rows.rows[0].m_p_values[i]));
        EXPECT_EQ(cases[i].exact, Describe(rows.rows[1].m_p_values[i]));
    }
}

TEST(RowValues, JoinedTablesFillAndReplaceShorterValues)
{
    SShop& shop = Shop();
    Engine engine = shop.InboxJoined();
    int64_t key = shop.plain;
    engine->SetKeyValues(1, &key, true);
    struct Case {
        const char* what;
        unsigned long tag;
        std::string value;
    } cases[] = {
        {"only in the message table", 0x0037001F, "str:First"},
        {"a longer text in Msg replaces the shorter one", 0x0042001F, "str:Bob Smith"},
        {"a shorter text in Msg does not", 0x0C1A001F, "str:Representing, the long one"},
        {"the body comes from Msg by the mapping rule", 0x1000001F, "str:the body in Msg"},
        {"binary only in Msg", 0x7F300102, "bin:abc"},
        {"in no table", 0x7EEE0003, Missing(0x7EEE0003)},
    };
    std::vector<unsigned long> tags;
    for (const Case& c : cases)
        tags.push_back(c.tag);
    CRows rows;
    ReadRows(*engine, tags, rows);
    ASSERT_EQ(1u, rows.count);
    for (size_t i = 0; i < tags.size(); ++i)
        EXPECT_EQ(cases[i].value, Describe(rows.rows[0].m_p_values[i])) << cases[i].what;

    // The attachment table and Msg: the attachment times come from the
    // attachment row, the body from Msg.
    Engine attachments = Open(*shop.store, 0x674A, shop.AttachmentsTable(), kKindAttachments);
    attachments->AddLinkedTable(0x67B0, Open(*shop.store, 0x67B0, "Msg", kKindMsg));
    EXPECT_EQ(0x14u, attachments->KindMask());
    CRows attached;
    ReadRows(*attachments, {0x30080040, 0x1000001F, 0x3704001F}, attached);
    ASSERT_EQ(1u, attached.count);
    EXPECT_EQ("ft:0000000000001111", Describe(attached.rows[0].m_p_values[0]));
    EXPECT_EQ("str:attachment body", Describe(attached.rows[0].m_p_values[1]));
    EXPECT_EQ("str:a.txt", Describe(attached.rows[0].m_p_values[2]));
}

TEST(RowValues, NoColumnsGiveEmptyRows)
{
    SShop& shop = Shop();
    Engine engine = shop.InboxJoined();
    CRows rows;
    ReadRows(*engine, {}, rows);
    ASSERT_GT(rows.count, 0u);
    for (unsigned long i = 0; i < rows.count; ++i) {
        EXPECT_EQ(0u, rows.rows[i].m_valueCount);
        EXPECT_EQ(nullptr, rows.rows[i].m_p_values);
    }
}

TEST(Links, KindMasksSpreadThroughTheJoinAndMissingLinksFail)
{
    SShop& shop = Shop();
    Engine mailbox = Open(*shop.store, 0x6764, "Mailbox", kKindMailbox);
    Engine folders = Open(*shop.store, 0x6748, "Folders", kKindFolders);
    Engine messages = Open(*shop.store, 0x674A, shop.InboxTable(), kKindFolderMessages);
    Engine msg = Open(*shop.store, 0x67B0, "Msg", kKindMsg);
    messages->AddLinkedTable(0x67B0, msg);
    EXPECT_EQ(5u, messages->KindMask());
    EXPECT_EQ(5u, msg->KindMask());
    // Folders joins a table that already joined another one: the union
    // reaches every table below.
    folders->AddLinkedTable(0x6748, messages);
    EXPECT_EQ(7u, msg->KindMask());
    mailbox->AddLinkedTable(0x6764, folders);
    for (CEseTableImpl* table : {mailbox.Get(), folders.Get(), messages.Get(), msg.Get()})
        EXPECT_EQ(15u, table->KindMask()) << table->TableName();

    Engine other = Open(*shop.store, 0x67B0, "Msg", kKindMsg);
    try {
        other->AddLinkedTable(0x1234, Open(*shop.store, 0x6748, "Folders", kKindFolders));
        ADD_FAILURE() << "no exception";
    } catch (const CException& error) {
        EXPECT_EQ(2u, ErrorCode(error));
        EXPECT_STREQ(L"table=Msg cannot find link column by id=1234", error.GetMessage());
    }
    // A join is a tree: a table cannot be joined below itself.
    EXPECT_THROW(msg->AddLinkedTable(0x67B0, messages), CException);
    EXPECT_THROW(msg->AddLinkedTable(0x67B0, msg), CException);

    // The mailbox row shows its root folder's columns.
    int64_t root = shop.alice.rootId;
    Engine box = Open(*shop.store, 0x6764, "Mailbox", kKindMailbox);
    box->AddLinkedTable(0x6764, Open(*shop.store, 0x6748, "Folders", kKindFolders));
    box->SetKeyValues(1, &root, true);
    CRows rows;
    ReadRows(*box, {0x3001001F, 0x67490014, 0x67480014}, rows);
    ASSERT_EQ(1u, rows.count);
    EXPECT_EQ("str:Alice", Describe(rows.rows[0].m_p_values[0]));
    EXPECT_EQ("i64:0", Describe(rows.rows[0].m_p_values[1]));
    EXPECT_EQ("i64:" + std::to_string(root), Describe(rows.rows[0].m_p_values[2]));
}

TEST(Columns, SelectedColumnsMergeAndAllColumnsAreSortedOnce)
{
    SShop& shop = Shop();
    Engine engine = shop.InboxJoined();
    std::vector<unsigned long> requested = {0x0042001F, 0x67B60000, 0x7EEE001F, 0x1000001F, 0x0037001F};
    engine->SetColumns(static_cast<unsigned long>(requested.size()), requested.data());
    unsigned long count = 0;
    unsigned long* tags = nullptr;
    engine->GetColumns(false, &count, &tags);
    ASSERT_EQ(5u, count);
    std::vector<unsigned long> selected(tags, tags + count);
    CoTaskMemFree(tags);
    EXPECT_EQ((std::vector<unsigned long>{0x0042001F, 0x67B60102, 0x7EEE000A, 0x1000001F, 0x0037001F}), selected);

    engine->GetColumns(true, &count, &tags);
    ASSERT_GT(count, 0u);
    std::vector<unsigned long> all(tags, tags + count);
    CoTaskMemFree(tags);
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
    EXPECT_EQ(all.end(), std::adjacent_find(all.begin(), all.end())) << "each tag once";
    for (unsigned long tag : {0x674A0014ul, 0x67B00014ul, 0x67B60102ul, 0x7F21101Ful, 0x1000001Ful})
        EXPECT_NE(all.end(), std::find(all.begin(), all.end(), tag)) << Hex(tag);

    // Nothing selected: nothing handed out.
    Engine bare = Open(*shop.store, 0, "NamedProps", kKindNamedProps);
    bare->SetColumns(0, nullptr);
    count = 7;
    tags = reinterpret_cast<unsigned long*>(1);
    bare->GetColumns(false, &count, &tags);
    EXPECT_EQ(0u, count);
    EXPECT_EQ(nullptr, tags);
}

// A test rule: the target becomes the texts of its two sources joined.
void JoinSources(unsigned long count, _SEsePropertyValue* values, const CSharedRef<CEseStoreContext>& context)
{
    EXPECT_TRUE(context);
    _SEsePropertyValue* target = nullptr;
    std::wstring text;
    for (unsigned long i = 0; i < count; ++i) {
        unsigned long id = values[i].m_tag >> 16;
        if (id == 0x7EE0 && !target)
            target = &values[i];
        if ((id == 0x003D || id == 0x0E1D) && values[i].m_type == ESE_PT_STRING16)
            text += values[i].m_value.m_p_ws;
    }
    if (!target)
        return;
    FreeEseValueContents(*target);
    target->m_tag = 0x7EE0001F;
    target->m_type = ESE_PT_STRING16;
    target->m_value.m_p_ws = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    memcpy(target->m_value.m_p_ws, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

const SComputedProperty kTestRules[] = {
    {0x7EE0001F, 0x1, 2, {0x003D001F, 0x0E1D001F}, JoinSources},
    {0x7EE1001F, 0x4, 1, {0x0042001F}, JoinSources},
    {0, 0, 0, {}, nullptr},
};

TEST(Computed, RulesAddTheirSourcesAndDropThemFromTheRow)
{
    CExchangeDatabase database;
    SMailbox box = database.AddMailbox(L"C");
    SMessage message;
    message.subject = L"stored";
    message.subjectPrefix = L"FW: ";
    message.normalizedSubject = L"topic";
    int64_t folder = database.AddFolder(box.topId, L"F");
    int64_t id = database.AddMessage(folder, message);
    CFixtureStore store(database);

    struct Case {
        const char* what;
        bool joined;
        std::vector<unsigned long> tags;
        std::vector<std::string> values;
    } cases[] = {
        {"the rule of the table's kind runs", false, {0x0037001F, 0x7EE0001F}, {"str:stored", "str:FW: topic"}},
        {"a rule for Msg needs Msg in the join", false, {0x7EE1001F}, {Missing(0x7EE1001F)}},
        {"not requested: no rule runs", false, {0x0037001F}, {"str:stored"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Engine engine = Open(store, 0x674A, CExchangeDatabase::MessageTable(folder), kKindFolderMessages);
        engine->UseComputedProperties(kTestRules);
        engine->SetKeyValues(1, &id, true);
        CRows rows;
        ReadRows(*engine, c.tags, rows);
        ASSERT_EQ(1u, rows.count);
        ASSERT_EQ(c.values.size(), rows.rows[0].m_valueCount) << "the sources are not handed out";
        for (size_t i = 0; i < c.values.size(); ++i)
            EXPECT_EQ(c.values[i], Describe(rows.rows[0].m_p_values[i]));
        unsigned long count = 0;
        unsigned long* tags = nullptr;
        engine->GetColumns(false, &count, &tags);
        EXPECT_EQ(c.tags.size(), count) << "the listed columns are those of the rows";
        CoTaskMemFree(tags);
    }
    // Joined with Msg, the rule for kind 4 applies (the union holds 4), and
    // the linked table runs the same rules.
    Engine engine = Open(store, 0x674A, CExchangeDatabase::MessageTable(folder), kKindFolderMessages);
    engine->UseComputedProperties(kTestRules);
    engine->AddLinkedTable(0x67B0, Open(store, 0x67B0, "Msg", kKindMsg));
    engine->SetKeyValues(1, &id, true);
    CRows rows;
    ReadRows(*engine, {0x7EE1001F, 0x7EE0001F}, rows);
    ASSERT_EQ(1u, rows.count);
    EXPECT_EQ("str:FW: topic", Describe(rows.rows[0].m_p_values[1]));
}

TEST(GetRows, PagesWithoutLosingRows)
{
    SShop& shop = Shop();
    Engine engine = Open(*shop.store, 0x67B0, "Msg", kKindMsg);
    CRows all;
    ReadRows(*engine, {0x67B00014}, all);
    ASSERT_EQ(5u, all.count);
    std::vector<std::string> paged;
    for (bool restart = true;; restart = false) {
        CRows page;
        engine->GetRows(2, restart, &page.count, &page.rows);
        if (page.count == 0) {
            EXPECT_EQ(nullptr, page.rows);
            break;
        }
        EXPECT_LE(page.count, 2u);
        for (const std::string& value : page.Column(0))
            paged.push_back(value);
    }
    EXPECT_EQ(all.Column(0), paged);

    CRows none;
    engine->GetRows(0, true, &none.count, &none.rows);
    EXPECT_EQ(0u, none.count);
    EXPECT_EQ(nullptr, none.rows);
}

TEST(RetrieveColumn, ReadsPiecesHereOrInTheJoinedTable)
{
    SShop& shop = Shop();
    Engine engine = shop.InboxJoined();
    unsigned long actual = 0;
    char buffer[16] = {};
    EXPECT_FALSE(engine->RetrieveColumn(0x0037001F, 0, sizeof(buffer), buffer, &actual)) << "not positioned";

    int64_t key = shop.large;
    engine->SetKeyValues(1, &key, true);
    ASSERT_TRUE(engine->Move(true));
    struct Case {
        const char* what;
        unsigned long tag;
        unsigned long offset;
        unsigned long size;
        bool found;
        unsigned long actual;
        std::string bytes;
    } cases[] = {
        {"size of a long value in the joined table", 0x1000001F, 0, 0, true, 20000, ""},
        {"a piece from an offset", 0x1000001F, 2 * 12, 4, true, 20000 - 24, std::string("2\0003\000", 4)},
        {"a short value from an offset", 0x0037001F, 2, 4, true, 8, std::string("a\000r\000", 4)},
        {"a short value beyond its end", 0x0037001F, 40, 4, true, 0, ""},
        {"an absent column", 0x7EEE001F, 0, 4, false, 0, ""},
        {"a null column", 0x0042001F, 0, 4, false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        memset(buffer, 0, sizeof(buffer));
        actual = 0xDEAD;
        bool found = engine->RetrieveColumn(c.tag, c.offset, c.size, c.size ? buffer : nullptr, &actual);
        ASSERT_EQ(c.found, found);
        if (!found)
            continue;
        EXPECT_EQ(c.actual, actual);
        EXPECT_EQ(c.bytes, std::string(buffer, c.bytes.size()));
    }
}

TEST(Indexes, ParentIndexesDifferInEntryCount)
{
    // The fixture's two parent-id indexes: the first leaves out the roots.
    SShop& shop = Shop();
    const char* names[] = {"?T668f+Q6749+S3001+Q6748", "?T668F+Q6749+S3001+Q6748+2"};
    unsigned long counts[2] = {};
    for (int i = 0; i < 2; ++i) {
        Engine folders = Open(*shop.store, 0x6749, "Folders", kKindFolders);
        folders->SetIndexByName(names[i]);
        CRows rows;
        ReadRows(*folders, {0x67480014}, rows);
        counts[i] = rows.count;
    }
    EXPECT_LT(counts[0], counts[1]);
    EXPECT_EQ(counts[1] - counts[0], 3u) << "two mailbox roots and the attachments folder";
}

} // namespace
