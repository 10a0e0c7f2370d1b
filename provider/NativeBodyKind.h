// Which of a message's bodies is its own (the values of PR_NATIVE_BODY_INFO:
// 0 undefined, 1 plain text, 2 RTF, 3 HTML), for messages that do not say.
#pragma once
#include "ProviderPlatform.h"

enum ENativeBodyKind : ULONG {
    kBodyUndefined = 0,
    kBodyPlainText = 1,
    kBodyRtf = 2,
    kBodyHtml = 3,
};

// Asks message->GetProps (MAPI_UNICODE) for PR_BODY_W, PR_HTML,
// PR_RTF_COMPRESSED, PR_RTF_IN_SYNC and PR_NATIVE_BODY_INFO and chooses the
// kind. Null message or kind: E_INVALIDARG; a failing GetProps is returned
// (*kind stays 0).
HRESULT GetNativeBodyKind(IMAPIProp* message, ULONG* kind);

// The choice itself, from what GetProps returned (count values in the order
// above; fewer values count as absent).
ULONG ChooseNativeBodyKind(const SPropValue* values, ULONG count);
