#include "ProviderPlatform.h"
#include "ProviderObjectFactory.h"
#include "CSearchRoot.h"

HRESULT OpenMessageObject(CServerCookie messageCookie, const CEntryId& messageId, const CEntryId& parentId,
                          const CEntryId& storeId, LPUNKNOWN* object)
{
    (void)messageId;
    (void)parentId;
    (void)storeId;
    // TODO: the message object (its properties, bodies, recipients and
    // attachments) is the message layer's; until it is built messages are
    // listed in contents tables but cannot be opened.
    messageCookie.Reset();
    if (object)
        *object = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT OpenSearchRootObject(DWORD storeCookie, const CEntryId& searchRootId, const CEntryId& storeId,
                             const CEntryId& rootId, const wchar_t* name, LPUNKNOWN* object)
{
    // A search folder a client made is opened with the name it was made
    // with; the search root and unknown ones with the store's name for them.
    return CSearchRoot::Open(storeCookie, searchRootId, storeId, rootId, name, object);
}
