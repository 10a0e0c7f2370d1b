/*
 * The client and server halves of the methods with input arrays. The client
 * half sends whether an array was given and the caller's count, then the
 * caller's array flattened into 32-bit words (the bytes as laid out in
 * memory; strings as a length and UTF-16 units; padded to a whole word);
 * the server half rebuilds the array in memory of its own, hands the object
 * exactly what the caller passed (its count, and a null array where it gave
 * none or a count of 0) and frees the rebuilt array after the call.
 */
#include "Vostrel2007.h"

#include <string.h>

typedef struct {
    BYTE *data;
    ULONG size, capacity;
    int failed;
} Writer;

static void Put(Writer *w, const void *bytes, ULONG count)
{
    if (w->failed)
        return;
    if (w->size + count + 8 > w->capacity) {
        ULONG capacity = (w->size + count + 8) * 2;
        BYTE *grown = w->data ? HeapReAlloc(GetProcessHeap(), 0, w->data, capacity)
                              : HeapAlloc(GetProcessHeap(), 0, capacity);
        if (!grown) {
            w->failed = 1;
            return;
        }
        w->data = grown;
        w->capacity = capacity;
    }
    if (count)
        memcpy(w->data + w->size, bytes, count);
    w->size += count;
}

static void PutU32(Writer *w, ULONG value) { Put(w, &value, 4); }

static void PutString(Writer *w, const WCHAR *text)
{
    PutU32(w, text != NULL);
    if (text) {
        ULONG length = (ULONG)lstrlenW(text);
        PutU32(w, length);
        Put(w, text, length * sizeof(WCHAR));
    }
}

/* Pads to a whole word and hands out the buffer as words (one word for an
 * empty buffer, since the array must exist). */
static ULONG *Finish(Writer *w, ULONG *words)
{
    static const BYTE zeros[4] = {0};
    if (w->size == 0 || w->size % 4)
        Put(w, zeros, 4 - w->size % 4);
    *words = w->size / 4;
    return w->failed ? NULL : (ULONG *)w->data;
}

static void Discard(Writer *w)
{
    if (w->data)
        HeapFree(GetProcessHeap(), 0, w->data);
}

typedef struct {
    const BYTE *at, *end;
    int failed;
} Reader;

static int Take(Reader *r, void *out, ULONG count)
{
    if (r->failed || (ULONG)(r->end - r->at) < count) {
        r->failed = 1;
        if (out)
            memset(out, 0, count);
        return 0;
    }
    if (out)
        memcpy(out, r->at, count);
    r->at += count;
    return 1;
}

static ULONG TakeU32(Reader *r)
{
    ULONG value = 0;
    Take(r, &value, 4);
    return value;
}

/* A string in a block of the COM task allocator (null when none was sent). */
static WCHAR *TakeString(Reader *r)
{
    ULONG length;
    WCHAR *text;
    if (!TakeU32(r))
        return NULL;
    length = TakeU32(r);
    if (r->failed || length > (ULONG)(r->end - r->at) / sizeof(WCHAR)) {
        r->failed = 1;
        return NULL;
    }
    text = CoTaskMemAlloc((length + 1) * sizeof(WCHAR));
    if (!text) {
        r->failed = 1;
        return NULL;
    }
    Take(r, text, length * sizeof(WCHAR));
    text[length] = 0;
    return text;
}

/* A flat array of count elements of size bytes: rebuilt in its own block. */
static void *TakeArray(Reader *r, ULONG count, ULONG size)
{
    void *array;
    if (!count)
        return NULL;
    if (count > (ULONG)(r->end - r->at) / size) {
        r->failed = 1;
        return NULL;
    }
    array = CoTaskMemAlloc(count * size);
    if (!array) {
        r->failed = 1;
        return NULL;
    }
    Take(r, array, count * size);
    return array;
}

#define SEND(writer, call)                                                                                            \
    do {                                                                                                              \
        ULONG cbData_;                                                                                                \
        ULONG *data_ = Finish(&(writer), &cbData_);                                                                   \
        HRESULT hr_ = data_ ? (call) : E_OUTOFMEMORY;                                                                 \
        Discard(&(writer));                                                                                           \
        return hr_;                                                                                                   \
    } while (0)

/* IEseInstance::PlayLogFiles */
HRESULT CALLBACK IEseInstance_PlayLogFiles_Proxy(IEseInstance *This, LPWSTR pLogPath, ULONG count,
                                                 _SEseRstMap *pRstMap)
{
    Writer w = {0};
    ULONG i;
    for (i = 0; pRstMap && i < count; ++i) {
        PutString(&w, pRstMap[i].szDatabaseName);
        PutString(&w, pRstMap[i].szNewDatabaseName);
    }
    SEND(w, IEseInstance_RemotePlayLogFiles_Proxy(This, pRstMap != NULL, count, pLogPath, cbData_, data_));
}

HRESULT __RPC_STUB IEseInstance_PlayLogFiles_Stub(IEseInstance *This, ULONG given, ULONG count, LPWSTR pLogPath,
                                                  ULONG cData, ULONG *pData)
{
    ULONG cbData = cData * 4;
    Reader r = {(const BYTE *)pData, (const BYTE *)pData + cbData, 0};
    _SEseRstMap *maps = NULL;
    ULONG i;
    HRESULT hr;
    if (given && count) {
        if (count > cbData / 8)
            return RPC_X_BAD_STUB_DATA;
        maps = CoTaskMemAlloc(count * sizeof(_SEseRstMap));
        if (!maps)
            return E_OUTOFMEMORY;
        for (i = 0; i < count; ++i) {
            maps[i].szDatabaseName = TakeString(&r);
            maps[i].szNewDatabaseName = TakeString(&r);
        }
    }
    hr = r.failed ? RPC_X_BAD_STUB_DATA : This->lpVtbl->PlayLogFiles(This, pLogPath, count, maps);
    for (i = 0; maps && i < count; ++i) {
        CoTaskMemFree(maps[i].szDatabaseName);
        CoTaskMemFree(maps[i].szNewDatabaseName);
    }
    CoTaskMemFree(maps);
    return hr;
}

/* IEseStore::GetMailboxesTable */
HRESULT CALLBACK IEseStore_GetMailboxesTable_Proxy(IEseStore *This, ULONG count, hyper *pIds, signed char brief,
                                                   IEseTable **ppTable)
{
    Writer w = {0};
    if (pIds)
        Put(&w, pIds, count * sizeof(hyper));
    SEND(w, IEseStore_RemoteGetMailboxesTable_Proxy(This, pIds != NULL, count, brief, cbData_, data_, ppTable));
}

HRESULT __RPC_STUB IEseStore_GetMailboxesTable_Stub(IEseStore *This, ULONG given, ULONG count, signed char brief,
                                                    ULONG cData, ULONG *pData, IEseTable **ppTable)
{
    ULONG cbData = cData * 4;
    Reader r = {(const BYTE *)pData, (const BYTE *)pData + cbData, 0};
    hyper *ids = given ? TakeArray(&r, count, sizeof(hyper)) : NULL;
    HRESULT hr = r.failed ? RPC_X_BAD_STUB_DATA : This->lpVtbl->GetMailboxesTable(This, count, ids, brief, ppTable);
    CoTaskMemFree(ids);
    return hr;
}

/* IEseProperty::GetProperties */
HRESULT CALLBACK IEseProperty_GetProperties_Proxy(IEseProperty *This, ULONG tagCount, ULONG *pTags,
                                                  ULONG *pValueCount, _SEsePropertyValue **ppValues)
{
    Writer w = {0};
    if (pTags)
        Put(&w, pTags, tagCount * sizeof(ULONG));
    SEND(w, IEseProperty_RemoteGetProperties_Proxy(This, pTags != NULL, tagCount, cbData_, data_, pValueCount,
                                                   ppValues));
}

HRESULT __RPC_STUB IEseProperty_GetProperties_Stub(IEseProperty *This, ULONG given, ULONG tagCount, ULONG cData,
                                                   ULONG *pData, ULONG *pValueCount, _SEsePropertyValue **ppValues)
{
    ULONG cbData = cData * 4;
    Reader r = {(const BYTE *)pData, (const BYTE *)pData + cbData, 0};
    ULONG *tags = given ? TakeArray(&r, tagCount, sizeof(ULONG)) : NULL;
    HRESULT hr =
        r.failed ? RPC_X_BAD_STUB_DATA : This->lpVtbl->GetProperties(This, tagCount, tags, pValueCount, ppValues);
    CoTaskMemFree(tags);
    return hr;
}

/* IEseProperty::GetPropNamesFromTags: the tag count, the tags pointer and the
 * property set are each a pointer of their own; `given` says which were. */
enum { kHasTagCount = 1, kHasTags = 2, kHasPropSet = 4 };

HRESULT CALLBACK IEseProperty_GetPropNamesFromTags_Proxy(IEseProperty *This, ULONG *pTagCount, ULONG **ppTags,
                                                         GUID *pPropSetGuid, ULONG flags, ULONG *pPropNamesCount,
                                                         _SEseNamedPropertyId **ppPropNames)
{
    Writer w = {0};
    GUID noSet = {0};
    ULONG tagCount = pTagCount ? *pTagCount : 0;
    ULONG *tags = ppTags ? *ppTags : NULL;
    ULONG given = (pTagCount ? kHasTagCount : 0) | (tags ? kHasTags : 0) | (pPropSetGuid ? kHasPropSet : 0);
    if (ppTags && !tags)
        given |= 8; /* the pointer to the tags was given, the tags were null */
    Put(&w, pPropSetGuid ? pPropSetGuid : &noSet, sizeof(GUID));
    if (tags)
        Put(&w, tags, tagCount * sizeof(ULONG));
    SEND(w, IEseProperty_RemoteGetPropNamesFromTags_Proxy(This, given, tagCount, flags, cbData_, data_,
                                                          pPropNamesCount, ppPropNames));
}

HRESULT __RPC_STUB IEseProperty_GetPropNamesFromTags_Stub(IEseProperty *This, ULONG given, ULONG tagCount,
                                                          ULONG flags, ULONG cData, ULONG *pData,
                                                          ULONG *pPropNamesCount, _SEseNamedPropertyId **ppPropNames)
{
    ULONG cbData = cData * 4;
    Reader r = {(const BYTE *)pData, (const BYTE *)pData + cbData, 0};
    GUID propSet;
    GUID *pPropSetGuid = &propSet;
    ULONG *tags;
    ULONG *original;
    Take(&r, &propSet, sizeof propSet);
    tags = (given & kHasTags) ? TakeArray(&r, tagCount, sizeof(ULONG)) : NULL;
    original = tags;
    HRESULT hr = r.failed ? RPC_X_BAD_STUB_DATA
                          : This->lpVtbl->GetPropNamesFromTags(This, (given & kHasTagCount) ? &tagCount : NULL,
                                                               (given & (kHasTags | 8)) ? &tags : NULL,
                                                               (given & kHasPropSet) ? pPropSetGuid : NULL, flags,
                                                               pPropNamesCount, ppPropNames);
    /* The tags are an input of the contract: a list the object made in their
     * place stays on this side, and is freed here with the one sent. */
    if (tags != original)
        CoTaskMemFree(tags);
    CoTaskMemFree(original);
    return hr;
}

/* IEseProperty::GetTagsFromPropNames */
HRESULT CALLBACK IEseProperty_GetTagsFromPropNames_Proxy(IEseProperty *This, ULONG propNamesCount,
                                                         _SEseNamedPropertyId **ppPropNames, ULONG *pTagCount,
                                                         ULONG **ppTags)
{
    Writer w = {0};
    ULONG i;
    for (i = 0; ppPropNames && i < propNamesCount; ++i) {
        const _SEseNamedPropertyId *name = ppPropNames[i];
        PutU32(&w, name != NULL);
        if (!name)
            continue;
        PutU32(&w, name->lpguid != NULL);
        if (name->lpguid)
            Put(&w, name->lpguid, sizeof(GUID));
        PutU32(&w, name->ulKind);
        if (name->ulKind == 1)
            PutString(&w, name->Kind.lpwstrName);
        else
            PutU32(&w, (ULONG)name->Kind.lID);
    }
    SEND(w, IEseProperty_RemoteGetTagsFromPropNames_Proxy(This, ppPropNames != NULL, propNamesCount, cbData_,
                                                          data_, pTagCount, ppTags));
}

HRESULT __RPC_STUB IEseProperty_GetTagsFromPropNames_Stub(IEseProperty *This, ULONG given, ULONG propNamesCount,
                                                          ULONG cData, ULONG *pData, ULONG *pTagCount, ULONG **ppTags)
{
    ULONG cbData = cData * 4;
    Reader r = {(const BYTE *)pData, (const BYTE *)pData + cbData, 0};
    _SEseNamedPropertyId **names = NULL;
    _SEseNamedPropertyId *records = NULL;
    ULONG i;
    HRESULT hr;
    if (given && propNamesCount) {
        if (propNamesCount > cbData / 4)
            return RPC_X_BAD_STUB_DATA;
        names = CoTaskMemAlloc(propNamesCount * sizeof(*names));
        records = CoTaskMemAlloc(propNamesCount * sizeof(*records));
        if (!names || !records) {
            CoTaskMemFree(names);
            CoTaskMemFree(records);
            return E_OUTOFMEMORY;
        }
        memset(records, 0, propNamesCount * sizeof(*records));
        for (i = 0; i < propNamesCount; ++i) {
            _SEseNamedPropertyId *name = &records[i];
            names[i] = TakeU32(&r) ? name : NULL;
            if (!names[i])
                continue;
            if (TakeU32(&r)) {
                name->lpguid = TakeArray(&r, 1, sizeof(GUID));
            }
            name->ulKind = TakeU32(&r);
            if (name->ulKind == 1)
                name->Kind.lpwstrName = TakeString(&r);
            else
                name->Kind.lID = (LONG)TakeU32(&r);
        }
    }
    hr = r.failed ? RPC_X_BAD_STUB_DATA
                  : This->lpVtbl->GetTagsFromPropNames(This, propNamesCount, names, pTagCount, ppTags);
    for (i = 0; records && i < propNamesCount; ++i) {
        CoTaskMemFree(records[i].lpguid);
        if (records[i].ulKind == 1)
            CoTaskMemFree(records[i].Kind.lpwstrName);
    }
    CoTaskMemFree(records);
    CoTaskMemFree(names);
    return hr;
}

/* IEseTable::SetColumns */
HRESULT CALLBACK IEseTable_SetColumns_Proxy(IEseTable *This, ULONG tagCount, ULONG *pTags)
{
    Writer w = {0};
    if (pTags)
        Put(&w, pTags, tagCount * sizeof(ULONG));
    SEND(w, IEseTable_RemoteSetColumns_Proxy(This, pTags != NULL, tagCount, cbData_, data_));
}

HRESULT __RPC_STUB IEseTable_SetColumns_Stub(IEseTable *This, ULONG given, ULONG tagCount, ULONG cData, ULONG *pData)
{
    ULONG cbData = cData * 4;
    Reader r = {(const BYTE *)pData, (const BYTE *)pData + cbData, 0};
    ULONG *tags = given ? TakeArray(&r, tagCount, sizeof(ULONG)) : NULL;
    HRESULT hr = r.failed ? RPC_X_BAD_STUB_DATA : This->lpVtbl->SetColumns(This, tagCount, tags);
    CoTaskMemFree(tags);
    return hr;
}
