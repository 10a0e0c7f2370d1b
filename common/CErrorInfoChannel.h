#pragma once
// Carries a server thread's COM error object back to the calling process.
//
// Windows returns the error object of a failing cross-process call in the
// reply; Wine 8 does not, so the client's GetErrorInfo would find nothing and
// the provider could not read the server's error numbers. On Wine, both
// processes install a channel hook: after a method ran, the server side takes
// the thread's error object (GetErrorInfo, which clears it) and writes its
// GUID, source, description and help fields into an extent of our own in the
// reply; the client side rebuilds an equal object on the calling thread. A
// reply without the extent leaves the client's error object alone. On Windows
// Install does nothing and COM's own transport is used.
//
// The hook cannot be removed once registered: install it once per process,
// after COM is initialised and before the first call crosses.
#include "Platform.h"

#include <vector>

namespace common {

class CErrorInfoChannel {
public:
    // Registers the hook when running on Wine (S_FALSE elsewhere).
    static HRESULT Install();

    // The wire form of an error object, exposed for tests.
    static std::vector<BYTE> Encode(IErrorInfo* errorInfo, size_t maxBytes);
    static HRESULT Decode(const void* data, ULONG size, DWORD dataRep, IErrorInfo** errorInfo);

    static constexpr size_t kMaxExtentBytes = 64 * 1024;
};

} // namespace common
