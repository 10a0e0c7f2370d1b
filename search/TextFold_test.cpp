#include "SearchPlatform.h"
#include "TextFold.h"

#include <gtest/gtest.h>

namespace {

TEST(TextFold, LookAlikesFoldToAsciiAndTheRestIsKeptOrBlanked)
{
    struct Case {
        wchar_t in;
        wchar_t out;
    } cases[] = {
        // Latin-1 signs
        {0x0000, L' '}, {0x00A1, L'!'}, {0x00AC, L'!'}, {0x00A6, L'|'}, {0x00A7, L':'}, {0x00A9, L'c'},
        {0x00AB, L'"'}, {0x00BB, L'"'}, {0x00AD, L'-'}, {0x00B7, L'-'}, {0x00AE, L'r'}, {0x00B0, L'\''},
        {0x00B2, L'2'}, {0x00B3, L'3'}, {0x00B9, L'1'}, {0x00B5, L'u'}, {0x00B6, L'\n'}, {0x00BF, L'?'},
        // general punctuation
        {0x2000, L' '}, {0x200D, L' '}, {0x202F, L' '}, {0x2010, L'-'}, {0x2014, L'-'}, {0x2027, L'-'},
        {0x2043, L'-'}, {0x2016, L'|'}, {0x2017, L'_'}, {0x203E, L'_'}, {0x2040, L'_'}, {0x2018, L'\''},
        {0x2019, L'\''}, {0x201B, L'\''}, {0x2032, L'\''}, {0x2035, L'\''}, {0x2039, L'\''}, {0x203A, L'\''},
        {0x201C, L'"'}, {0x201D, L'"'}, {0x201F, L'"'}, {0x2033, L'"'}, {0x2034, L'"'}, {0x2036, L'"'},
        {0x2037, L'"'}, {0x2020, L':'}, {0x2023, L':'}, {0x203B, L':'}, {0x2024, L'.'}, {0x2026, L'.'},
        {0x2028, L'\n'}, {0x2029, L'\n'}, {0x2030, L'%'}, {0x2031, L'%'}, {0x2038, L'^'}, {0x2041, L'^'},
        {0x203C, L'!'}, {0x203D, L'!'}, {0x2042, L'*'}, {0x2044, L'/'}, {0x2045, L'['}, {0x2046, L']'},
        // super- and subscripts
        {0x2070, L'0'}, {0x2074, L'4'}, {0x2079, L'9'}, {0x2080, L'0'}, {0x2089, L'9'}, {0x207A, L'+'},
        {0x208A, L'+'}, {0x208B, L'-'}, {0x208C, L'='}, {0x208D, L'('}, {0x208E, L')'},
        // enclosed alphanumerics
        {0x2460, L'1'}, {0x2468, L'9'}, {0x2474, L'1'}, {0x247C, L'9'}, {0x2488, L'1'}, {0x2490, L'9'},
        {0x249C, L'a'}, {0x24B5, L'z'}, {0x24D0, L'a'}, {0x24E9, L'z'}, {0x24B6, L'A'}, {0x24CF, L'Z'},
        {0x24EA, L'0'},
        // box drawing, blocks, shapes, symbols
        {0x2500, L'|'}, {0x257F, L'|'}, {0x2580, L'#'}, {0x259F, L'#'}, {0x25A0, L'*'}, {0x25FF, L'*'},
        {0x2600, L'.'}, {0x267F, L'.'},
        // CJK punctuation
        {0x3000, L' '}, {0x3001, L','}, {0x3002, L'.'}, {0x3003, L'"'}, {0x301D, L'"'}, {0x301F, L'"'},
        {0x3007, L'0'}, {0x3008, L'<'}, {0x300A, L'<'}, {0x3009, L'>'}, {0x300B, L'>'}, {0x3010, L'['},
        {0x3016, L'['}, {0x301A, L'['}, {0x3011, L']'}, {0x3017, L']'}, {0x301B, L']'}, {0x3014, L'('},
        {0x3018, L'('}, {0x3015, L')'}, {0x3019, L')'}, {0x301C, L'~'}, {0x3030, L'~'}, {0x3021, L'1'},
        {0x3029, L'9'}, {0x3220, L'1'}, {0x3228, L'9'}, {0x3280, L'1'}, {0x3288, L'9'},
        // compatibility and small forms
        {0xFE30, L'.'}, {0xFE52, L'.'}, {0xFE31, L'-'}, {0xFE32, L'-'}, {0xFE58, L'-'}, {0xFE63, L'-'},
        {0xFE33, L'_'}, {0xFE49, L'_'}, {0xFE4A, L'_'}, {0xFE4D, L'_'}, {0xFE4E, L'_'}, {0xFE34, L'~'},
        {0xFE4B, L'~'}, {0xFE4C, L'~'}, {0xFE4F, L'~'}, {0xFE35, L'('}, {0xFE39, L'('}, {0xFE59, L'('},
        {0xFE5D, L'('}, {0xFE36, L')'}, {0xFE3A, L')'}, {0xFE5A, L')'}, {0xFE5E, L')'}, {0xFE37, L'{'},
        {0xFE5B, L'{'}, {0xFE38, L'}'}, {0xFE5C, L'}'}, {0xFE3B, L'['}, {0xFE41, L'['}, {0xFE43, L'['},
        {0xFE3C, L']'}, {0xFE42, L']'}, {0xFE44, L']'}, {0xFE3D, L'<'}, {0xFE3F, L'<'}, {0xFE64, L'<'},
        {0xFE3E, L'>'}, {0xFE40, L'>'}, {0xFE65, L'>'}, {0xFE50, L','}, {0xFE51, L','}, {0xFE54, L';'},
        {0xFE55, L':'}, {0xFE56, L'?'}, {0xFE57, L'!'}, {0xFE5F, L'#'}, {0xFE60, L'&'}, {0xFE61, L'*'},
        {0xFE62, L'+'}, {0xFE66, L'='}, {0xFE68, L'\\'}, {0xFE69, L'$'}, {0xFE6A, L'%'}, {0xFE6B, L'@'},
        // full-width ASCII
        {0xFF01, L'!'}, {0xFF21, L'A'}, {0xFF41, L'a'}, {0xFF10, L'0'}, {0xFF5E, L'~'},
        // kept as they are
        {L'\t', L'\t'}, {L'\n', L'\n'}, {L'\r', L'\r'}, {L' ', L' '}, {L'a', L'a'}, {0x00E9, 0x00E9},
        {0x00A0, 0x00A0}, {0x2047, 0x2047}, {0x4E2D, 0x4E2D}, {0xD7FF, 0xD7FF}, {0xF8FF, 0xF8FF},
        {0xFF5F, 0xFF5F}, {0xFFFD, 0xFFFD}, {0xFE53, 0xFE53}, {0xFE67, 0xFE67}, {0x3004, 0x3004},
        // blanked: controls, surrogates, private use, non-characters
        {0x0001, L' '}, {0x001F, L' '}, {0x000B, L' '}, {0xD800, L' '}, {0xDFFF, L' '}, {0xE000, L' '},
        {0xF8FE, L' '}, {0xFFFE, L' '}, {0xFFFF, L' '},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(c.out), static_cast<int>(FoldTextUnit(c.in))) << std::hex << "U+" << int(c.in);
}

} // namespace
