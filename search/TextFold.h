// Folding of typographic punctuation and look-alike forms to plain ASCII, so
// that a search for "don't" also finds "don’t" and "ＡＢＣ" reads as "ABC".
#pragma once
#include "SearchPlatform.h"

// The unit that stands for unit in searchable text: a mapped look-alike,
// the unit itself when it is TAB, LF, CR, in U+0020-U+D7FF or in
// U+F8FF-U+FFFD, else a blank (control characters, surrogates, private use
// below U+F8FF, U+FFFE, U+FFFF).
wchar_t FoldTextUnit(wchar_t unit);
