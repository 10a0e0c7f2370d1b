// The SDK headers the provider library builds on, after the shared platform
// settings: MAPI (memory, properties, entry-id wrapping), the shell's folder
// lookup and the compiler's COM support classes (_com_error, _bstr_t).
#pragma once
#include "Platform.h"

#include <mapidefs.h>
#include <mapicode.h>
#include <mapitags.h>
#include <mapix.h>
#include <mapiutil.h>
#include <shlobj.h>
#include <comdef.h>
