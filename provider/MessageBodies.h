// The bodies of a message as the database server hands them over. Exchange
// kept the plain-text body of messages from older clients in the ANSI code
// page under the Unicode tag, so a body's bytes are tested before they are
// handed out as text; every other body is handed out as a stream.
#pragma once
#include "ProviderPlatform.h"
#include "Vostrel2007.h"

#include <string>
#include <vector>

constexpr ULONG kPrBodyW = 0x1000001F;
constexpr ULONG kPrRtfCompressed = 0x10090102;
constexpr ULONG kPrHtml = 0x10130102;

// PR_BODY_W, PR_RTF_COMPRESSED and PR_HTML.
bool IsBodyTag(ULONG tag);

// Whether the server has the value: a value of the tag's own type, or an
// error value saying that it is too large for a row (E_OUTOFMEMORY).
bool IsPresentServerValue(const _SEsePropertyValue& value);
// The error value of a present value too large for a row.
bool IsTooLargeServerValue(const _SEsePropertyValue& value);

// Whether bytes of text are UTF-16 (IsTextUnicode with every test).
bool IsUnicodeText(const void* bytes, ULONG size);

// Text in the ANSI code page (CP_ACP) as UTF-16; zero bytes at the end
// (the padding of a value handed over as UTF-16) are not part of it.
std::wstring WideFromAnsi(const void* bytes, ULONG size);

// The bytes of a wide string of the server, without its terminator.
ULONG WideByteCount(const wchar_t* text);

// How much of a body stored as a stream is read to tell ANSI text from
// UTF-16: a body that large is seen whole; of a larger one, only its
// beginning is fetched across processes for the test.
constexpr ULONG kBodyTestBytes = 65536;

// Reads from stream until limit bytes are in bytes (appended) or the stream
// ends; limit 0 reads to the end. Fails as the stream's Read fails.
HRESULT ReadStreamBytes(IStream* stream, ULONG limit, std::vector<BYTE>& bytes);

// A stream in memory, at its start, holding the UTF-16 text of ANSI text
// that begins with head and goes on in rest (read from its current place to
// its end). The text is converted piece by piece as it is read, a character
// of a double-byte code page never split; zero bytes at the very end are
// not part of it (as in WideFromAnsi).
HRESULT WideStreamFromAnsi(const std::vector<BYTE>& head, IStream* rest, IStream** out);
