#include "MapiStandin.h"
#include "CMsgContent.h"

std::shared_ptr<CAttachContent> CAttachContent::Clone() const
{
    auto copy = std::make_shared<CAttachContent>();
    copy->props = props;
    if (embedded)
        copy->embedded = embedded->Clone();
    return copy;
}

std::shared_ptr<CMsgContent> CMsgContent::Clone() const
{
    auto copy = std::make_shared<CMsgContent>();
    copy->props = props;
    copy->recipients = recipients;
    copy->nextRecipientId = nextRecipientId;
    copy->nextAttachmentNum = nextAttachmentNum;
    for (const auto& item : attachments)
        copy->attachments[item.first] = item.second->Clone();
    return copy;
}
