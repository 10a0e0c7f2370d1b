#include "ProviderPlatform.h"
#include "MailboxSelection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Expected {
    bool complete;
    bool allChecked;
    ULONG count;
    std::vector<LONGLONG> ids;
};

void ExpectParse(const std::wstring& text, const Expected& e)
{
    ParsedMailboxSelection parsed;
    EXPECT_EQ(e.complete, ParseMailboxSelection(text, parsed)) << text;
    EXPECT_EQ(e.allChecked, parsed.allChecked) << text;
    EXPECT_EQ(e.count, parsed.count) << text;
    EXPECT_EQ(e.ids, parsed.ids) << text;
}

TEST(MailboxSelection, WellFormedSelections)
{
    struct Case {
        std::wstring text;
        Expected expected;
    };
    const Case cases[] = {
        {L"", {true, true, 0, {}}},
        // All checked: no list, so mailboxes added later are shown too.
        {L"281474976710657 1 13 Administrator 281474976710721 1 9 Anna Berg ", {true, true, 2, {}}},
        // One unchecked item switches to the explicit list of checked ones.
        {L"281474976710657 1 13 Administrator 281474976710721 0 9 Anna Berg 281474976710785 1 3 Bob ",
         {true, false, 2, {281474976710657LL, 281474976710785LL}}},
        {L"7 0 3 Bob ", {true, false, 0, {}}},
        // Short items are whole items, also at the end of the text.
        {L"5 1 3 Bob ", {true, true, 1, {}}},
        {L"281474976710657 0 13 Administrator 5 1 1 X ", {true, false, 1, {5}}},
        // The last item's blank may be missing at the very end.
        {L"5 0 3 Bob 6 1 3 Eve", {true, false, 1, {6}}},
        // Names are counted, so they may hold blanks and digits.
        {L"-12 1 7 1 2 3 4 9 0 0  ", {true, false, 1, {-12}}},
        {L"9 1 0  ", {true, true, 1, {}}},
    };
    for (const Case& c : cases)
        ExpectParse(c.text, c.expected);
}

// Text from a file that does not fit: the walk stops with a failure and the
// items before the bad one stand; nothing is read past the end.
TEST(MailboxSelection, MalformedItemsEndTheWalkWithAFailure)
{
    const std::wstring good = L"5 1 3 Bob 6 0 3 Eve ";
    const Expected before = {false, false, 1, {5}};
    const wchar_t* bad[] = {
        L"7 1 30 Carol ",                  // name runs past the end
        L"7 1 6 Carol",                    // one unit short
        L"7 1 4 Carol ",                   // name longer than its count says
        L"x7 1 5 Carol ",                  // identifier not a number
        L"7 x 5 Carol ",                   // flag not a digit
        L"7 10 5 Carol ",                  // flag of two digits
        L"7 1 -5 Carol ",                  // negative length
        L"7 1 99999999999999999999 Carol ", // length out of range
        L"99999999999999999999 1 5 Carol ", // identifier out of range
        L"7 1",                            // cut inside the item
        L"7",
        L" ",
        L"\r\n",
    };
    for (const wchar_t* tail : bad)
        ExpectParse(good + tail, before);
    ExpectParse(L"7 1 30 Carol ", {false, true, 0, {}});
}

TEST(MailboxSelection, ItemParseGivesFieldsAndNextPosition)
{
    const std::wstring text = L"281474976710721 1 9 Anna Berg 5 0 3 Bob ";
    MailboxSelectionItem item;
    const size_t next = ParseMailboxSelectionItem(text, item);
    ASSERT_EQ(30u, next);
    EXPECT_EQ(281474976710721LL, item.id);
    EXPECT_TRUE(item.checked);
    EXPECT_EQ(L"Anna Berg", item.name);
    EXPECT_EQ(std::wstring_view(L"5 0 3 Bob "), std::wstring_view(text).substr(next));

    EXPECT_EQ(std::wstring_view::npos, ParseMailboxSelectionItem(L"5 0 9 Bob ", item));
    EXPECT_EQ(L"", item.name);
}

TEST(MailboxSelection, WrittenItemsReadBack)
{
    const std::vector<MailboxSelectionItem> items = {
        {281474976710657LL, true, L"Administrator"}, {-3, false, L"Ünïcode näme"}, {4, true, L""}};
    std::wstring text;
    for (const MailboxSelectionItem& item : items)
        text += FormatMailboxSelectionItem(item);
    EXPECT_EQ(L"281474976710657 1 13 Administrator ", FormatMailboxSelectionItem(items[0]));

    std::wstring_view rest = text;
    for (const MailboxSelectionItem& item : items) {
        MailboxSelectionItem read;
        const size_t next = ParseMailboxSelectionItem(rest, read);
        ASSERT_NE(std::wstring_view::npos, next);
        EXPECT_EQ(item.id, read.id);
        EXPECT_EQ(item.checked, read.checked);
        EXPECT_EQ(item.name, read.name);
        rest.remove_prefix(next);
    }
    EXPECT_TRUE(rest.empty());
}

} // namespace
