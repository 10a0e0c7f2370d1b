#include "ProviderPlatform.h"
#include "ServerErrorDescription.h"

#include <cwchar>

bool ParseServerErrorDescription(const _com_error& error, ULONG& code, ULONG& source, ULONG& sourceCode,
                                 std::wstring& text)
{
    const _bstr_t description = error.Description();
    return ParseServerErrorDescription(static_cast<const wchar_t*>(description), code, source, sourceCode, text);
}

bool ParseServerErrorDescription(const wchar_t* description, ULONG& code, ULONG& source, ULONG& sourceCode,
                                 std::wstring& text)
{
    if (!description)
        return false;
    unsigned int numbers[3] = {};
    if (swscanf(description, L"%x %x %x", &numbers[0], &numbers[1], &numbers[2]) != 3)
        return false;
    const wchar_t* blank = description;
    for (int i = 0; i < 3; ++i) {
        blank = wcschr(i == 0 ? blank : blank + 1, L' ');
        if (!blank)
            return false;
    }
    code = numbers[0];
    source = numbers[1];
    sourceCode = numbers[2];
    text = blank + 1;
    return true;
}
