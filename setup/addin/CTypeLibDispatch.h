#pragma once
// IDispatch of one or more dual interfaces, written once over a type library:
// names and calls go through the type information of the first interface
// (DispGetIDsOfNames, DispInvoke), which calls the object's vtable. The type
// information is loaded on first use and kept by the object. The other dual
// interfaces listed share the same four members (their IDispatch slots).
//
// A type library source is a type with a static Load(ITypeLib**).
#include "Platform.h"
#include "CAggregatableUnknownImpl.h"

#include <oaidl.h>

namespace setup {

// The library's own type library (TYPELIB resource 1 of the module).
struct SModuleTypeLibrary {
    static HRESULT Load(ITypeLib** library);
};

// A type library registered under its LIBID and version.
template <const GUID& Libid, WORD Major, WORD Minor>
struct SRegisteredTypeLibrary {
    static HRESULT Load(ITypeLib** library) { return LoadRegTypeLib(Libid, Major, Minor, LOCALE_NEUTRAL, library); }
};

template <typename Source, typename Primary, typename... Others>
class CTypeLibDispatch : public Primary, public Others... {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        ComPtr<ITypeInfo> info;
        *count = SUCCEEDED(TypeInfo(&info)) ? 1 : 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        ComPtr<ITypeInfo> found;
        HRESULT hr = TypeInfo(&found);
        if (SUCCEEDED(hr))
            *info = found.Detach();
        return hr;
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!IsEqualIID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ComPtr<ITypeInfo> info;
        HRESULT hr = TypeInfo(&info);
        if (FAILED(hr))
            return hr;
        return DispGetIDsOfNames(info.Get(), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override
    {
        if (!IsEqualIID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ComPtr<ITypeInfo> info;
        HRESULT hr = TypeInfo(&info);
        if (FAILED(hr))
            return hr;
        return DispInvoke(static_cast<Primary*>(this), info.Get(), id, flags, params, result, exception, argError);
    }

protected:
    CTypeLibDispatch() = default;
    ~CTypeLibDispatch() = default;

    HRESULT TypeInfo(ComPtr<ITypeInfo>* info)
    {
        if (!m_typeInfo) {
            ComPtr<ITypeLib> library;
            HRESULT hr = Source::Load(library.GetAddressOf());
            if (SUCCEEDED(hr))
                hr = library->GetTypeInfoOfGuid(__uuidof(Primary), m_typeInfo.ReleaseAndGetAddressOf());
            if (FAILED(hr))
                return hr;
        }
        *info = m_typeInfo;
        return S_OK;
    }

private:
    ComPtr<ITypeInfo> m_typeInfo;
};

} // namespace setup

namespace common {
template <typename Source, typename Primary, typename... Others>
struct ServedInterfaces<setup::CTypeLibDispatch<Source, Primary, Others...>> {
    using Type = InterfaceList<Primary, Others...>;
};
} // namespace common

// A dispatch base over one interface also fits CUnknownImpl's interface list:
// it answers for that interface and, through it, for IDispatch.
namespace common {
template <typename Source, typename Primary>
struct InterfaceIid<setup::CTypeLibDispatch<Source, Primary>> {
    static const IID& Get() { return __uuidof(Primary); }
};
template <typename Source, typename Primary>
struct InterfaceBase<setup::CTypeLibDispatch<Source, Primary>> {
    using Type = IDispatch;
};
} // namespace common
