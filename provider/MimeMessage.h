// A message the database keeps only as MIME text, turned into a MAPI
// message in memory: a message on a compound file held in an HGLOBAL, filled
// by Outlook's MIME converter. It then serves what the database cannot: the
// attachment table and attachments, body streams and the body kind.
#pragma once
#include "ProviderPlatform.h"

// The server's property holding a message's MIME text.
constexpr ULONG kMimeTextTag = 0x66590102;

// The memory functions a message on storage allocates its results with (the
// ones the provider was handed, so that its callers free them as usual).
struct SMessageAllocators {
    LPALLOCATEBUFFER allocateBuffer = nullptr;
    LPALLOCATEMORE allocateMore = nullptr;
    LPFREEBUFFER freeBuffer = nullptr;
    LPMALLOC malloc = nullptr;
};

// Makes the message and converts mime (read from where it stands) into it
// with IConverterSession::MIMEToMAPI(CCSF_SMTP); a converted message is
// saved and its storage committed.
// *message is set as soon as the message on storage exists, also when the
// conversion then fails (it is then empty or partly filled, and the failure
// is returned: no converter registered, or MIME it refused); it is null only
// when the message itself could not be made, whose failure is returned.
// E_INVALIDARG for a null mime, message or allocator.
HRESULT MessageFromMime(IStream* mime, const SMessageAllocators& allocators, IMessage** message);
