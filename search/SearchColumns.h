// The fixed column lists of the search engine and its search folders.
//
// Each message row is asked of the database server with the message
// columns (then any further tag the restriction tests); the engine's working
// table has the same columns without the three identifier columns it only
// reads, followed by the row-key columns it makes itself; a search folder's
// result table shows the message columns without the bodies and the
// identifiers, followed by the row-key columns.
#pragma once
#include "ProviderPlatform.h"
#include "MessageBodies.h"

#include <vector>

constexpr ULONG kPrMid = 0x674A0014;
constexpr ULONG kPrMsgLink = 0x67B00102;
constexpr ULONG kPrFid = 0x67480014;
constexpr ULONG kPrMailboxRootFid = 0x67640014;
constexpr ULONG kPrLongTermEntryIdFromTable = 0x66700102;
constexpr ULONG kPrExtendedFolderFlags = 0x36DA0102;

constexpr ULONG kSearchMessageColumnCount = 48;
constexpr ULONG kSearchRowKeyColumnCount = 12;
constexpr ULONG kSearchResultColumnCount = 54;

extern const ULONG kSearchMessageColumns[kSearchMessageColumnCount];
extern const ULONG kSearchRowKeyColumns[kSearchRowKeyColumnCount];

// The 54 result columns: the message columns without PR_BODY_W, PR_HTML,
// PR_RTF_COMPRESSED, PR_MID, PR_MSG_LINK and PR_FID, then the row keys.
std::vector<ULONG> SearchResultColumns();
