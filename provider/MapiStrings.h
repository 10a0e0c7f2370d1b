// Wide strings handed out inside MAPI buffers.
#pragma once
#include "ProviderPlatform.h"

// Copies text into a block chained to parent (MAPIAllocateMore), so the
// caller's one MAPIFreeBuffer of the parent frees it. *out is null unless
// the copy succeeded; a null text gives a null copy and S_OK.
HRESULT MapiDupString(const wchar_t* text, LPVOID parent, LPWSTR* out);
