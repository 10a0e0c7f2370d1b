#include "ProviderPlatform.h"
#include "ProviderObjectFactory.h"
#include "CMessage.h"
#include "CSearchRoot.h"

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
    // A search folder a client made is opened with the name it was made
    // with; the search root and unknown ones with the store's name for them.
    return CSearchRoot::Open(storeCookie, searchRootId, storeId, rootId, name, object);
}
