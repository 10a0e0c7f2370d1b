#include "SearchPlatform.h"
#include "TextFold.h"

#include <algorithm>
#include <iterator>

namespace {

// A run of units that fold to one character, or (sequential) to consecutive
// characters starting at out.
struct FoldRange {
    wchar_t first;
    wchar_t last;
    wchar_t out;
    bool sequential;
};

constexpr FoldRange kFolds[] = {
    {0x0000, 0x0000, L' ', false},
    {0x00A1, 0x00A1, L'!', false},
    {0x00A6, 0x00A6, L'|', false},
    {0x00A7, 0x00A7, L':', false},
    {0x00A9, 0x00A9, L'c', false},
    {0x00AB, 0x00AB, L'"', false},
    {0x00AC, 0x00AC, L'!', false},
    {0x00AD, 0x00AD, L'-', false},
    {0x00AE, 0x00AE, L'r', false},
    {0x00B0, 0x00B0, L'\'', false},
    {0x00B2, 0x00B3, L'2', true},
    {0x00B5, 0x00B5, L'u', false},
    {0x00B6, 0x00B6, L'\n', false},
    {0x00B7, 0x00B7, L'-', false},
    {0x00B9, 0x00B9, L'1', false},
    {0x00BB, 0x00BB, L'"', false},
    {0x00BF, 0x00BF, L'?', false},
    {0x2000, 0x200D, L' ', false},
    {0x2010, 0x2015, L'-', false},
    {0x2016, 0x2016, L'|', false},
    {0x2017, 0x2017, L'_', false},
    {0x2018, 0x201B, L'\'', false},
    {0x201C, 0x201F, L'"', false},
    {0x2020, 0x2023, L':', false},
    {0x2024, 0x2026, L'.', false},
    {0x2027, 0x2027, L'-', false},
    {0x2028, 0x2029, L'\n', false},
    {0x202F, 0x202F, L' ', false},
    {0x2030, 0x2031, L'%', false},
    {0x2032, 0x2032, L'\'', false},
    {0x2033, 0x2034, L'"', false},
    {0x2035, 0x2035, L'\'', false},
    {0x2036, 0x2037, L'"', false},
    {0x2038, 0x2038, L'^', false},
    {0x2039, 0x203A, L'\'', false},
    {0x203B, 0x203B, L':', false},
    {0x203C, 0x203D, L'!', false},
    {0x203E, 0x2040, L'_', false},
    {0x2041, 0x2041, L'^', false},
    {0x2042, 0x2042, L'*', false},
    {0x2043, 0x2043, L'-', false},
    {0x2044, 0x2044, L'/', false},
    {0x2045, 0x2045, L'[', false},
    {0x2046, 0x2046, L']', false},
    {0x2070, 0x2070, L'0', false},
    {0x2074, 0x2079, L'4', true},
    {0x207A, 0x207A, L'+', false},
    {0x2080, 0x2089, L'0', true},
    {0x208A, 0x208A, L'+', false},
    {0x208B, 0x208B, L'-', false},
    {0x208C, 0x208C, L'=', false},
    {0x208D, 0x208D, L'(', false},
    {0x208E, 0x208E, L')', false},
    {0x2460, 0x2468, L'1', true},
    {0x2474, 0x247C, L'1', true},
    {0x2488, 0x2490, L'1', true},
    {0x249C, 0x24B5, L'a', true},
    {0x24B6, 0x24CF, L'A', true},
    {0x24D0, 0x24E9, L'a', true},
    {0x24EA, 0x24EA, L'0', false},
    {0x2500, 0x257F, L'|', false},
    {0x2580, 0x259F, L'#', false},
    {0x25A0, 0x25FF, L'*', false},
    {0x2600, 0x267F, L'.', false},
    {0x3000, 0x3000, L' ', false},
    {0x3001, 0x3001, L',', false},
    {0x3002, 0x3002, L'.', false},
    {0x3003, 0x3003, L'"', false},
    {0x3007, 0x3007, L'0', false},
    {0x3008, 0x3008, L'<', false},
    {0x3009, 0x3009, L'>', false},
    {0x300A, 0x300A, L'<', false},
    {0x300B, 0x300B, L'>', false},
    {0x3010, 0x3010, L'[', false},
    {0x3011, 0x3011, L']', false},
    {0x3014, 0x3014, L'(', false},
    {0x3015, 0x3015, L')', false},
    {0x3016, 0x3016, L'[', false},
    {0x3017, 0x3017, L']', false},
    {0x3018, 0x3018, L'(', false},
    {0x3019, 0x3019, L')', false},
    {0x301A, 0x301A, L'[', false},
    {0x301B, 0x301B, L']', false},
    {0x301C, 0x301C, L'~', false},
    {0x301D, 0x301F, L'"', false},
    {0x3021, 0x3029, L'1', true},
    {0x3030, 0x3030, L'~', false},
    {0x3220, 0x3228, L'1', true},
    {0x3280, 0x3288, L'1', true},
    {0xFE30, 0xFE30, L'.', false},
    {0xFE31, 0xFE32, L'-', false},
    {0xFE33, 0xFE33, L'_', false},
    {0xFE34, 0xFE34, L'~', false},
    {0xFE35, 0xFE35, L'(', false},
    {0xFE36, 0xFE36, L')', false},
    {0xFE37, 0xFE37, L'{', false},
    {0xFE38, 0xFE38, L'}', false},
    {0xFE39, 0xFE39, L'(', false},
    {0xFE3A, 0xFE3A, L')', false},
    {0xFE3B, 0xFE3B, L'[', false},
    {0xFE3C, 0xFE3C, L']', false},
    {0xFE3D, 0xFE3D, L'<', false},
    {0xFE3E, 0xFE3E, L'>', false},
    {0xFE3F, 0xFE3F, L'<', false},
    {0xFE40, 0xFE40, L'>', false},
    {0xFE41, 0xFE41, L'[', false},
    {0xFE42, 0xFE42, L']', false},
    {0xFE43, 0xFE43, L'[', false},
    {0xFE44, 0xFE44, L']', false},
    {0xFE49, 0xFE4A, L'_', false},
    {0xFE4B, 0xFE4C, L'~', false},
    {0xFE4D, 0xFE4E, L'_', false},
    {0xFE4F, 0xFE4F, L'~', false},
    {0xFE50, 0xFE51, L',', false},
    {0xFE52, 0xFE52, L'.', false},
    {0xFE54, 0xFE54, L';', false},
    {0xFE55, 0xFE55, L':', false},
    {0xFE56, 0xFE56, L'?', false},
    {0xFE57, 0xFE57, L'!', false},
    {0xFE58, 0xFE58, L'-', false},
    {0xFE59, 0xFE59, L'(', false},
    {0xFE5A, 0xFE5A, L')', false},
    {0xFE5B, 0xFE5B, L'{', false},
    {0xFE5C, 0xFE5C, L'}', false},
    {0xFE5D, 0xFE5D, L'(', false},
    {0xFE5E, 0xFE5E, L')', false},
    {0xFE5F, 0xFE5F, L'#', false},
    {0xFE60, 0xFE60, L'&', false},
    {0xFE61, 0xFE61, L'*', false},
    {0xFE62, 0xFE62, L'+', false},
    {0xFE63, 0xFE63, L'-', false},
    {0xFE64, 0xFE64, L'<', false},
    {0xFE65, 0xFE65, L'>', false},
    {0xFE66, 0xFE66, L'=', false},
    {0xFE68, 0xFE68, L'\\', false},
    {0xFE69, 0xFE69, L'$', false},
    {0xFE6A, 0xFE6A, L'%', false},
    {0xFE6B, 0xFE6B, L'@', false},
    {0xFF01, 0xFF5E, L'!', true},
};

} // namespace

wchar_t FoldTextUnit(wchar_t unit)
{
    const FoldRange* end = std::end(kFolds);
    const FoldRange* range =
        std::lower_bound(std::begin(kFolds), end, unit, [](const FoldRange& r, wchar_t u) { return r.last < u; });
    if (range != end && range->first <= unit)
        return range->sequential ? static_cast<wchar_t>(range->out + (unit - range->first)) : range->out;
    if (unit == L'\t' || unit == L'\n' || unit == L'\r' || (unit >= 0x0020 && unit <= 0xD7FF) ||
        (unit >= 0xF8FF && unit <= 0xFFFD))
        return unit;
    return L' ';
}
