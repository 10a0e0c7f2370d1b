#pragma once
// ISupportErrorInfo for an object whose errors are reported under the IID of
// its own interface I: S_OK for that IID, S_FALSE for any other.
#include "Platform.h"
#include "CUnknownImpl.h"

namespace common {

template <typename I>
class CSupportErrorInfoFor : public ISupportErrorInfo {
public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return IsEqualIID(riid, __uuidof(I)) ? S_OK : S_FALSE;
    }
};

template <typename I>
struct InterfaceIid<CSupportErrorInfoFor<I>> {
    static const IID& Get() { return IID_ISupportErrorInfo; }
};

} // namespace common
