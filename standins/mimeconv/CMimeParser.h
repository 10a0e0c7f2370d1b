// Turns RFC 5322 / MIME bytes into a tree of CMimePart, the way lenient mail
// readers do: a leading mbox "From " line is skipped, a line that is not a
// header field ends the header block, a missing or unusable Content-Type is
// text/plain (message/rfc822 inside multipart/digest), a multipart without
// its boundary or any delimiter is read as one text part, a missing closing
// delimiter ends the last part at the end of the data. Nesting, the number of
// parts and the number of header fields are bounded, and every scan moves
// forward through the bytes, so no input makes the parser loop, recurse
// without end or read outside the data; what a limit cuts off is marked
// truncated and kept as far as it was read.
#pragma once
#include "CMimePart.h"

#include <memory>
#include <string>
#include <vector>

class CMimeParser {
public:
    static constexpr size_t kMaxDepth = 32;
    static constexpr size_t kMaxParts = 10000;
    static constexpr size_t kMaxFields = 2000;

    static std::unique_ptr<CMimePart> Parse(std::shared_ptr<const std::string> data);

private:
    std::unique_ptr<CMimePart> Entity(const std::shared_ptr<const std::string>& source, size_t begin, size_t end,
                                      size_t depth, const char* defaultType, bool topLevel);
    void Headers(CMimePart& part, size_t begin, size_t end, bool topLevel);
    void Interpret(CMimePart& part, const char* defaultType);
    struct Delimiter {
        size_t lineStart;
        size_t next; // where the line after it starts
        bool close;
    };
    void Multipart(CMimePart& part, size_t depth);
    // The parts of one multipart level, from delimiters[next] on; true when
    // a closing delimiter ended the level.
    bool Parts(CMimePart& part, const std::string& boundary, const std::vector<Delimiter>& delimiters, size_t& next,
               size_t end, size_t depth);
    void Enclosed(CMimePart& part, size_t depth);

    size_t m_parts = 0;
};
