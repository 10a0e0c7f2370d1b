#include "Platform.h"
#include "objects/CEsePropImpl.h"
#include "CException.h"
#include "EseValueMemory.h"
#include "objects/FolderTables.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using NJbFramework::CSharedRef;

namespace {

// The "NamedProps" columns, asked for by property id only (type 0: the first
// catalogued column with that id serves).
constexpr ULONG kTagMappedId = 0x67F10000;
constexpr ULONG kTagPropertySet = 0x67F00000;
constexpr ULONG kTagNumericName = 0x67EF0000;
constexpr ULONG kTagStringName = 0x67F40000;
constexpr USHORT kFirstNamedId = 0x8000;
constexpr ULONG kTypeError = 0x000A;
constexpr ULONG kTooLarge = 0x8007000E;
constexpr ULONG kFlagNumericName = 0x1;
constexpr ULONG kFlagStringName = 0x2;

USHORT IdOf(ULONG tag) { return static_cast<USHORT>(tag >> 16); }

// One row of "NamedProps" as read.
struct SNamedRow {
    bool hasMappedId = false;
    USHORT mappedId = 0;
    bool hasGuid = false;
    GUID guid = {};
    bool hasNumeric = false;
    long numeric = 0;
    bool hasString = false;
    std::wstring name;
};

bool NumberOf(const _SEsePropertyValue& value, long* number)
{
    if (!IsPresentValue(value))
        return false;
    switch (value.m_type) {
    case ESE_PT_INT16: *number = value.m_value.m_i16; return true;
    case ESE_PT_INT32: *number = value.m_value.m_i32; return true;
    case ESE_PT_INT64: *number = static_cast<long>(value.m_value.m_i64); return true;
    case ESE_PT_UINT16: *number = value.m_value.m_ui16; return true;
    case ESE_PT_UINT32: *number = static_cast<long>(value.m_value.m_ui32); return true;
    default: return false;
    }
}

bool GuidOf(const _SEsePropertyValue& value, GUID* guid)
{
    if (!IsPresentValue(value))
        return false;
    if (value.m_type == ESE_PT_GUID && value.m_value.m_p_g) {
        *guid = *value.m_value.m_p_g;
        return true;
    }
    if (value.m_type == ESE_PT_BINARY && value.m_value.m_bin.m_count == sizeof(GUID) && value.m_value.m_bin.m_p_bt) {
        std::memcpy(guid, value.m_value.m_bin.m_p_bt, sizeof(GUID));
        return true;
    }
    return false;
}

// Every row of "NamedProps", in table order, reading only the columns asked
// for (the mapped id always).
std::vector<SNamedRow> ReadNamedProps(const CSharedRef<CEseStoreContext>& context, bool namesToo)
{
    CEseTableImpl table(0, context, "NamedProps", kKindNamedProps);
    const ULONG tags[] = {kTagMappedId, kTagPropertySet, kTagNumericName, kTagStringName};
    table.SetColumns(namesToo ? 4 : 1, tags);
    std::vector<SNamedRow> rows;
    for (bool more = table.Move(true); more; more = table.Move(false)) {
        _SEseRow row = {0, nullptr};
        table.GetRowValues(&row);
        SNamedRow named;
        long number = 0;
        if (row.m_valueCount >= 1 && NumberOf(row.m_p_values[0], &number)) {
            named.hasMappedId = true;
            named.mappedId = static_cast<USHORT>(number);
        }
        if (namesToo && row.m_valueCount >= 4) {
            named.hasGuid = GuidOf(row.m_p_values[1], &named.guid);
            named.hasNumeric = NumberOf(row.m_p_values[2], &named.numeric);
            const _SEsePropertyValue& text = row.m_p_values[3];
            if (IsPresentValue(text) && text.m_type == ESE_PT_STRING16 && text.m_value.m_p_ws) {
                named.hasString = true;
                named.name = text.m_value.m_p_ws;
            }
        }
        FreeEseValues(row.m_p_values, row.m_valueCount);
        rows.push_back(named);
    }
    return rows;
}

template <typename T>
T* TaskAllocArray(size_t count)
{
    void* block = CoTaskMemAlloc(sizeof(T) * (count ? count : 1));
    if (!block)
        ThrowServerError(kErrUnspecified, L"out of memory");
    std::memset(block, 0, sizeof(T) * (count ? count : 1));
    return static_cast<T*>(block);
}

ULONG* CopyTags(const std::vector<ULONG>& tags)
{
    ULONG* block = TaskAllocArray<ULONG>(tags.size());
    if (!tags.empty())
        std::memcpy(block, tags.data(), sizeof(ULONG) * tags.size());
    return block;
}

bool IsZeroGuid(const GUID& guid)
{
    static const GUID zero = {};
    return std::memcmp(&guid, &zero, sizeof(GUID)) == 0;
}

// The property set of a name matches a row's: both absent, or both equal.
bool SameGuid(const GUID* name, const SNamedRow& row)
{
    if (!name || !row.hasGuid)
        return !name && !row.hasGuid;
    return IsEqualGUID(*name, row.guid) != 0;
}

} // namespace

CEsePropImpl::CEsePropImpl(unsigned short keyPropId, int64_t id, const CSharedRef<CEseStoreContext>& context,
                           const char* tableName, unsigned long kind)
    : CEseTableImpl(keyPropId, context, tableName, kind)
{
    SetKeyValues(1, &id, true);
    if (!Move(true))
        ThrowServerError(kErrNotFound, L"cannot find object by tag=%x; value=%llx", keyPropId,
                         static_cast<unsigned long long>(id));
}

CEsePropImpl::~CEsePropImpl() = default;

void CEsePropImpl::AddLinkedTable(unsigned short linkPropId, const CSharedRef<CEseTableImpl>& table)
{
    CEseTableImpl::AddLinkedTable(linkPropId, table);
    Move(true);
}

bool CEsePropImpl::HasColumnWithId(USHORT id) const
{
    return FindColumnThroughLinks(static_cast<ULONG>(id) << 16) != nullptr;
}

void CEsePropImpl::GetProperty(ULONG tag, ULONG* size, BYTE** data)
{
    if (size)
        *size = 0;
    if (data)
        *data = nullptr;
    unsigned long actual = 0;
    if (!RetrieveColumn(tag, 0, 0, nullptr, &actual))
        ThrowServerError(kErrColumnMissing, L"cannot find column by tag=%x", tag);
    if (size)
        *size = actual;
    if (!data)
        return;
    BYTE* buffer = TaskAllocArray<BYTE>(actual);
    unsigned long read = 0;
    if (!RetrieveColumn(tag, 0, actual, buffer, &read)) {
        CoTaskMemFree(buffer);
        ThrowServerError(kErrColumnMissing, L"cannot find column by tag=%x", tag);
    }
    *data = buffer;
}

void CEsePropImpl::GetPropertyTags(ULONG* count, ULONG** tags)
{
    unsigned long all = 0;
    unsigned long* listed = nullptr;
    GetColumns(true, &all, &listed);
    std::vector<ULONG> kept;
    _SEseRow row = {0, nullptr};
    try {
        SetColumns(all, listed);
        GetRowValues(&row);
    } catch (...) {
        CoTaskMemFree(listed);
        throw;
    }
    for (ULONG i = 0; i < row.m_valueCount && i < all; ++i) {
        const _SEsePropertyValue& value = row.m_p_values[i];
        bool tooLarge = value.m_type == ESE_PT_ERROR && value.m_value.m_err.m_source == ESE_ERR_SRC_INT &&
                        static_cast<ULONG>(value.m_value.m_err.m_code) == kTooLarge;
        if (IsPresentValue(value) || tooLarge)
            kept.push_back(listed[i]);
    }
    FreeEseValues(row.m_p_values, row.m_valueCount);
    CoTaskMemFree(listed);
    if (kept.empty())
        return;
    if (tags)
        *tags = CopyTags(kept);
    if (count)
        *count = static_cast<ULONG>(kept.size());
}

void CEsePropImpl::GetProperties(ULONG count, const ULONG* tags, ULONG* valueCount, _SEsePropertyValue** values)
{
    if (valueCount)
        *valueCount = 0;
    if (values)
        *values = nullptr;
    if (!valueCount || !values)
        ThrowServerError(kErrBadParameter, L"parameter pValueCount or ppValues is null");
    SetColumns(count, tags);
    _SEseRow row = {0, nullptr};
    GetRowValues(&row);
    *valueCount = row.m_valueCount;
    *values = row.m_p_values;
}

void CEsePropImpl::GetPropNamesFromTags(ULONG* tagCount, ULONG** tags, const GUID* propertySet, ULONG flags,
                                        ULONG* namesCount, _SEseNamedPropertyId** names)
{
    if (!namesCount)
        ThrowServerError(kErrBadParameter, L"parameter pPropNamesCount is null");
    *namesCount = 0;
    if (!names)
        ThrowServerError(kErrBadParameter, L"parameter ppPropNames is null");
    *names = nullptr;
    if (!tagCount)
        ThrowServerError(kErrBadParameter, L"parameter pTagCount is null");
    if (*tagCount != 0 && (!tags || !*tags))
        ThrowServerError(kErrBadParameter, L"parameter *pTagCount != 0 but ppTags is null");

    std::vector<SNamedRow> rows = ReadNamedProps(Context(), true);
    bool listGiven = *tagCount != 0;
    std::vector<const SNamedRow*> kept;
    for (const SNamedRow& row : rows) {
        if (!row.hasMappedId || !HasColumnWithId(row.mappedId))
            continue;
        if (listGiven) {
            bool listed = false;
            for (ULONG i = 0; i < *tagCount && !listed; ++i)
                listed = IdOf((*tags)[i]) == row.mappedId;
            if (!listed)
                continue;
        } else {
            bool anySet = !propertySet || IsZeroGuid(*propertySet);
            if (!anySet && !(row.hasGuid && IsEqualGUID(*propertySet, row.guid)))
                continue;
            if ((flags & kFlagNumericName) && !row.hasNumeric)
                continue;
            if ((flags & kFlagStringName) && !row.hasString)
                continue;
        }
        kept.push_back(&row);
    }

    // Without a list the kept rows make it. The caller owns the new array;
    // a caller that gave nowhere to put it gets the names only.
    ULONG* list = listGiven ? *tags : nullptr;
    ULONG count = listGiven ? *tagCount : static_cast<ULONG>(kept.size());
    bool ownList = false;
    if (!listGiven) {
        std::vector<ULONG> made;
        for (const SNamedRow* row : kept)
            made.push_back(static_cast<ULONG>(row->mappedId) << 16);
        list = CopyTags(made);
        *tagCount = count;
        if (tags)
            *tags = list;
        else
            ownList = true;
    }
    if (count == 0) {
        // Only a made list can be empty: nothing is handed out.
        CoTaskMemFree(list);
        if (tags)
            *tags = nullptr;
        return;
    }

    _SEseNamedPropertyId* made = TaskAllocArray<_SEseNamedPropertyId>(count);
    for (ULONG i = 0; i < count; ++i) {
        const SNamedRow* match = nullptr;
        for (const SNamedRow* row : kept) {
            if (row->mappedId == IdOf(list[i])) {
                match = row;
                break;
            }
        }
        _SEseNamedPropertyId& entry = made[i];
        if (match) {
            if (match->hasGuid) {
                entry.lpguid = TaskAllocArray<GUID>(1);
                *entry.lpguid = match->guid;
            }
            if (match->hasNumeric) {
                entry.ulKind = 0;
                entry.Kind.lID = match->numeric;
            }
            if (match->hasString) {
                entry.ulKind = 1;
                entry.Kind.lpwstrName = TaskAllocArray<wchar_t>(match->name.size() + 1);
                std::memcpy(entry.Kind.lpwstrName, match->name.c_str(), sizeof(wchar_t) * (match->name.size() + 1));
            }
        }
        if (!match || (entry.ulKind == 0 && entry.Kind.lID == 0))
            list[i] = (list[i] & 0xFFFF0000) | kTypeError;
    }
    if (ownList)
        CoTaskMemFree(list);
    *names = made;
    *namesCount = count;
}

void CEsePropImpl::GetTagsFromPropNames(ULONG namesCount, _SEseNamedPropertyId** names, ULONG* tagCount,
                                        ULONG** tags)
{
    if (namesCount != 0 && !names)
        ThrowServerError(kErrBadParameter, L"parameter propNamesCount != 0, but pPropNames is null");
    if (!tagCount)
        ThrowServerError(kErrBadParameter, L"parameter pTagCount is null");
    if (!tags)
        ThrowServerError(kErrBadParameter, L"parameter ppTags is null");
    if (namesCount == 0)
        GetNamedPropertyTags(tagCount, tags);
    else
        LookupNamedProperties(namesCount, names, tagCount, tags);
}

void CEsePropImpl::GetNamedPropertyTags(ULONG* tagCount, ULONG** tags)
{
    if (tagCount)
        *tagCount = 0;
    if (tags)
        *tags = nullptr;
    std::vector<SNamedRow> rows = ReadNamedProps(Context(), false);
    std::vector<ULONG> found;
    for (const SEseColumnRecord& column : Catalogue()) {
        USHORT id = IdOf(column.tag);
        if (id < kFirstNamedId)
            continue;
        for (const SNamedRow& row : rows) {
            if (row.hasMappedId && row.mappedId == id)
                found.push_back(static_cast<ULONG>(id) << 16);
        }
    }
    if (tagCount)
        *tagCount = static_cast<ULONG>(found.size());
    if (tags && !found.empty())
        *tags = CopyTags(found);
}

void CEsePropImpl::LookupNamedProperties(ULONG namesCount, _SEseNamedPropertyId** names, ULONG* tagCount,
                                         ULONG** tags)
{
    std::vector<SNamedRow> rows = ReadNamedProps(Context(), true);
    std::vector<ULONG> found(namesCount, kTypeError);
    for (ULONG i = 0; i < namesCount; ++i) {
        const _SEseNamedPropertyId* name = names[i];
        if (!name || (name->ulKind == 1 && !name->Kind.lpwstrName))
            continue;
        for (const SNamedRow& row : rows) {
            bool same = false;
            if (name->ulKind == 0)
                same = row.hasNumeric && row.numeric == name->Kind.lID;
            else if (name->ulKind == 1)
                same = row.hasString && row.name.size() == std::wcslen(name->Kind.lpwstrName) &&
                       _wcsicmp(row.name.c_str(), name->Kind.lpwstrName) == 0;
            if (!same || !SameGuid(name->lpguid, row))
                continue;
            if (row.hasMappedId && HasColumnWithId(row.mappedId))
                found[i] = static_cast<ULONG>(row.mappedId) << 16;
            break;
        }
    }
    *tagCount = namesCount;
    *tags = CopyTags(found);
}
