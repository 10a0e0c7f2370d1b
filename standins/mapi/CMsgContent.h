#pragma once
// Everything a message on storage holds, in memory: its properties, its
// recipients (each a property bag carrying PR_ROWID) and its attachments
// (each a property bag and, for an embedded message, that message's
// content). Objects edit working copies made with Clone and hand them back
// on SaveChanges, so unsaved changes never reach the parent.
#include "MapiStandin.h"
#include "CPropBag.h"

#include <map>
#include <memory>
#include <vector>

class CMsgContent;

class CAttachContent {
public:
    std::shared_ptr<CAttachContent> Clone() const;

    CPropBag props;
    std::shared_ptr<CMsgContent> embedded; // null unless an embedded message
};

class CMsgContent {
public:
    std::shared_ptr<CMsgContent> Clone() const;

    CPropBag props;
    std::vector<CPropBag> recipients;
    std::map<ULONG, std::shared_ptr<CAttachContent>> attachments;
    ULONG nextRecipientId = 0;
    ULONG nextAttachmentNum = 0;
};
