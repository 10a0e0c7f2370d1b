// The MAPI headers in dependency order, and the property tags the converter
// writes that mingw-w64's mapitags.h does not name (their values are the
// documented ones). Strings are always written as PT_UNICODE.
#pragma once
#include "Platform.h"

#include <mapidefs.h>
#include <mapicode.h>
#include <mapitags.h>
#include <mapix.h>
#include <mapiutil.h>

namespace mimetags {

constexpr ULONG Wide(ULONG tag)
{
    return PROP_TAG(PT_UNICODE, PROP_ID(tag));
}

constexpr ULONG kHtml = PROP_TAG(PT_BINARY, 0x1013);
constexpr ULONG kInternetMessageId = PROP_TAG(PT_UNICODE, 0x1035);
constexpr ULONG kInternetReferences = PROP_TAG(PT_UNICODE, 0x1039);
constexpr ULONG kInReplyToId = PROP_TAG(PT_UNICODE, 0x1042);
constexpr ULONG kInternetCodePage = PROP_TAG(PT_LONG, 0x3FDE);
constexpr ULONG kAttachContentId = PROP_TAG(PT_UNICODE, 0x3712);
constexpr ULONG kAttachContentLocation = PROP_TAG(PT_UNICODE, 0x3713);
constexpr ULONG kAttachFlags = PROP_TAG(PT_LONG, 0x3714);
constexpr ULONG kAttachmentHidden = PROP_TAG(PT_BOOLEAN, 0x7FFE);
constexpr ULONG kSmtpAddress = PROP_TAG(PT_UNICODE, 0x39FE);

// PR_ATTACH_FLAGS: the attachment is referenced from the HTML body.
constexpr LONG kAttachMhtmlReference = 0x00000004;

} // namespace mimetags
