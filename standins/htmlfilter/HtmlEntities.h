// Character references of HTML: the 252 named ones of HTML 4 (Latin-1, symbols
// and Greek, special characters), XML's "apos", and the numeric ones.
#pragma once
#include <string>

// The code point of a named reference (name without '&' and ';'), or 0.
// Names are case-sensitive ("Eacute" is not "eacute").
unsigned long LookupHtmlEntity(const std::wstring& name);

// Whether a reference of this name is also recognised without its ';', as
// browsers do for the old Latin-1 names ("&nbsp", "&copy").
bool IsLegacyHtmlEntity(const std::wstring& name);

// The code point a numeric reference stands for: references to C1 controls
// mean the windows-1252 character of that byte, as browsers read them;
// zero, surrogates and values past U+10FFFF become U+FFFD.
unsigned long NumericHtmlReference(unsigned long value);
