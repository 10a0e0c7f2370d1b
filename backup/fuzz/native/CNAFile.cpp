// The root file object for the native fuzzer: its descriptor and handle are
// never set in this system, so there is nothing to close and no positional
// read through them.
#include "CNAFile.h"

CNAFile::~CNAFile() = default;

int CNAFile::ReadAt(void*, uint32_t, uint64_t)
{
    return -1;
}
