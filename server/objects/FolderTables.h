#pragma once
// How the object layer reaches folders in "Folders": the children of a folder
// through the parent-id index that the store's database has, folders found
// by display name, whether the database is a public-folder store, and the
// subfolders flag of a folder row.
#include "Platform.h"
#include "objects/CEseTableImpl.h"
#include "objects/ComputedValues.h"

#include <cstdint>
#include <string>

using TableRef = NJbFramework::CSharedRef<CEseTableImpl>;

// The name of the parent-id index of "Folders": of the indexes whose name
// begins with "?T668f+Q6749+S3001+Q6748" (any case), the one with the most
// entries (the first listed on equal counts). Cached in the context; looked
// for again while no index qualified (the name then is "").
std::string DiscoveredFolderIndex(const ContextRef& context);

// "Folders" keyed by parent folder id, selecting the children of parentId.
// Without a discovered index the engine scans and compares the parent ids.
TableRef OpenChildFolders(const ContextRef& context, int64_t parentId);

// The folder id of the first row of `table` (selected on nothing yet) whose
// display name equals `name` ignoring case; rows without a folder id or a
// display name are skipped. 0 when none matches. Reads 100 rows at a time.
int64_t FindFolderIdByName(CEseTableImpl& table, const wchar_t* name);

// A database without a "Mailbox" table holds public folders (asked once per
// context).
bool IsPublicFolderStore(const ContextRef& context);
// The "IPM_SUBTREE" folder of a public-folder store (0 when none, and on a
// mailbox store).
int64_t IpmSubtreeId(const ContextRef& context);

// Computed property: PR_SUBFOLDERS of a "Folders" row, true when the folder
// has a child row.
void ComputeSubfoldersFlag(ULONG count, _SEsePropertyValue* values, const ContextRef& context);

// A value that the engine filled from a column (not an absent, null or
// failed one).
bool IsPresentValue(const _SEsePropertyValue& value);
