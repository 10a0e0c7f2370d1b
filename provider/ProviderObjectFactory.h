// The seams between the store and folders and the object layers built on
// them: how a server message a folder (or the store) opened becomes the
// provider's message object (CMessage), and how the store opens its search
// root. Each layer supplies the body of its function; until it exists the
// object cannot be opened and the caller hears MAPI_E_NO_SUPPORT.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "ServerInterfaces.h"

// messageCookie holds the server message registered as IEseMessage; the
// message object takes it over. *object receives the IMessage.
HRESULT OpenMessageObject(CServerCookie messageCookie, const CEntryId& messageId, const CEntryId& parentId,
                          const CEntryId& storeId, LPUNKNOWN* object);

// The store's search root (entry kind 7) with its display name. *object
// receives the IMAPIFolder.
HRESULT OpenSearchRootObject(DWORD storeCookie, const CEntryId& searchRootId, const CEntryId& storeId,
                             const CEntryId& rootId, const wchar_t* name, LPUNKNOWN* object);
