#pragma once
// The rewriting rules of the properties that the database does not hold in
// the form a MAPI client expects. Each handler takes one delivered row (its
// values: the requested ones first, then the sources the rules added), finds
// the values it needs by property id, and rewrites its target value in
// place. Values that a handler replaces have their owned memory freed; new
// texts are COM task memory, as every value of a row.
#include "Platform.h"
#include "Vostrel2007.h"
#include "objects/ComputedProperties.h"

#include <cstdint>
#include <string>

using ContextRef = NJbFramework::CSharedRef<CEseStoreContext>;

// The first value whose tag has this property id (the type word is not
// compared), or null.
_SEsePropertyValue* FindValueById(ULONG count, _SEsePropertyValue* values, USHORT id);
// A UTF-16 value with a non-empty text.
bool IsNonEmptyString(const _SEsePropertyValue* value);
// Frees what the value owns and makes it {tag, STRING16, a copy of text}.
void SetStringValue(_SEsePropertyValue& value, ULONG tag, const wchar_t* text);

// The display name held in a sender entry: "" when the entry holds none.
// Short entries (bit 15 of the first word clear) keep a one-byte length at
// offset 2 and the name from offset 3; long ones the length at offset 4 and
// the name from offset 5. A name whose first zero byte is its last byte is
// ANSI text, any other is UTF-16.
std::wstring SenderEntryName(const BYTE* entry, ULONG size);
// "SMTP" for a long entry whose byte 2 has bit 0x10 set, else "EX".
const wchar_t* SenderAddressType(const BYTE* entry, ULONG size);

// The handlers, in the order their rules run (all of the handler type of the
// rule table, ComputedPropertyHandler). The subfolders flag, which reads the
// database, is with the folder tables (FolderTables.h).
void ComputeSubject(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
void ComputeSenderName(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
void ComputeSenderAddressType(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
// Target <- source when the target is empty: 0x0065 <- 0x4031, 0x0C1A <- 0x0042,
// 0x0C1F <- 0x0065, 0x0C1E <- 0x0064.
void CopySenderEmailAddress(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
void CopySentRepresentingName(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
void CopySentRepresentingAddress(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
void CopySentRepresentingAddressType(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
// A "Folders" row of a child of a "Top of Information Store" folder names the
// mailbox root as its parent; a message row names it as its folder.
void AliasParentFolderId(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
void AliasMessageFolderId(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
// A mailbox root row shows counter `index` (root counter map order) of its
// "Top of Information Store" folder.
template <unsigned index>
void ShowRootCounter(ULONG count, _SEsePropertyValue* values, const ContextRef& context);
