#include "Platform.h"
#include "objects/ComputedValues.h"
#include "EseValueMemory.h"
#include "objects/RootAliasMaps.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

constexpr USHORT kIdSubjectPrefix = 0x003D;
constexpr USHORT kIdNormalizedSubject = 0x0E1D;
constexpr USHORT kIdSubject = 0x0037;
constexpr USHORT kIdSenderName = 0x0042;
constexpr USHORT kIdSenderAddressType = 0x0064;
constexpr USHORT kIdSenderEmailAddress = 0x0065;
constexpr USHORT kIdSenderSmtpAddress = 0x4031;
constexpr USHORT kIdSentRepresentingName = 0x0C1A;
constexpr USHORT kIdSentRepresentingAddressType = 0x0C1E;
constexpr USHORT kIdSentRepresentingAddress = 0x0C1F;
// The binary sender entries, tried in this order for the name.
constexpr USHORT kIdSenderEntries[] = {0x67B6, 0x67B5, 0x67BD};
constexpr USHORT kIdFolderId = 0x6748;
constexpr USHORT kIdParentFolderId = 0x6749;

constexpr ULONG kTagSubject = 0x0037001F;

constexpr USHORT kLongEntryFlag = 0x8000;
constexpr BYTE kSmtpEntryFlag = 0x10;

USHORT IdOf(ULONG tag) { return static_cast<USHORT>(tag >> 16); }
ULONG TagOf(USHORT id, USHORT type) { return (static_cast<ULONG>(id) << 16) | type; }

bool IsBinaryWithData(const _SEsePropertyValue* value)
{
    return value && value->m_type == ESE_PT_BINARY && value->m_value.m_bin.m_count > 0 &&
           value->m_value.m_bin.m_p_bt;
}

USHORT FirstWord(const BYTE* entry) { return static_cast<USHORT>(entry[0] | (entry[1] << 8)); }

void CopyIfEmpty(ULONG count, _SEsePropertyValue* values, USHORT targetId, USHORT sourceId)
{
    _SEsePropertyValue* target = FindValueById(count, values, targetId);
    if (!target || IsNonEmptyString(target))
        return;
    const _SEsePropertyValue* source = FindValueById(count, values, sourceId);
    if (!IsNonEmptyString(source))
        return;
    // The source's text is copied before the target's memory goes: the two
    // are different values, but a copy keeps that independent of the row.
    std::wstring text = source->m_value.m_p_ws;
    SetStringValue(*target, TagOf(targetId, 0x001F), text.c_str());
}

void AliasFolderIdOf(ULONG count, _SEsePropertyValue* values, USHORT id)
{
    // Only a real id is looked up; an absent or null column holds an error
    // payload, which is no folder id.
    _SEsePropertyValue* value = FindValueById(count, values, id);
    if (!value || value->m_type != ESE_PT_INT64)
        return;
    int64_t root = 0;
    if (FindRootAlias(value->m_value.m_i64, &root))
        value->m_value.m_i64 = root;
}

} // namespace

_SEsePropertyValue* FindValueById(ULONG count, _SEsePropertyValue* values, USHORT id)
{
    for (ULONG i = 0; values && i < count; ++i) {
        if (IdOf(values[i].m_tag) == id)
            return &values[i];
    }
    return nullptr;
}

bool IsNonEmptyString(const _SEsePropertyValue* value)
{
    return value && value->m_type == ESE_PT_STRING16 && value->m_value.m_p_ws && value->m_value.m_p_ws[0] != L'\0';
}

void SetStringValue(_SEsePropertyValue& value, ULONG tag, const wchar_t* text)
{
    size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (!copy)
        return;
    std::memcpy(copy, text, bytes);
    FreeEseValueContents(value);
    value.m_tag = tag;
    value.m_type = ESE_PT_STRING16;
    value.m_value.m_p_ws = copy;
}

std::wstring SenderEntryName(const BYTE* entry, ULONG size)
{
    if (!entry || size < 2)
        return std::wstring();
    ULONG lengthAt = (FirstWord(entry) & kLongEntryFlag) ? 4 : 2;
    if (size <= lengthAt)
        return std::wstring();
    ULONG length = entry[lengthAt];
    ULONG start = lengthAt + 1;
    if (length == 0 || start + length > size)
        return std::wstring();
    const BYTE* name = entry + start;
    const void* zero = std::memchr(name, 0, size - start);
    if (!zero)
        return std::wstring();
    ULONG zeroAt = static_cast<ULONG>(static_cast<const BYTE*>(zero) - name);
    if (zeroAt == length - 1) {
        if (length == 1)
            return std::wstring();
        int chars = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(name), static_cast<int>(length - 1),
                                        nullptr, 0);
        if (chars <= 0)
            return std::wstring();
        std::wstring text(static_cast<size_t>(chars), L'\0');
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(name), static_cast<int>(length - 1), &text[0],
                            chars);
        return text;
    }
    // UTF-16: whole units only, up to the first zero unit; the entry gives no
    // alignment, so units are assembled byte by byte.
    std::wstring text;
    for (ULONG i = 0; i + 1 < length; i += 2) {
        wchar_t unit = static_cast<wchar_t>(name[i] | (name[i + 1] << 8));
        if (unit == L'\0')
            break;
        text.push_back(unit);
    }
    return text;
}

const wchar_t* SenderAddressType(const BYTE* entry, ULONG size)
{
    // An entry too short to hold the flags is no SMTP entry.
    bool smtp = entry && size > 2 && (FirstWord(entry) & kLongEntryFlag) && (entry[2] & kSmtpEntryFlag);
    return smtp ? L"SMTP" : L"EX";
}

void ComputeSubject(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    std::wstring text;
    for (USHORT id : {kIdSubjectPrefix, kIdNormalizedSubject}) {
        const _SEsePropertyValue* part = FindValueById(count, values, id);
        if (part && part->m_type == ESE_PT_STRING16 && part->m_value.m_p_ws)
            text += part->m_value.m_p_ws;
    }
    _SEsePropertyValue* target = FindValueById(count, values, kIdSubject);
    if (target && !text.empty())
        SetStringValue(*target, kTagSubject, text.c_str());
}

void ComputeSenderName(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    _SEsePropertyValue* target = FindValueById(count, values, kIdSenderName);
    if (!target || IsNonEmptyString(target))
        return;
    const _SEsePropertyValue* entry = nullptr;
    for (USHORT id : kIdSenderEntries) {
        entry = FindValueById(count, values, id);
        if (IsBinaryWithData(entry))
            break;
        entry = nullptr;
    }
    if (!entry)
        return;
    std::wstring name = SenderEntryName(entry->m_value.m_bin.m_p_bt, entry->m_value.m_bin.m_count);
    if (!name.empty())
        SetStringValue(*target, TagOf(kIdSenderName, 0x001F), name.c_str());
}

void ComputeSenderAddressType(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    _SEsePropertyValue* target = FindValueById(count, values, kIdSenderAddressType);
    if (!target || IsNonEmptyString(target))
        return;
    const _SEsePropertyValue* entry = FindValueById(count, values, kIdSenderEntries[0]);
    if (!IsBinaryWithData(entry))
        return;
    SetStringValue(*target, TagOf(kIdSenderAddressType, 0x001F),
                   SenderAddressType(entry->m_value.m_bin.m_p_bt, entry->m_value.m_bin.m_count));
}

void CopySenderEmailAddress(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    CopyIfEmpty(count, values, kIdSenderEmailAddress, kIdSenderSmtpAddress);
}

void CopySentRepresentingName(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    CopyIfEmpty(count, values, kIdSentRepresentingName, kIdSenderName);
}

void CopySentRepresentingAddress(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    CopyIfEmpty(count, values, kIdSentRepresentingAddress, kIdSenderEmailAddress);
}

void CopySentRepresentingAddressType(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    CopyIfEmpty(count, values, kIdSentRepresentingAddressType, kIdSenderAddressType);
}

void AliasParentFolderId(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    AliasFolderIdOf(count, values, kIdParentFolderId);
}

void AliasMessageFolderId(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    AliasFolderIdOf(count, values, kIdFolderId);
}

template <unsigned index>
void ShowRootCounter(ULONG count, _SEsePropertyValue* values, const ContextRef&)
{
    static_assert(index < kRootCounterCount, "nine counters");
    const _SEsePropertyValue* folder = FindValueById(count, values, kIdFolderId);
    if (!folder || folder->m_type != ESE_PT_INT64)
        return;
    const SRootCounters* counters = FindRootCounters(folder->m_value.m_i64);
    if (!counters)
        return;
    _SEsePropertyValue* target = FindValueById(count, values, IdOf(kRootCounterTags[index]));
    if (!target)
        return;
    // The root's own column may be null or absent; the row still shows the
    // alias folder's count, as a proper 32-bit value.
    if (target->m_type != ESE_PT_INT32) {
        FreeEseValueContents(*target);
        target->m_tag = kRootCounterTags[index];
        target->m_type = ESE_PT_INT32;
    }
    target->m_value.m_i32 = static_cast<long>(counters->values[index]);
}

template void ShowRootCounter<0>(ULONG, _SEsePropertyValue*, const ContextRef&);
template void ShowRootCounter<1>(ULONG, _SEsePropertyValue*, const ContextRef&);
template void ShowRootCounter<2>(ULONG, _SEsePropertyValue*, const ContextRef&);
template void ShowRootCounter<3>(ULONG, _SEsePropertyValue*, const ContextRef&);
template void ShowRootCounter<4>(ULONG, _SEsePropertyValue*, const ContextRef&);
template void ShowRootCounter<5>(ULONG, _SEsePropertyValue*, const ContextRef&);
template void ShowRootCounter<6>(ULONG, _SEsePropertyValue*, const ContextRef&);
template void ShowRootCounter<7>(ULONG, _SEsePropertyValue*, const ContextRef&);
template void ShowRootCounter<8>(ULONG, _SEsePropertyValue*, const ContextRef&);
