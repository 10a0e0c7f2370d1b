// The To, Cc and Bcc strings made from recipient records, and where they go
// in a GetProps result.
#include "ProviderPlatform.h"
#include "DisplayRecipients.h"
#include "MapiPtr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

SRecipientRecord Recipient(BYTE type, ERecipientLayout layout, const wchar_t* name, const wchar_t* address = nullptr)
{
    SRecipientRecord record;
    record.type = type;
    record.layout = layout;
    if (name) {
        record.hasDisplayName = true;
        record.displayName = name;
    }
    if (address) {
        record.hasAddress = true;
        record.address = address;
    }
    return record;
}

TEST(DisplayRecipients, NamesJoinedByTypeInRecordOrder)
{
    using L = ERecipientLayout;
    struct Case {
        const char* what;
        std::vector<SRecipientRecord> records;
        std::wstring to, cc, bcc;
    } cases[] = {
        {"two To recipients", {Recipient(1, L::B, L"Anna"), Recipient(1, L::A, L"Bob", L"bob@x.org")},
         L"Anna; Bob", L"", L""},
        {"each type its own list",
         {Recipient(3, L::C, L"Carl"), Recipient(1, L::B, L"Anna"), Recipient(2, L::A, L"Dora", L"d@x.org"),
          Recipient(2, L::B, L"Eve"), Recipient(3, L::B, L"Finn")},
         L"Anna", L"Dora; Eve", L"Carl; Finn"},
        {"an SMTP recipient without a name shows its address",
         {Recipient(1, L::A, nullptr, L"gus@x.org"), Recipient(1, L::A, L"", L"hal@x.org")},
         L"gus@x.org; hal@x.org", L"", L""},
        {"a recipient with nothing to show is not listed",
         {Recipient(1, L::C, nullptr), Recipient(1, L::B, L""), Recipient(1, L::B, L"Ivy")}, L"Ivy", L"", L""},
        {"types other than To, Cc and Bcc are not listed", {Recipient(0, L::B, L"Jo"), Recipient(4, L::B, L"Kim")},
         L"", L"", L""},
        {"no records", {}, L"", L"", L""},
    };
    for (const Case& c : cases) {
        const SDisplayRecipients lists = CollectDisplayRecipients(c.records);
        EXPECT_EQ(c.to, lists.to) << c.what;
        EXPECT_EQ(c.cc, lists.cc) << c.what;
        EXPECT_EQ(c.bcc, lists.bcc) << c.what;
    }
}

TEST(DisplayRecipients, StoredOnlyIntoRequestedSlotsTheServerLeftEmpty)
{
    HRESULT hr = S_OK;
    MapiPtr<SPropValue> values = MapiAllocate<SPropValue>(4 * sizeof(SPropValue), hr);
    ASSERT_EQ(S_OK, hr);
    SPropValue* v = values.get();
    wchar_t stored[] = L"Stored Cc";
    v[0].ulPropTag = CHANGE_PROP_TYPE(kPrDisplayToW, PT_ERROR);
    v[0].Value.err = MAPI_E_NOT_FOUND;
    v[1].ulPropTag = kPrDisplayCcW;
    v[1].Value.lpszW = stored;
    v[2].ulPropTag = CHANGE_PROP_TYPE(kPrDisplayBccW, PT_ERROR);
    v[2].Value.err = MAPI_E_NOT_FOUND;
    v[3].ulPropTag = PR_SUBJECT_W;

    SDisplayPositions positions;
    int position = 0;
    for (ULONG tag : {kPrDisplayToW, kPrDisplayCcW, kPrDisplayBccW, static_cast<ULONG>(PR_SUBJECT_W)})
        EXPECT_EQ(tag != PR_SUBJECT_W, NoteDisplayTag(tag, position++, positions));
    EXPECT_EQ(0, positions.to);
    EXPECT_EQ(1, positions.cc);
    EXPECT_EQ(2, positions.bcc);

    SDisplayRecipients lists;
    lists.to = L"Anna; Bob";
    lists.cc = L"Carl";
    // An empty Bcc list leaves its slot an error.
    ASSERT_EQ(S_OK, StoreDisplayRecipients(lists, positions, v, values.get()));
    EXPECT_EQ(kPrDisplayToW, v[0].ulPropTag);
    EXPECT_STREQ(L"Anna; Bob", v[0].Value.lpszW);
    EXPECT_STREQ(L"Stored Cc", v[1].Value.lpszW);
    EXPECT_EQ(CHANGE_PROP_TYPE(kPrDisplayBccW, PT_ERROR), v[2].ulPropTag);

    // Unrequested lists go nowhere.
    SDisplayPositions none;
    lists.bcc = L"Dora";
    EXPECT_EQ(S_OK, StoreDisplayRecipients(lists, none, v, values.get()));
    EXPECT_EQ(CHANGE_PROP_TYPE(kPrDisplayBccW, PT_ERROR), v[2].ulPropTag);
    EXPECT_EQ(E_INVALIDARG, StoreDisplayRecipients(lists, positions, nullptr, values.get()));
}

} // namespace
