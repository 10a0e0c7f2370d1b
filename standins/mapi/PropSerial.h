#pragma once
// One property value as bytes, for what the library keeps outside memory
// (profile sections in the registry, writable stores in files): fixed-size
// types keep their union bytes, strings their characters with the
// terminator, binaries and GUIDs their bytes, multi-valued ones a count and
// per element a 4-byte length and the element's bytes.
#include "MapiStandin.h"

#include <vector>

namespace mapistub {

std::vector<BYTE> SerialiseValue(const SPropValue& value);
// Rebuilds the value with its pieces allocated under root (MAPIAllocateMore);
// false for malformed bytes.
bool DeserialiseValue(ULONG tag, const std::vector<BYTE>& bytes, SPropValue& value, void* root);

} // namespace mapistub
