// The SDK headers the search library builds on: the provider's (MAPI, COM
// support) plus the IFilter interface and RichEdit.
#pragma once
#include "ProviderPlatform.h"

#include <filter.h>
#include <filterr.h>
#include <richedit.h>
