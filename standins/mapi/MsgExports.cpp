// OpenIMsgSession, CloseIMsgSession and OpenIMsgOnIStg.
#include "MapiStandin.h"
#include "CMsgOnStorage.h"
#include "CMsgSession.h"

STDAPI_(SCODE) OpenIMsgSession(LPMALLOC lpMalloc, ULONG ulFlags, LPMSGSESS* lppMsgSess)
{
    if (!lppMsgSess)
        return MAPI_E_INVALID_PARAMETER;
    *lppMsgSess = nullptr;
    CMsgSession* session = new (std::nothrow) CMsgSession(lpMalloc);
    if (!session)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *lppMsgSess = session->Handle();
    return S_OK;
}

STDAPI_(void) CloseIMsgSession(LPMSGSESS lpMsgSess)
{
    // Messages of the session stay usable; they are only detached from it.
    delete CMsgSession::FromHandle(lpMsgSess);
}

STDAPI_(SCODE) OpenIMsgOnIStg(LPMSGSESS lpMsgSess, LPALLOCATEBUFFER lpAllocateBuffer, LPALLOCATEMORE lpAllocateMore,
                              LPFREEBUFFER lpFreeBuffer, LPMALLOC lpMalloc, LPVOID lpMapiSup, LPSTORAGE lpStg,
                              MSGCALLRELEASE* lpfMsgCallRelease, ULONG ulCallerData, ULONG ulFlags,
                              LPMESSAGE* lppMsg)
{
    if (!lppMsg)
        return MAPI_E_INVALID_PARAMETER;
    *lppMsg = nullptr;
    if (!lpAllocateBuffer || !lpAllocateMore || !lpFreeBuffer || !lpStg)
        return MAPI_E_INVALID_PARAMETER;
    CMsgSession* session = nullptr;
    if (lpMsgSess && !(session = CMsgSession::FromHandle(lpMsgSess)))
        return MAPI_E_INVALID_PARAMETER;
    mapistub::Allocators allocators;
    allocators.allocateBuffer = lpAllocateBuffer;
    allocators.allocateMore = lpAllocateMore;
    allocators.freeBuffer = lpFreeBuffer;
    return CMsgOnStorage::Open(session, allocators, lpStg, lpfMsgCallRelease, ulCallerData, ulFlags, lppMsg);
}
