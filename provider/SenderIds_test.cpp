// Sender identifiers rebuilt from the stored sender entry: the two kinds of
// identifier byte for byte, what a GetProps result gets for each
// combination of stored values and requested tags, and the same answers
// whichever tags are requested together.
#include "ProviderPlatform.h"
#include "SenderIds.h"
#include "MapiPtr.h"
#include "ProviderLog.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <list>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Wide(const std::wstring& text)
{
    Bytes bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<BYTE>(c));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kOneOffUid = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
const Bytes kAddressBookUid = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A,
                               0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};

TEST(SenderIds, OneOffAndAddressBookIdentifiers)
{
    EXPECT_EQ(Cat({Bytes(4, 0), kOneOffUid, {0x00, 0x00, 0x17, 0x90}, Wide(L"Bruno"), Wide(L"SMTP"),
                   Wide(L"b@x.org")}),
              BuildOneOffEntryId(L"Bruno", L"b@x.org"));
    EXPECT_EQ(Cat({Bytes(4, 0), kAddressBookUid, {1, 0, 0, 0, 0, 0, 0, 0}, {'/', 'o', '=', 'X', 0}}),
              BuildAddressBookEntryId(L"/o=X"));
    EXPECT_EQ(Cat({Bytes(4, 0), kAddressBookUid, {1, 0, 0, 0, 0, 0, 0, 0}, {0}}), BuildAddressBookEntryId(L""));

    struct Case {
        Bytes entry;
        bool smtp;
    } cases[] = {
        {{0x01, 0x80, 0x10, 0x00, 0x05}, true},
        {{0x01, 0x80, 0x00, 0x00, 0x05}, false}, // Exchange sender: no SMTP bit
        {{0x01, 0x00, 0x10, 0x00, 0x05}, false}, // short layout: byte 2 is a length
        {{0x01, 0x80, 0x10}, false},             // too short for a second word
        {{}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.smtp, IsSmtpSenderEntry(c.entry.data(), static_cast<ULONG>(c.entry.size())));
}

// What the server holds, and which of it was asked for.
struct CFakeServer {
    std::map<ULONG, std::wstring> texts;
    std::map<ULONG, Bytes> bytes;
    std::vector<ULONG> asked;

    SSenderSource Source()
    {
        SSenderSource source;
        source.text = [this](ULONG tag, std::wstring& text) -> HRESULT {
            asked.push_back(tag);
            auto found = texts.find(tag);
            if (found == texts.end())
                return MAPI_E_NOT_FOUND;
            text = found->second;
            return S_OK;
        };
        source.bytes = [this](ULONG tag, Bytes& value) -> HRESULT {
            asked.push_back(tag);
            auto found = bytes.find(tag);
            if (found == bytes.end())
                return 0x80070002;
            value = found->second;
            return S_OK;
        };
        return source;
    }
};

const Bytes kSmtpEntry = {0x01, 0x80, 0x10, 0x00, 0x06, 'B', 0, 'o', 0, 0, 0};
const Bytes kExchangeEntry = {0x01, 0x00, 0x03, 'C', 'y', 0};

// A GetProps result: requested tags, each either the server's value or
// PT_ERROR when the server had none.
class CResult {
public:
    explicit CResult(const std::vector<ULONG>& tags) : m_tags(tags)
    {
        HRESULT hr = S_OK;
        m_values = MapiAllocate<SPropValue>(static_cast<ULONG>(tags.size() * sizeof(SPropValue)), hr);
        for (size_t i = 0; i < tags.size(); ++i) {
            m_values.get()[i].ulPropTag = CHANGE_PROP_TYPE(tags[i], PT_ERROR);
            m_values.get()[i].Value.err = MAPI_E_NOT_FOUND;
            NoteSenderTag(tags[i], static_cast<int>(i), m_sentRepresenting, m_sender);
        }
    }

    void SetText(ULONG tag, const std::wstring& text)
    {
        m_texts.push_back(text);
        SPropValue& v = At(tag);
        v.ulPropTag = tag;
        v.Value.lpszW = &m_texts.back()[0];
    }

    void SetBytes(ULONG tag, const Bytes& bytes)
    {
        m_bytes.push_back(bytes);
        SPropValue& v = At(tag);
        v.ulPropTag = tag;
        v.Value.bin.cb = static_cast<ULONG>(bytes.size());
        v.Value.bin.lpb = m_bytes.back().data();
    }

    HRESULT Synthesize(CFakeServer& server, std::wstring& log)
    {
        return SynthesizeSenderValues(m_values.get(), m_sentRepresenting, m_sender, server.Source(), m_values.get(), log);
    }

    // "error" for a PT_ERROR value, the text, or the bytes in hex.
    std::wstring Shown(ULONG tag)
    {
        const SPropValue& v = At(tag);
        if (PROP_TYPE(v.ulPropTag) == PT_ERROR)
            return L"error";
        if (v.ulPropTag != tag)
            return L"wrong tag";
        if (PROP_TYPE(tag) == PT_UNICODE)
            return v.Value.lpszW;
        std::wstring hex;
        wchar_t cell[4];
        for (ULONG i = 0; i < v.Value.bin.cb; ++i) {
            swprintf(cell, 4, L"%02X", v.Value.bin.lpb[i]);
            hex += cell;
        }
        return hex;
    }

private:
    SPropValue& At(ULONG tag)
    {
        for (size_t i = 0; i < m_tags.size(); ++i)
            if (m_tags[i] == tag)
                return m_values.get()[i];
        static SPropValue none{};
        ADD_FAILURE() << "tag not requested " << std::hex << tag;
        return none;
    }

    std::vector<ULONG> m_tags;
    MapiPtr<SPropValue> m_values;
    SSenderPositions m_sentRepresenting, m_sender;
    std::list<std::wstring> m_texts;
    std::list<Bytes> m_bytes;
};

std::wstring HexOf(const Bytes& bytes)
{
    std::wstring hex;
    wchar_t cell[4];
    for (BYTE b : bytes) {
        swprintf(cell, 4, L"%02X", b);
        hex += cell;
    }
    return hex;
}

const std::vector<ULONG> kAllSenderTags = {
    kPrSentRepresentingAddrTypeW, kPrSentRepresentingEmailAddressW, kPrSentRepresentingNameW,
    kPrSentRepresentingEntryId,   kPrSentRepresentingSearchKey,     kPrSenderAddrTypeW,
    kPrSenderEmailAddressW,       kPrSenderNameW,                   kPrSenderEntryId,
    kPrSenderSearchKey};

TEST(SenderIds, WhatEachStoredSenderGives)
{
    const std::wstring oneOff = HexOf(BuildOneOffEntryId(L"Bruno", L"b@x.org"));
    const std::wstring addressBook = HexOf(BuildAddressBookEntryId(L"/o=X/cn=cy"));
    struct Case {
        const char* what;
        std::wstring name;       // sent-representing name the server has ("" none)
        Bytes storedEntryId;     // 0x00410102 the server has (empty none)
        const wchar_t* address;  // 0x4031001F the server has (null none)
        Bytes senderEntry;       // 0x67B60102 ("" none)
        HRESULT result;
        std::wstring senderName, sentEmail, senderEmail, sentEntryId, senderEntryId;
        bool logged;
    } cases[] = {
        {"an SMTP sender gets one-off identifiers", L"Bruno", {}, L"b@x.org", kSmtpEntry, S_OK, L"Bruno",
         L"b@x.org", L"b@x.org", oneOff, oneOff, false},
        {"an Exchange sender gets address-book identifiers", L"Cy", {}, L"/o=X/cn=cy", kExchangeEntry, S_OK, L"Cy",
         L"/o=X/cn=cy", L"/o=X/cn=cy", addressBook, addressBook, false},
        {"a stored identifier starting 0x67 is rebuilt quietly", L"Bruno", {0x67, 1}, L"b@x.org", kSmtpEntry, S_OK,
         L"Bruno", L"b@x.org", L"b@x.org", oneOff, oneOff, false},
        {"one starting otherwise is logged, then rebuilt", L"Bruno", {0x12, 0x34}, L"b@x.org", kSmtpEntry, S_OK,
         L"Bruno", L"b@x.org", L"b@x.org", oneOff, oneOff, true},
        {"one starting 0xFF is kept, and nothing after the name is done", L"Bruno", {0xFF, 0x01}, L"b@x.org",
         kSmtpEntry, S_OK, L"Bruno", L"error", L"error", L"FF01", L"error", false},
        {"without a name nothing is built", L"", {}, L"b@x.org", kSmtpEntry, S_OK, L"error", L"error", L"error",
         L"error", L"error", false},
        {"without an address nothing is built", L"Bruno", {}, nullptr, kSmtpEntry, MAPI_E_NOT_FOUND, L"Bruno",
         L"error", L"error", L"error", L"error", false},
        {"an empty address is none", L"Bruno", {}, L"", kSmtpEntry, MAPI_E_NOT_FOUND, L"Bruno", L"error",
         L"error", L"error", L"error", false},
        {"without a sender entry the addresses are still filled", L"Bruno", {}, L"b@x.org", {}, MAPI_E_NOT_FOUND,
         L"Bruno", L"b@x.org", L"b@x.org", L"error", L"error", false},
    };
    for (const Case& c : cases) {
        providertest::CScratchDir dir;
        std::wstring log = dir.File(kLogFileName);
        CFakeServer server;
        CResult result(kAllSenderTags);
        if (!c.name.empty()) {
            result.SetText(kPrSentRepresentingNameW, c.name);
            server.texts[kPrSentRepresentingNameW] = c.name;
        }
        if (!c.storedEntryId.empty()) {
            result.SetBytes(kPrSentRepresentingEntryId, c.storedEntryId);
            server.bytes[kPrSentRepresentingEntryId] = c.storedEntryId;
        }
        if (c.address)
            server.texts[kServerSenderAddress] = c.address;
        if (!c.senderEntry.empty())
            server.bytes[kServerSenderEntry] = c.senderEntry;

        EXPECT_EQ(c.result, result.Synthesize(server, log)) << c.what;
        EXPECT_EQ(c.senderName, result.Shown(kPrSenderNameW)) << c.what;
        EXPECT_EQ(c.sentEmail, result.Shown(kPrSentRepresentingEmailAddressW)) << c.what;
        EXPECT_EQ(c.senderEmail, result.Shown(kPrSenderEmailAddressW)) << c.what;
        EXPECT_EQ(c.sentEntryId, result.Shown(kPrSentRepresentingEntryId)) << c.what;
        EXPECT_EQ(c.senderEntryId, result.Shown(kPrSenderEntryId)) << c.what;
        // Address types and search keys are the server's business.
        EXPECT_EQ(L"error", result.Shown(kPrSenderAddrTypeW)) << c.what;
        EXPECT_EQ(L"error", result.Shown(kPrSentRepresentingSearchKey)) << c.what;

        const std::vector<std::wstring> lines = providertest::ReadLogLines(log);
        bool dumped = false;
        for (const std::wstring& line : lines)
            dumped = dumped || line.find(kSenderDumpPrefix) != std::wstring::npos;
        EXPECT_EQ(c.logged, dumped) << c.what;
    }
}

TEST(SenderIds, ValuesTheServerHasStay)
{
    CFakeServer server;
    server.texts[kServerSenderAddress] = L"server@x.org";
    server.bytes[kServerSenderEntry] = kSmtpEntry;
    CResult result(kAllSenderTags);
    result.SetText(kPrSentRepresentingNameW, L"Rep");
    result.SetText(kPrSenderNameW, L"Sender");
    result.SetText(kPrSentRepresentingEmailAddressW, L"rep@x.org");
    result.SetText(kPrSenderEmailAddressW, L"sender@x.org");
    std::wstring log;
    EXPECT_EQ(S_OK, result.Synthesize(server, log));
    EXPECT_EQ(L"Sender", result.Shown(kPrSenderNameW));
    EXPECT_EQ(L"sender@x.org", result.Shown(kPrSenderEmailAddressW));
    // The requested address wins over the server's 0x4031.
    const std::wstring id = HexOf(BuildOneOffEntryId(L"Rep", L"rep@x.org"));
    EXPECT_EQ(id, result.Shown(kPrSentRepresentingEntryId));
    EXPECT_EQ(id, result.Shown(kPrSenderEntryId));
}

TEST(SenderIds, EachTagAloneGetsWhatItGetsAmongAllOthers)
{
    const auto fill = [](CFakeServer& server) {
        server.texts[kPrSentRepresentingNameW] = L"Bruno";
        server.texts[kServerSenderAddress] = L"b@x.org";
        server.bytes[kServerSenderEntry] = kSmtpEntry;
        server.bytes[kPrSentRepresentingEntryId] = {0x67, 0x00};
    };
    // Among all others (the stored values as a server row holds them).
    CFakeServer all;
    fill(all);
    CResult together(kAllSenderTags);
    together.SetText(kPrSentRepresentingNameW, L"Bruno");
    together.SetBytes(kPrSentRepresentingEntryId, {0x67, 0x00});
    std::wstring log;
    ASSERT_EQ(S_OK, together.Synthesize(all, log));

    for (ULONG tag : {kPrSenderEntryId, kPrSentRepresentingEntryId, kPrSenderEmailAddressW,
                      kPrSentRepresentingEmailAddressW, kPrSenderNameW}) {
        CFakeServer server;
        fill(server);
        CResult alone({tag});
        if (tag == kPrSentRepresentingEntryId)
            alone.SetBytes(tag, {0x67, 0x00});
        EXPECT_EQ(S_OK, alone.Synthesize(server, log)) << std::hex << tag;
        EXPECT_EQ(together.Shown(tag), alone.Shown(tag)) << std::hex << tag;
    }
}

TEST(SenderIds, NothingIsAskedWhenNothingIsMissing)
{
    CFakeServer server;
    CResult result({kPrSenderNameW, kPrSentRepresentingEmailAddressW, kPrSenderAddrTypeW, PR_SUBJECT_W});
    result.SetText(kPrSenderNameW, L"S");
    result.SetText(kPrSentRepresentingEmailAddressW, L"s@x.org");
    std::wstring log;
    EXPECT_EQ(S_OK, result.Synthesize(server, log));
    EXPECT_TRUE(server.asked.empty());

    SSenderPositions a, b;
    EXPECT_FALSE(NoteSenderTag(PR_SUBJECT_W, 0, a, b));
    EXPECT_FALSE(a.Any() || b.Any());
    EXPECT_TRUE(NoteSenderTag(kPrSenderSearchKey, 3, a, b));
    EXPECT_EQ(3, b.searchKey);
    EXPECT_EQ(E_INVALIDARG, SynthesizeSenderValues(nullptr, a, b, server.Source(), nullptr, log));
}

} // namespace
