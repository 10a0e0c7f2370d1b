#include "ProviderPlatform.h"
#include "ResourceStrings.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<HINSTANCE> g_instance{nullptr};
std::atomic<HMODULE> g_resourceLibrary{nullptr};

const wchar_t kAddInKey[] = L"Software\\Microsoft\\Office\\Outlook\\AddIns\\KOLVEN32.Connect";
const LANGID kShippedLanguages[] = {1028, 1031, 1033, 1034, 1036, 1038, 1041, 1045, 1049};

struct StringEntry {
    const WCHAR* text = nullptr;
    int length = -1; // -1: no block holds the id
};

// One string block of a module in one language; the entries are walked
// within the block's size, so a damaged table never reads past its end.
StringEntry FindInModule(HMODULE module, UINT id, LANGID language)
{
    StringEntry entry;
    HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!block)
        return entry;
    HGLOBAL loaded = LoadResource(module, block);
    const WCHAR* p = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    if (!p)
        return entry;
    const WCHAR* end = p + SizeofResource(module, block) / sizeof(WCHAR);
    for (UINT i = 0; i < id % 16; ++i) {
        if (p >= end)
            return entry;
        p += 1 + *p;
    }
    if (p >= end)
        return entry;
    entry.length = std::min<int>(*p, static_cast<int>(end - p - 1));
    entry.text = p + 1;
    return entry;
}

StringEntry FindInModuleForLanguage(HMODULE module, UINT id, LANGID language)
{
    StringEntry entry = FindInModule(module, id, language);
    if (entry.length < 0 && language != kFallbackLanguage)
        entry = FindInModule(module, id, kFallbackLanguage);
    return entry;
}

StringEntry FindEntry(UINT id)
{
    const LANGID language = LoadUiLanguage();
    if (HMODULE library = g_resourceLibrary.load()) {
        StringEntry entry = FindInModuleForLanguage(library, id, language);
        // A resource library that lacks a block (an older translation) leaves
        // the text to the own table rather than showing nothing.
        if (entry.length >= 0)
            return entry;
    }
    return FindInModuleForLanguage(g_instance.load(), id, language);
}

} // namespace

void SetResourceInstance(HINSTANCE instance) { g_instance = instance; }
HINSTANCE GetResourceInstance() { return g_instance; }

HMODULE LoadResourceLibrary()
{
    HMODULE library = LoadLibraryW(L"pelmrix.dll");
    g_resourceLibrary = library;
    return library;
}

void SetResourceLibrary(HMODULE library) { g_resourceLibrary = library; }
HMODULE GetResourceLibrary() { return g_resourceLibrary; }

LANGID LoadUiLanguage()
{
    LANGID language = SetThreadUILanguage(0);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAddInKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return language;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key, L"LangID", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(value)) {
        const LANGID* end = std::end(kShippedLanguages);
        language = std::find(std::begin(kShippedLanguages), end, value) != end ? static_cast<LANGID>(value)
                                                                               : SetThreadUILanguage(0);
    }
    RegCloseKey(key);
    return language;
}

int FindResString(UINT id, LPWSTR buffer, int size)
{
    StringEntry entry = FindEntry(id);
    if (entry.length < 0)
        return 0;
    if (size == 0)
        return entry.length;
    if (!buffer || size < 0)
        return 0;
    const int copied = std::min(size - 1, entry.length);
    std::memcpy(buffer, entry.text, copied * sizeof(WCHAR));
    buffer[copied] = L'\0';
    return copied & 0xFFFF;
}

std::wstring LoadResString(UINT id)
{
    std::wstring text;
    LoadResStdString(id, text);
    return text;
}

void LoadResStdString(UINT id, std::wstring& text)
{
    text.clear();
    const int length = FindResString(id, nullptr, 0);
    if (length <= 0)
        return;
    text.resize(length + 1);
    const int copied = FindResString(id, &text[0], length + 1);
    // The block may have changed between the two lookups (another library).
    text.resize(std::max(0, std::min(copied, length)));
    text.resize(wcslen(text.c_str()));
}

void LoadResBstr(UINT id, _bstr_t& text)
{
    text = LoadResString(id).c_str();
}
