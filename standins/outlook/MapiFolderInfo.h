#pragma once
// What the host knows of a MAPI folder it hands out as a MAPIFolder: its
// entry identifier, its store's entry identifier and its display name, and
// the reading of folders through the MAPI session as Outlook's NameSpace
// shows them (the top of each store is its IPM subtree, named after the store).
#include "Platform.h"

#include <mapix.h>

#include <string>
#include <vector>

namespace olhost {

struct FolderInfo {
    std::vector<BYTE> entryId;
    std::vector<BYTE> storeId;
    std::wstring name;
    ComPtr<IMsgStore> store;
};

// The IPM subtree of every store of the session's message-store table, in
// table order. A store that cannot be opened, or has no IPM subtree, is left out.
HRESULT ReadTopFolders(IMAPISession* session, std::vector<FolderInfo>* folders);
// The sub-folders of a folder, in the order of its hierarchy table.
HRESULT ReadSubFolders(const FolderInfo& folder, std::vector<FolderInfo>* folders);
// A folder by its entry identifier (and its store's, when known).
HRESULT ReadFolder(IMAPISession* session, const std::vector<BYTE>& entryId, const std::vector<BYTE>* storeId,
                   FolderInfo* folder);

// Entry identifiers as Outlook's object model writes them: upper-case hex.
std::wstring ToHex(const std::vector<BYTE>& bytes);
bool FromHex(const std::wstring& text, std::vector<BYTE>* bytes);

} // namespace olhost
