#pragma once
// CopyTo and CopyProps of messages and attachments on storage: the content
// is written into any IMAPIProp (another provider's message included)
// through its own interface: SetProps for properties, ModifyRecipients for
// the recipients, CreateAttach / OpenProperty(PR_ATTACH_DATA_OBJ) for
// attachments, embedded messages and OLE storages, each saved with
// SaveChanges.
#include "MapiStandin.h"

#include <vector>

class CAttachContent;
class CMsgContent;
class CPropBag;
class CPropObject;

class CMsgCopier {
public:
    // Which properties to copy: all but the excluded ids, or only the
    // included ids (PR_MESSAGE_RECIPIENTS / PR_MESSAGE_ATTACHMENTS stand
    // for the recipients and the attachments).
    struct Selection {
        bool onlyIncluded = false;
        std::vector<ULONG> ids;
        bool Takes(ULONG propId) const;
    };

    static HRESULT Selected(const SPropTagArray* tags, bool onlyIncluded, Selection& selection);
    // The IMAPIProp a CopyTo/CopyProps destination object is used through
    // (as the interface says, or queried); copying into `self` is refused.
    static HRESULT Destination(LPCIID lpInterface, LPVOID lpDestObj, IMAPIProp* self,
                               ComPtr<IMAPIProp>& destination);

    // problems: the destination's per-property failures, in the caller's
    // allocators (null when there were none).
    static HRESULT CopyMessage(const CMsgContent& content, const Selection& selection, ULONG flags,
                               IMAPIProp* destination, const CPropObject& helper, LPSPropProblemArray* problems);
    static HRESULT CopyAttachment(const CAttachContent& content, const Selection& selection, ULONG flags,
                                  IMAPIProp* destination, const CPropObject& helper, LPSPropProblemArray* problems);

private:
    static HRESULT CopyProps(const CPropBag& bag, const Selection& selection, ULONG flags, IMAPIProp* destination,
                             std::vector<SPropProblem>& problems);
    static HRESULT CopyRecipients(const CMsgContent& content, IMessage* destination);
    static HRESULT CopyAttachments(const CMsgContent& content, IMessage* destination);
    // An OLE attachment's storage into the destination's PR_ATTACH_DATA_OBJ.
    static HRESULT CopyStorage(const CAttachContent& content, IMAPIProp* destination);
    static HRESULT Problems(const std::vector<SPropProblem>& list, const CPropObject& helper,
                            LPSPropProblemArray* out);
};
