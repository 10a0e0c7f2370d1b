#pragma once
// Everything a message on storage holds, in memory: its properties, its
// recipients (each a property bag carrying PR_ROWID) and its attachments
// (each a property bag and, for an embedded message, that message's
// content; for an OLE attachment, the compound file of its storage). Objects edit working copies made with Clone and hand them back
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
    ComPtr<ILockBytes> storage;            // null unless an OLE storage (PR_ATTACH_DATA_OBJ as IStorage)
};

// A compound file in memory holding a copy of the bytes of another.
HRESULT CopyStorageBytes(ILockBytes* from, ComPtr<ILockBytes>& to);

class CMsgContent {
public:
    std::shared_ptr<CMsgContent> Clone() const;

    CPropBag props;
    std::vector<CPropBag> recipients;
    std::map<ULONG, std::shared_ptr<CAttachContent>> attachments;
    ULONG nextRecipientId = 0;
    ULONG nextAttachmentNum = 0;
};
