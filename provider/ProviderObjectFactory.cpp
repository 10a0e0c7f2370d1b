#include "ProviderPlatform.h"
#include "ProviderObjectFactory.h"

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
    (void)storeCookie;
    (void)searchRootId;
    (void)storeId;
    (void)rootId;
    (void)name;
    // TODO: the search root and its search folders are the search layer's.
    if (object)
        *object = nullptr;
    return MAPI_E_NO_SUPPORT;
}
