#pragma once
// The wire form in which a server thread's COM error object travels back to
// the calling process.
//
// Windows returns the error object of a failing cross-process call in the
// reply; Wine 8 does not, so the client's GetErrorInfo would find nothing and
// no client could read the server's error numbers. On Wine the proxy/stub
// library of the contract, which every process that calls or serves the IEse
// interfaces loads, installs a channel hook that carries the object in an
// extent of its own in the reply (see the library's ErrorInfoBridge). This is
// the extent's content: the object's GUID, source, description and help
// fields, as Encode writes them and Decode rebuilds an equal object.
#include "Platform.h"

#include <vector>

namespace common {

class CErrorInfoChannel {
public:
    // {0E8B6F64-3C27-4F1D-9A5E-71B2C4D80A39}: the extent that carries the object.
    static const GUID kExtent;

    static std::vector<BYTE> Encode(IErrorInfo* errorInfo, size_t maxBytes);
    static HRESULT Decode(const void* data, ULONG size, DWORD dataRep, IErrorInfo** errorInfo);

    static constexpr size_t kMaxExtentBytes = 64 * 1024;
};

} // namespace common
