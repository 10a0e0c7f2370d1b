#pragma once
// The copy services of the support object: a provider's messages,
// attachments and folders copied into objects of any other provider,
// property by property through IMAPIProp, large values through streams,
// recipients through the recipient table, attachments and embedded messages
// through the attachment table, folder contents and sub-folders through the
// contents and hierarchy tables. Properties that name an object's identity
// in its own store (entry ids, record and instance keys, store keys, counts
// the store computes) are never copied: the destination gives its own.
// Per-property failures of the destination are collected into the problem
// array MAPI returns; the progress object, when given, is told of every
// top-level item done.
#include "MapiStandin.h"

#include <string>

class CMapiCopier {
public:
    static HRESULT CopyTo(LPCIID srcInterface, void* src, ULONG ciidExclude, LPCIID rgiidExclude,
                          const SPropTagArray* exclude, LPMAPIPROGRESS progress, LPCIID destInterface, void* dest,
                          ULONG flags, LPSPropProblemArray* problems);
    static HRESULT CopyProps(LPCIID srcInterface, void* src, const SPropTagArray* include, LPMAPIPROGRESS progress,
                             LPCIID destInterface, void* dest, ULONG flags, LPSPropProblemArray* problems);
    static HRESULT CopyMessages(LPCIID srcInterface, void* srcFolder, const ENTRYLIST* messages,
                                LPCIID destInterface, void* destFolder, LPMAPIPROGRESS progress, ULONG flags);
    static HRESULT CopyFolder(LPCIID srcInterface, void* srcFolder, ULONG cbEntryID, LPENTRYID entryId,
                              LPCIID destInterface, void* destFolder, const std::wstring& newName,
                              LPMAPIPROGRESS progress, ULONG flags);
};
