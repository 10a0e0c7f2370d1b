// The display-recipient strings of a message (PR_DISPLAY_TO_W, _CC_W,
// _BCC_W), made from its packed recipient records: the names of the To, Cc
// and Bcc recipients in record order, joined by "; ".
#pragma once
#include "ProviderPlatform.h"
#include "RecipientRecords.h"

#include <string>
#include <vector>

constexpr ULONG kPrDisplayToW = 0x0E04001F;
constexpr ULONG kPrDisplayCcW = 0x0E03001F;
constexpr ULONG kPrDisplayBccW = 0x0E02001F;

struct SDisplayRecipients {
    std::wstring to;
    std::wstring cc;
    std::wstring bcc;
};

// The name a record shows: its display name (layouts A and B: the string
// behind flag 0x10; C: the wide string after the ANSI one); without one, the
// e-mail address of layout A; else nothing (the record is not listed).
const std::wstring* RecipientShownName(const SRecipientRecord& record);

// Appends each record's shown name to the list of its recipient type (1, 2,
// 3; other types are not listed).
SDisplayRecipients CollectDisplayRecipients(const std::vector<SRecipientRecord>& records);

// Positions in a GetProps result of the three display tags; -1 when not
// requested.
struct SDisplayPositions {
    int to = -1;
    int cc = -1;
    int bcc = -1;
};

// Notes tag's position when it is one of the three display tags; true then.
bool NoteDisplayTag(ULONG tag, int position, SDisplayPositions& positions);

// Each non-empty list goes, as PT_UNICODE under its display tag, into its
// requested slot when that slot holds PT_ERROR (a value the server had
// stays). Memory chained to parent; the first failing allocation is returned
// (that slot keeps its error), else S_OK.
HRESULT StoreDisplayRecipients(const SDisplayRecipients& lists, const SDisplayPositions& positions, SPropValue* values,
                               LPVOID parent);
