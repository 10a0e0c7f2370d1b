#include "ProviderPlatform.h"
#include "ComErrorRaise.h"

_com_error ComErrorFrom(HRESULT hr, IUnknown* object, REFIID iid)
{
    IErrorInfo* info = nullptr;
    ComPtr<ISupportErrorInfo> support;
    if (object && SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.GetAddressOf()))) &&
        support->InterfaceSupportsErrorInfo(iid) == S_OK) {
        if (GetErrorInfo(0, &info) != S_OK)
            info = nullptr;
    }
    return _com_error(hr, info); // takes the reference
}

void RaiseComError(HRESULT hr, IUnknown* object, REFIID iid)
{
    throw ComErrorFrom(hr, object, iid);
}
