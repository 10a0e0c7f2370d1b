// The search engine's uses of the provider's message object, kept in one
// place: the To/Cc/Bcc display lines of a message, and whether any of its
// recipients satisfies a restriction (a recipient subrestriction).
//
// One message object serves a row: it is made over the row's server message
// on first need, with the message's identifier, the search folder as its
// parent and the store's identifier. Every failure counts as "no value":
// the display slots keep what the server returned, and a recipient table or
// row count that cannot be had answers no.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "DisplayRecipients.h"
#include "Vostrel2007.h"

class CMessage;

class CSearchMessage {
public:
    CSearchMessage(IEseMessage* server, const CEntryId& messageId, const CEntryId& parentId, const CEntryId& storeId);
    ~CSearchMessage();
    CSearchMessage(const CSearchMessage&) = delete;
    CSearchMessage& operator=(const CSearchMessage&) = delete;

    // Fills the requested display slots of values (positions as GetProps
    // notes them) from the message's recipients; memory chained to parent.
    void FillDisplayRecipients(const SDisplayPositions& positions, SPropValue* values, LPVOID parent);

    // Whether the message's recipient table has a row that satisfies
    // restriction.
    bool HasRecipientMatching(SRestriction* restriction);

private:
    CMessage* Message();

    IEseMessage* m_server;
    CEntryId m_messageId;
    CEntryId m_parentId;
    CEntryId m_storeId;
    bool m_tried = false;
    CMessage* m_message = nullptr;
};
