#include "ProviderPlatform.h"
#include "MessageBodies.h"

#include <cwchar>

bool IsBodyTag(ULONG tag)
{
    return tag == kPrBodyW || tag == kPrRtfCompressed || tag == kPrHtml;
}

bool IsTooLargeServerValue(const _SEsePropertyValue& value)
{
    return PROP_TYPE(value.m_tag) == PT_ERROR && value.m_type == ESE_PT_ERROR &&
           value.m_value.m_err.m_code == E_OUTOFMEMORY;
}

bool IsPresentServerValue(const _SEsePropertyValue& value)
{
    const ULONG type = PROP_TYPE(value.m_tag);
    if (type == PT_ERROR)
        return IsTooLargeServerValue(value);
    return type != PT_NULL;
}

bool IsUnicodeText(const void* bytes, ULONG size)
{
    if (!bytes || size == 0)
        return false;
    return IsTextUnicode(bytes, static_cast<int>(size), nullptr) != FALSE;
}

std::wstring WideFromAnsi(const void* bytes, ULONG size)
{
    const char* text = static_cast<const char*>(bytes);
    if (!text)
        return std::wstring();
    while (size > 0 && text[size - 1] == '\0')
        --size;
    if (size == 0)
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), &wide[0], length);
    return wide;
}

ULONG WideByteCount(const wchar_t* text)
{
    return text ? static_cast<ULONG>(std::wcslen(text) * sizeof(wchar_t)) : 0;
}
