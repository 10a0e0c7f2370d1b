#include "Platform.h"
#include "CMailDate.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Utc(const FILETIME& time)
{
    SYSTEMTIME s{};
    FileTimeToSystemTime(&time, &s);
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute,
                  s.wSecond);
    return text;
}

TEST(CMailDate, DatesBecomeUtc)
{
    struct Case {
        const char* text;
        const char* utc; // null: no date
    } cases[] = {
        {"Fri, 4 May 2001 14:05:44 -0400", "2001-05-04 18:05:44"},
        {"Fri,  4 May 2001 14:05:44 -0400 (EDT)", "2001-05-04 18:05:44"},
        {"4 May 2001 14:05 +0000", "2001-05-04 14:05:00"},
        {"Tue, 1 Jul 2003 10:52:37 +0230", "2003-07-01 08:22:37"},
        {"Thu, 13 Sep 01 17:28:42 EDT", "2001-09-13 21:28:42"},
        {"13 Sep 99 17:28:42 GMT", "1999-09-13 17:28:42"},
        {"13 Sep 103 01:00:00 PST", "2003-09-13 09:00:00"},
        {"31 Dec 2000 23:30:00 -0100", "2001-01-01 00:30:00"},
        {"Mon Jun  2 10:00:00 2003", "2003-06-02 10:00:00"},
        {"29 Feb 2004 00:00:00 Z", "2004-02-29 00:00:00"},
        {"30 Jun 2012 23:59:60 +0000", "2012-06-30 23:59:59"},
        {"1 JANUARY 2010 12:00:00 +0100", "2010-01-01 11:00:00"},
        {"29 Feb 2003 00:00:00 +0000", nullptr},
        {"32 Jan 2003 00:00:00 +0000", nullptr},
        {"1 Jan 2003 25:00:00 +0000", nullptr},
        {"1 Jan 2003", nullptr},
        {"yesterday", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FILETIME time{};
        const bool parsed = CMailDate::Parse(c.text, &time);
        EXPECT_EQ(c.utc != nullptr, parsed);
        if (c.utc && parsed) {
            EXPECT_EQ(c.utc, Utc(time));
        }
    }
}

} // namespace
