#include "Platform.h"
#include "CMailDate.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return text;
}

bool AllDigits(const std::string& text)
{
    return !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
}

int MonthOf(const std::string& word)
{
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (word.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m) {
        if (word.compare(0, 3, kMonths[m]) == 0)
            return m + 1;
    }
    return 0;
}

// Minutes east of UTC for a zone name; false when the word is no zone.
bool ZoneOf(const std::string& word, int* minutes)
{
    struct Zone {
        const char* name;
        int hours;
    } zones[] = {{"ut", 0}, {"utc", 0}, {"gmt", 0}, {"z", 0},   {"edt", -4}, {"est", -5}, {"cdt", -5},
                 {"cst", -6}, {"mdt", -6}, {"mst", -7}, {"pdt", -7}, {"pst", -8}};
    for (const Zone& zone : zones) {
        if (word == zone.name) {
            *minutes = zone.hours * 60;
            return true;
        }
    }
    // Military zones: their sign was defined backwards, so they carry no information.
    if (word.size() == 1 && word[0] >= 'a' && word[0] <= 'z' && word[0] != 'j') {
        *minutes = 0;
        return true;
    }
    return false;
}

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int month, int year)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

} // namespace

bool CMailDate::Parse(const std::string& text, FILETIME* utc)
{
    // Words of the date: comments dropped, split at blanks and commas.
    std::vector<std::string> words;
    std::string word;
    int depth = 0;
    for (char c : text) {
        if (c == '(') {
            ++depth;
            continue;
        }
        if (c == ')' && depth > 0) {
            --depth;
            continue;
        }
        if (depth > 0)
            continue;
        if (c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n') {
            if (!word.empty())
                words.push_back(Lower(word));
            word.clear();
            if (words.size() > 16)
                return false;
            continue;
        }
        word.push_back(c);
    }
    if (!word.empty())
        words.push_back(Lower(word));

    int day = 0, month = 0, year = -1, hour = -1, minute = -1, second = 0, zone = 0;
    bool haveZone = false;
    for (const std::string& w : words) {
        if (w.find(':') != std::string::npos && hour < 0) {
            int h = -1, m = -1, s = 0;
            char extra = 0;
            const int read = std::sscanf(w.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &extra);
            if (read < 2)
                return false;
            hour = h;
            minute = m;
            second = read >= 3 ? s : 0;
        } else if ((w[0] == '+' || w[0] == '-') && w.size() == 5 && AllDigits(w.substr(1))) {
            const int value = std::atoi(w.c_str() + 1);
            zone = (value / 100) * 60 + value % 100;
            if (w[0] == '-')
                zone = -zone;
            haveZone = true;
        } else if (AllDigits(w)) {
            const int value = std::atoi(w.c_str());
            if (day == 0 && w.size() <= 2 && (month == 0 || year < 0))
                day = value;
            else if (year < 0)
                year = w.size() == 2 ? (value < 50 ? 2000 + value : 1900 + value)
                                     : (w.size() == 3 ? 1900 + value : value);
            else
                return false;
        } else if (int m = MonthOf(w)) {
            if (month == 0)
                month = m;
        } else if (!haveZone && ZoneOf(w, &zone)) {
            haveZone = true;
        }
        // Anything else (the day of the week, stray words) says nothing.
    }
    if (day < 1 || month < 1 || year < 1601 || year > 30827 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60 || day > DaysIn(month, year))
        return false;
    if (second == 60)
        second = 59; // a leap second has no FILETIME of its own

    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    FILETIME local{};
    if (!SystemTimeToFileTime(&time, &local))
        return false;
    ULARGE_INTEGER value;
    value.LowPart = local.dwLowDateTime;
    value.HighPart = local.dwHighDateTime;
    const LONGLONG shift = static_cast<LONGLONG>(zone) * 60 * 10000000LL;
    if (shift > 0 && value.QuadPart < static_cast<ULONGLONG>(shift))
        return false;
    value.QuadPart -= shift;
    utc->dwLowDateTime = value.LowPart;
    utc->dwHighDateTime = value.HighPart;
    return true;
}
