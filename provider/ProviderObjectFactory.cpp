#include "ProviderPlatform.h"
#include "ProviderObjectFactory.h"
#include "CMessage.h"

HRESULT OpenMessageObject(CServerCookie messageCookie, const CEntryId& messageId, const CEntryId& parentId,
                          const CEntryId& storeId, LPUNKNOWN* object)
{
    if (!object)
        return E_INVALIDARG;
    *object = nullptr;
    CMessage* message = nullptr;
    HRESULT hr = CMessage::Create(std::move(messageCookie), messageId, parentId, storeId, &message);
    if (FAILED(hr))
        return hr;
    *object = static_cast<IMessage*>(message);
    return S_OK;
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
