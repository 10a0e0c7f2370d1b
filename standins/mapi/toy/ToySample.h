#pragma once
// The toy store's content: an "Inbox" with two messages (one with a long
// body, a long binary, a named property, recipients, an attachment by
// value and an embedded message) and a sub-folder "Sub" with one message.
#include "CToyFolder.h"

HRESULT BuildToySample(CToyFolder* root);

// The named property the sample's first message carries.
extern const GUID kToyNamedSet;
