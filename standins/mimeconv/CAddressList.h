// RFC 5322 address lists ("To", "Cc", "From", "Reply-To", ...) as mailboxes:
// "Name <user@host>", "user@host (Name)", "user@host", quoted and encoded
// display names, groups ("Team: a@x, b@y;", whose members count and whose
// name does not), routes ("<@relay:user@host>") and comments. Lenient:
// missing brackets or quotes end at the end of the field; nothing that was
// written is dropped silently except syntax.
#pragma once
#include <string>
#include <vector>

struct CMailbox {
    std::wstring name;    // display name, empty when none was written
    std::wstring address; // addr-spec as written, without brackets or route
};

class CAddressList {
public:
    static std::vector<CMailbox> Parse(const std::string& raw);

    // Mailboxes read from one field; further ones are ignored.
    static constexpr size_t kMaxMailboxes = 10000;
};
