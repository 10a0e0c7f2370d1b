// Owners of what the database server hands out in COM task memory: value
// arrays (GetProperties), row sets (GetRows), tag arrays (GetPropertyTags,
// GetColumns) and raw bytes (GetProperty). Each frees its block however the
// call that filled it ends; none is copied (a copy would free twice).
#pragma once
#include "ProviderPlatform.h"
#include "EseValueMemory.h"
#include "Vostrel2007.h"

class CServerValues {
public:
    CServerValues() = default;
    ~CServerValues() { FreeEseValues(values, count); }
    CServerValues(const CServerValues&) = delete;
    CServerValues& operator=(const CServerValues&) = delete;

    // The i-th value, or null when the server handed out fewer.
    const _SEsePropertyValue* At(ULONG i) const { return values && i < count ? &values[i] : nullptr; }

    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
};

class CServerRows {
public:
    CServerRows() = default;
    ~CServerRows() { FreeEseRows(rows, count); }
    CServerRows(const CServerRows&) = delete;
    CServerRows& operator=(const CServerRows&) = delete;
    ULONG count = 0;
    _SEseRow* rows = nullptr;
};

class CServerTags {
public:
    CServerTags() = default;
    ~CServerTags() { CoTaskMemFree(tags); }
    CServerTags(const CServerTags&) = delete;
    CServerTags& operator=(const CServerTags&) = delete;
    ULONG count = 0;
    ULONG* tags = nullptr;
};

class CServerBytes {
public:
    CServerBytes() = default;
    ~CServerBytes() { CoTaskMemFree(bytes); }
    CServerBytes(const CServerBytes&) = delete;
    CServerBytes& operator=(const CServerBytes&) = delete;
    ULONG count = 0;
    BYTE* bytes = nullptr;
};

// Whether a server value holds a value: its type is neither PT_ERROR nor
// PT_NULL.
inline bool IsUsableServerValue(const _SEsePropertyValue& value)
{
    const ULONG type = PROP_TYPE(value.m_tag);
    return type != PT_ERROR && type != PT_NULL;
}
