// The hierarchy tables of CFolder and of the IPM subtree: 24 columns, the 9
// the provider makes (instance key, depth, display type, entry identifier,
// object type, status, parent entry identifier, record key, long-term entry
// identifier) and then the 15 folder columns of the server's rows. The
// server is asked for 17 columns: two identifier columns of the caller's
// choosing, then those 15.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "Vostrel2007.h"

#include <vector>

constexpr ULONG kHierarchyServerColumnCount = 17;

// The server columns: first and second, then the 15 folder columns.
std::vector<ULONG> HierarchyServerColumns(ULONG first, ULONG second);

// Empties the hierarchy data, or makes it (dynamic, indexed on
// PR_INSTANCE_KEY, over the 24 columns) when there is none yet.
HRESULT ResetHierarchyData(ComPtr<ITableData>& data);

// Whether a server row has all 17 columns, the first two usable.
bool IsFolderRow(const _SEseRow& row);

// The 8 bytes of an id with its two 32-bit halves swapped, as a folder
// without an instance key of its own is keyed.
void SwappedHalves(LONGLONG id, BYTE key[8]);

// Inserts at position the row of child, whose parent is parent: the server
// row's 15 folder columns converted, the instance key's bytes, depth 1, the
// display type, and child's identifier as entry identifier, record key and
// long-term entry identifier.
HRESULT InsertHierarchyRow(ITableData* data, ULONG position, const _SEseRow& row, const CEntryId& child,
                           const CEntryId& parent, const void* instanceKey, ULONG keySize, LONG displayType);
