// The recipient records and sender entries the fixture databases hold (the
// server's test fixtures), read by the provider's own readers: what the
// message objects will make of them once they read them from the server.
#include "ProviderPlatform.h"
#include "DisplayRecipients.h"
#include "RecipientRecords.h"
#include "SenderIds.h"
#include "MessageFixtures.h"
#include "testing/ConverterTestSupport.h"

#include <initguid.h>
#define USES_IID_IMessage
#include <mapiguid.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace exchangefixture;

SRecipientRecords Parse(const Bytes& bytes)
{
    return ParseRecipientRecords(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<ULONG>(bytes.size()));
}

TEST(MessageSamples, RecipientRecordsOfTheSamples)
{
    const SRecipientRecords sample = Parse(PackedRecipients(SampleRecipientTags(), SampleRecipients()));
    EXPECT_TRUE(sample.leftOut.empty());
    ASSERT_EQ(5u, sample.records.size());
    const std::vector<uint32_t> sampleTags = SampleRecipientTags();
    const std::vector<ULONG> tags(sampleTags.begin(), sampleTags.end());
    EXPECT_EQ(tags, sample.extraTags);

    struct Expected {
        ERecipientLayout layout;
        std::wstring address;
        size_t values;
        std::vector<ULONG> errorColumns;  // values the markers say are absent
    } expected[] = {
        {ERecipientLayout::A, L"alice@example.com", 5, {}},
        {ERecipientLayout::C, L"", 5, {0x5FFD0003, 0x39FE001F}},
        {ERecipientLayout::B, L"", 2, {0x5FF70102}},
        {ERecipientLayout::A, L"dmitri@example.org", 5, {}},
        {ERecipientLayout::C, L"", 0, {}},
    };
    for (size_t i = 0; i < 5; ++i) {
        const SRecipientRecord& record = sample.records[i];
        EXPECT_EQ(expected[i].layout, record.layout) << i;
        EXPECT_EQ(expected[i].address, record.address) << i;
        ASSERT_EQ(expected[i].values, record.values.size()) << i;
        std::vector<ULONG> errors;
        for (const SRecipientValue& value : record.values)
            if (PROP_TYPE(value.tag) == PT_ERROR)
                errors.push_back(value.column);
        EXPECT_EQ(expected[i].errorColumns, errors) << i;
    }
    EXPECT_EQ(L"alice@example.com", std::wstring(reinterpret_cast<const wchar_t*>(sample.records[0].values[3].bytes.data())));

    const SDisplayRecipients lists = CollectDisplayRecipients(sample.records);
    EXPECT_EQ(L"Alice Lindqvist; Carla Nystr\u00F6m", lists.to);
    EXPECT_EQ(L"Team Leads; Dmitri Orlov", lists.cc);
    EXPECT_EQ(L"Erik Berg", lists.bcc);

    const Bytes damagedBytes = SampleDamagedRecipients();
    const SRecipientRecords damaged = Parse(damagedBytes);
    ASSERT_EQ(1u, damaged.leftOut.size());
    EXPECT_EQ(11u, damaged.leftOut[0].size);
    const SDisplayRecipients shown = CollectDisplayRecipients(damaged.records);
    EXPECT_EQ(L"Anna", shown.to);
    EXPECT_EQ(L"", shown.cc);
    EXPECT_EQ(L"Bo", shown.bcc);
}

TEST(MessageSamples, SenderEntriesOfBothKinds)
{
    SMessage smtp, exchange;
    SetSender(smtp, ESenderKind::Smtp, L"Bruno Castell", L"bruno@example.com");
    SetSender(exchange, ESenderKind::Exchange, L"Carla", L"/o=Example/cn=carla");
    EXPECT_TRUE(IsSmtpSenderEntry(reinterpret_cast<const BYTE*>(smtp.senderEntry.data()),
                                  static_cast<ULONG>(smtp.senderEntry.size())));
    EXPECT_FALSE(IsSmtpSenderEntry(reinterpret_cast<const BYTE*>(exchange.senderEntry.data()),
                                   static_cast<ULONG>(exchange.senderEntry.size())));
}

class MimeSamples : public ::testing::Test {
protected:
    static void SetUpTestSuite() { providertest::EnsureConverterRegistered(); }

    ComPtr<IMessage> Converted(const std::string& mime)
    {
        ComPtr<IMessage> message;
        EXPECT_EQ(S_OK, MessageFromMime(providertest::StreamOf(mime).Get(), m_memory.Get(), &message));
        return message;
    }

    static std::vector<ULONG> AttachmentNumbers(IMessage* message)
    {
        std::vector<ULONG> numbers;
        ComPtr<IMAPITable> table;
        EXPECT_EQ(S_OK, message->GetAttachmentTable(MAPI_UNICODE, &table));
        if (!table)
            return numbers;
        SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(S_OK, HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                       &rows));
        for (ULONG r = 0; rows && r < rows->cRows; ++r)
            numbers.push_back(static_cast<ULONG>(rows->aRow[r].lpProps[0].Value.l));
        FreeProws(rows);
        return numbers;
    }

    providertest::CComScope m_com;
    providertest::CTestAllocators m_memory;
};

TEST_F(MimeSamples, TheAlternativeSampleHasBothBodies)
{
    ComPtr<IMessage> message = Converted(SampleMimeAlternative());
    ASSERT_TRUE(message);
    EXPECT_EQ(L"Caf\u00E9 on Friday", providertest::TextProp(message.Get(), PR_SUBJECT_W));
    const std::string body = providertest::StreamBytes(message.Get(), PR_BODY_W);
    EXPECT_EQ(L"Shall we meet at the caf\u00E9 at noon?",
              std::wstring(reinterpret_cast<const wchar_t*>(body.data()), body.size() / sizeof(wchar_t)));
    EXPECT_NE(std::string::npos, providertest::StreamBytes(message.Get(), 0x10130102).find("<b>noon</b>"));
    EXPECT_TRUE(AttachmentNumbers(message.Get()).empty());
}

TEST_F(MimeSamples, TheAttachmentSampleHasAFileAndAMessage)
{
    ComPtr<IMessage> message = Converted(SampleMimeWithAttachments());
    ASSERT_TRUE(message);
    const std::vector<ULONG> numbers = AttachmentNumbers(message.Get());
    ASSERT_EQ(2u, numbers.size());

    ComPtr<IAttach> file;
    ASSERT_EQ(S_OK, message->OpenAttach(numbers[0], nullptr, 0, &file));
    EXPECT_EQ(L"report.bin", providertest::TextProp(file.Get(), PR_ATTACH_LONG_FILENAME_W));
    const std::string data = providertest::StreamBytes(file.Get(), PR_ATTACH_DATA_BIN);
    ASSERT_EQ(12000u, data.size());
    EXPECT_EQ(static_cast<char>(7 * 300 + 300 / 256), data[300]);

    ComPtr<IAttach> attached;
    ASSERT_EQ(S_OK, message->OpenAttach(numbers[1], nullptr, 0, &attached));
    LPSPropValue method = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(attached.Get(), PR_ATTACH_METHOD, &method));
    EXPECT_EQ(ATTACH_EMBEDDED_MSG, method->Value.l);
    MAPIFreeBuffer(method);
    ComPtr<IMessage> note;
    ASSERT_EQ(S_OK, attached->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0,
                                           reinterpret_cast<LPUNKNOWN*>(note.GetAddressOf())));
    EXPECT_EQ(L"Where is the report?", providertest::TextProp(note.Get(), PR_SUBJECT_W));
}

} // namespace
