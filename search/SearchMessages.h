// The search engine's two uses of the provider's message object, kept in one
// place: the To/Cc/Bcc display lines of a message, and whether any of its
// recipients satisfies a restriction (a recipient subrestriction).
//
// Both count a failure as "no value": the display slots keep what the
// server returned, and a recipient table or row count that cannot be had
// answers no.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "DisplayRecipients.h"
#include "Vostrel2007.h"

#include <string>

// Fills the requested display slots of values (positions as GetProps notes
// them) from the message's recipients; memory chained to parent. A failure
// the message layer reports as CException propagates to the caller, which
// logs it and goes on.
void FillSearchDisplayRecipients(IEseMessage* message, const SDisplayPositions& positions, SPropValue* values,
                                 LPVOID parent);

// Whether the message's recipient table has a row that satisfies
// restriction: the message object is built over the server message, with
// the given identifiers.
bool MessageHasRecipientMatching(IEseMessage* message, const CEntryId& messageId, const CEntryId& parentId,
                                 const CEntryId& storeId, SRestriction* restriction);
