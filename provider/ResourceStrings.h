// User-visible texts by string id: first from the resource library (the
// translated, branded texts), else from the provider library's own English
// table, in the language chosen for the Outlook add-in. Nothing is cached:
// the language and the string block are looked up again for every text.
#pragma once
#include "ProviderPlatform.h"

#include <string>

// String ids the provider itself uses (the wizard's and the archive layer's
// own ids are named where they are shown).
constexpr UINT kIdsUnexpectedError = 364;  // frames an unexpected COM error, "%s" takes the detail
constexpr UINT kIdsComponentName = 386;    // component and display name of the provider and store
constexpr UINT kIdsDataFolderVendor = 387; // first folder level of the data directory
constexpr UINT kIdsDataFolderProduct = 388; // second folder level of the data directory

// The language lookups fall back to when the chosen one has no block.
constexpr LANGID kFallbackLanguage = 1033;

// The provider library's own module handle, set by the module at load; 0
// until then, which makes lookups search the process's executable.
void SetResourceInstance(HINSTANCE instance);
HINSTANCE GetResourceInstance();

// The resource library: LoadResourceLibrary() loads "pelmrix.dll" once at
// library load and keeps the handle (never freed; null when absent).
// SetResourceLibrary replaces it (tests, or null to use the own table only).
HMODULE LoadResourceLibrary();
void SetResourceLibrary(HMODULE library);
HMODULE GetResourceLibrary();

// The add-in's "LangID" when it is a REG_DWORD naming one of the languages
// the product ships; otherwise the thread's UI language.
LANGID LoadUiLanguage();

// Copies string id into buffer (size units). With size 0 returns the text's
// length; with a null buffer 0; otherwise the number of units copied, always
// terminated. 0 when no block holds the id.
int FindResString(UINT id, LPWSTR buffer, int size);

// The whole text of a string id; empty when it is missing.
std::wstring LoadResString(UINT id);
void LoadResStdString(UINT id, std::wstring& text);
void LoadResBstr(UINT id, _bstr_t& text);
