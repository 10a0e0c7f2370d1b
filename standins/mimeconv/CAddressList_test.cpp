#include "Platform.h"
#include "CAddressList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring Listed(const std::vector<CMailbox>& mailboxes)
{
    std::wstring text;
    for (const CMailbox& mailbox : mailboxes)
        text += L"[" + mailbox.name + L"|" + mailbox.address + L"]";
    return text;
}

TEST(CAddressList, AddressListsBecomeMailboxes)
{
    struct Case {
        const char* name;
        std::string raw;
        std::wstring mailboxes;
    } cases[] = {
        {"bare address", "user@example.com", L"[|user@example.com]"},
        {"name and angle address", "John Doe <john@example.com>", L"[John Doe|john@example.com]"},
        {"quoted name with comma", "\"Doe, John\" <john@example.com>, jane@example.com",
         L"[Doe, John|john@example.com][|jane@example.com]"},
        {"old form with the name in a comment", "bbb@ddd.com (John X. Doe)", L"[John X. Doe|bbb@ddd.com]"},
        {"encoded display name", "=?utf-8?Q?Ren=C3=A9_Dupont?= <rene@example.fr>", L"[Ren\u00E9 Dupont|rene@example.fr]"},
        {"encoded word inside quotes", "\"=?iso-8859-1?Q?Andr=E9?=\" <a@example.com>", L"[Andr\u00E9|a@example.com]"},
        {"raw UTF-8 name", "Jos\xC3\xA9 <jose@example.com>", L"[Jos\u00E9|jose@example.com]"},
        {"group members count, the group name does not",
         "Team: a@example.com, B <b@example.com>;, c@example.com",
         L"[|a@example.com][B|b@example.com][|c@example.com]"},
        {"empty group", "undisclosed-recipients:;", L""},
        {"route dropped", "<@relay.example.com,@r2.example.com:user@example.com>", L"[|user@example.com]"},
        {"comments between pieces", "user(the user)@example(home).com", L"[home|user@example.com]"},
        {"unterminated angle", "Name <user@example.com", L"[Name|user@example.com]"},
        {"unterminated quote", "\"Name <user@example.com>", L"[|\"Name <user@example.com>\"]"},
        {"empty entries skipped", " , ,a@example.com,", L"[|a@example.com]"},
        {"domain literal", "x@[192.168.0.1]", L"[|x@[192.168.0.1]]"},
        {"quoted local part", "\"john doe\"@example.com", L"[|\"john doe\"@example.com]"},
        {"name only", "Just A Name", L"[|Just A Name]"},
        {"empty", "", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.mailboxes, Listed(CAddressList::Parse(c.raw)));
    }
}

TEST(CAddressList, HugeListsAreBounded)
{
    std::string raw;
    for (size_t i = 0; i < CAddressList::kMaxMailboxes + 100; ++i)
        raw += "a@b,";
    EXPECT_EQ(CAddressList::kMaxMailboxes, CAddressList::Parse(raw).size());
    // Deeply nested comments are a depth count, not recursion.
    EXPECT_EQ(1u, CAddressList::Parse(std::string(100000, '(') + "x" + "a@b").size());
}

} // namespace
