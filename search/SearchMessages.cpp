#include "ProviderPlatform.h"
#include "SearchMessages.h"

// TODO: the message object (CMessage) is the message layer's; until it is
// in place a message shows no display lines and no recipient matches.

void FillSearchDisplayRecipients(IEseMessage* message, const SDisplayPositions& positions, SPropValue* values,
                                 LPVOID parent)
{
    (void)message;
    (void)positions;
    (void)values;
    (void)parent;
}

bool MessageHasRecipientMatching(IEseMessage* message, const CEntryId& messageId, const CEntryId& parentId,
                                 const CEntryId& storeId, SRestriction* restriction)
{
    (void)message;
    (void)messageId;
    (void)parentId;
    (void)storeId;
    (void)restriction;
    return false;
}
