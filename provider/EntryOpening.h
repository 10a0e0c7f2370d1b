// Opening a folder or a message of the store by its entry identifier, as
// the store, the root and IPM subtree folders and every folder do it: the
// server object is registered in the module's interface table and the
// provider's object is built over its cookie, with a parent identifier made
// from the server's parent and mailbox-root folder ids.
//
// Each caller obtains the server folder itself (from the server store or
// from its own server folder) and maps a failure to MAPI_E_INVALID_ENTRYID;
// these functions raise _com_error for failing server calls.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "Vostrel2007.h"

class CStoreShared;

// Whether opening a folder or message by its identifier failed because the
// server has no such object (the identifier is bad). A failure that means
// the server itself is gone is no verdict on the identifier: it is raised
// as the server failure it is.
bool ObjectNotOpened(HRESULT hr, IUnknown* server, REFIID iid);

// The parent folder id (PR_PARENT_FID) and the mailbox-root folder id
// (PR_MAILBOX_ROOT_FID) of a server folder; 0 where the server has none.
void ReadFolderParentIds(IEseFolder* folder, LONGLONG& parentFid, LONGLONG& mailboxRootFid);

// The identifier of the folder a server folder lies in: kind 4 when the
// parent is the mailbox root, else kind 5, for the store UID of like; none
// (false) when the parent id is 0.
bool ParentIdentifier(LONGLONG parentFid, LONGLONG mailboxRootFid, const CEntryId& like, CEntryId& parent);

// A folder object over serverFolder, opened as id; a folder at the top of
// its tree gets topParent as its parent. Object type 3.
HRESULT OpenFolderEntry(IEseFolder* serverFolder, const CEntryId& id, const CEntryId& topParent,
                        const CEntryId& storeId, ULONG* lpulObjType, LPUNKNOWN* lppUnk);

// The message id.mid of serverFolder as a message object. Its parent is
// knownParent when given; else the identifier made from the folder's parent
// ids with fid = id.fid, or topParent for a folder at the top. Object type 5.
// A message the server cannot open is MAPI_E_INVALID_ENTRYID.
HRESULT OpenMessageEntry(IEseFolder* serverFolder, const CEntryId& id, const CEntryId* knownParent,
                         const CEntryId& topParent, const CEntryId& storeId, ULONG* lpulObjType,
                         LPUNKNOWN* lppUnk);

// The checks every folder's OpenEntry makes before it looks at the kind:
// null outputs E_INVALIDARG (else *lppUnk starts null), MAPI_MODIFY
// E_ACCESSDENIED, no identifier MAPI_E_INVALID_ENTRYID (a folder has no
// default entry), then the identifier decoded into id.
HRESULT DecodeFolderEntry(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk,
                          CEntryId& id);

// A new root folder (kind 2) or IPM subtree (kind 3) of store, as the store
// and its folders open them. Object type 3.
HRESULT OpenTopFolderEntry(const CStoreShared& store, const CEntryId& id, ULONG* lpulObjType, LPUNKNOWN* lppUnk);

// A folder (kinds 4 and 5) or a message (kind 6) opened through the server
// store registered under storeCookie: a folder the server has not is
// MAPI_E_INVALID_ENTRYID; a folder at the top of its tree gets folderTop as
// its parent, a message in such a folder messageTop.
HRESULT OpenStoreEntry(DWORD storeCookie, const CEntryId& id, const CEntryId& folderTop, const CEntryId& messageTop,
                       const CEntryId& storeId, ULONG* lpulObjType, LPUNKNOWN* lppUnk);
