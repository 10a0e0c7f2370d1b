// The server puts its error code, error source and the source's own code in
// front of the message of every error description ("%x %x %x %s"); the
// mailbox page chooses what to tell the user from the three numbers.
#pragma once
#include "ProviderPlatform.h"

#include <string>

// False, outputs untouched, when the description does not start with three
// hexadecimal numbers each followed by a blank. The message is everything
// after the third blank, inner blanks kept.
bool ParseServerErrorDescription(const _com_error& error, ULONG& code, ULONG& source, ULONG& sourceCode,
                                 std::wstring& text);
bool ParseServerErrorDescription(const wchar_t* description, ULONG& code, ULONG& source, ULONG& sourceCode,
                                 std::wstring& text);
