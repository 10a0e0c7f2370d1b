// RFC 5322 date-times ("Tue, 1 Jul 2003 10:52:37 +0200") as UTC FILETIMEs,
// with the obsolete forms mail still carries: two- and three-digit years,
// zone names (UT, GMT, EST ... PDT; military letters count as +0000),
// comments, a missing day of week or seconds, and asctime's order
// ("Mon Jun  2 10:00:00 2003").
#pragma once
#include "Platform.h"

#include <string>

class CMailDate {
public:
    // False when the text holds no complete, valid date and time.
    static bool Parse(const std::string& text, FILETIME* utc);
};
