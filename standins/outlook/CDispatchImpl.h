#pragma once
// IDispatch for the host's dual interfaces, written once over a table per
// interface (DispatchTables.cpp). Each table row names a dispatch identifier,
// the member's name, whether it is a method, a getter or a setter, and a
// handler that unpacks the arguments and calls the member through the vtable,
// so late-bound callers reach exactly the code vtable callers reach.
//
// CDispatchImpl<Derived, I> implements IDispatch's four methods for interface
// I; CAccessibleDispatchImpl<Derived, I> adds IAccessible's members (which
// Office's command-bar objects carry and the host does not serve) for I
// derived from IAccessible.
#include "Platform.h"
#include "CUnknownImpl.h"
#include "OutlookObjectModel.h"

#include <cwchar>
#include <type_traits>

namespace olhost {

// The arguments and result of one Invoke. Positional argument 0 is the first
// argument of the call (DISPPARAMS holds them in reverse order).
class CDispArgs {
public:
    CDispArgs(DISPPARAMS* params, VARIANT* result) : m_params(params), m_result(result) {}

    // The argument, or a missing-argument marker (VT_ERROR, DISP_E_PARAMNOTFOUND).
    VARIANT Optional(UINT index) const;
    // The argument coerced to vt into *out (which the caller clears);
    // DISP_E_BADPARAMCOUNT when it is missing, DISP_E_TYPEMISMATCH when it
    // does not convert.
    HRESULT Required(UINT index, VARTYPE vt, VARIANT* out) const;
    // The value of a property put (the named DISPID_PROPERTYPUT argument).
    HRESULT PutValue(VARTYPE vt, VARIANT* out) const;

    void SetResult(BSTR value);
    void SetResult(VARIANT_BOOL value);
    void SetResult(long value);
    void SetResult(int value) { SetResult(static_cast<long>(value)); }
    void SetResult(IUnknown* value, bool isDispatch);
    template <typename I>
    void SetResult(I* value)
    {
        SetResult(static_cast<IUnknown*>(value), std::is_base_of_v<IDispatch, I>);
    }

    // Hands out a method's result when the method succeeded. The value is
    // taken by reference: it is read after the call that fills it.
    template <typename T>
    HRESULT Return(HRESULT hr, T& value)
    {
        if (SUCCEEDED(hr))
            SetResult(value);
        return hr;
    }

    // Calls a getter and hands its value out as the result.
    template <typename I, typename C, typename R>
    HRESULT Get(I* self, HRESULT (STDMETHODCALLTYPE C::*getter)(R*))
    {
        R value{};
        HRESULT hr = (static_cast<C*>(self)->*getter)(&value);
        if (SUCCEEDED(hr))
            SetResult(value);
        return hr;
    }
    // Calls a setter with the put value converted to the setter's type.
    template <typename I, typename C, typename A>
    HRESULT Put(I* self, HRESULT (STDMETHODCALLTYPE C::*setter)(A))
    {
        VARIANT value;
        VariantInit(&value);
        HRESULT hr = PutValue(VarTypeOf<A>(), &value);
        if (SUCCEEDED(hr))
            hr = (static_cast<C*>(self)->*setter)(ValueOf<A>(value));
        VariantClear(&value);
        return hr;
    }

    template <typename A>
    static constexpr VARTYPE VarTypeOf()
    {
        if constexpr (std::is_same_v<A, BSTR>)
            return VT_BSTR;
        else if constexpr (std::is_same_v<A, VARIANT_BOOL>)
            return VT_BOOL;
        else if constexpr (std::is_same_v<A, IPictureDisp*>)
            return VT_DISPATCH;
        else
            return VT_I4;
    }
    template <typename A>
    static A ValueOf(const VARIANT& value)
    {
        if constexpr (std::is_same_v<A, BSTR>)
            return value.bstrVal;
        else if constexpr (std::is_same_v<A, VARIANT_BOOL>)
            return value.boolVal;
        else if constexpr (std::is_same_v<A, IPictureDisp*>)
            return static_cast<IPictureDisp*>(value.pdispVal);
        else
            return static_cast<A>(value.lVal);
    }

private:
    DISPPARAMS* m_params;
    VARIANT* m_result;
};

template <typename I>
struct DispMember {
    DISPID id;
    const wchar_t* name;
    WORD kind; // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
    HRESULT (*invoke)(I* self, CDispArgs& args);
};

template <typename I>
struct DispTable {
    const DispMember<I>* members;
    size_t count;
};

// The table of each interface the host serves (DispatchTables.cpp).
DispTable<outlook::_Application> DispatchTableOf(outlook::_Application*);
DispTable<outlook::_NameSpace> DispatchTableOf(outlook::_NameSpace*);
DispTable<outlook::_Folders> DispatchTableOf(outlook::_Folders*);
DispTable<outlook::MAPIFolder> DispatchTableOf(outlook::MAPIFolder*);
DispTable<outlook::_Explorer> DispatchTableOf(outlook::_Explorer*);
DispTable<outlook::PropertyPages> DispatchTableOf(outlook::PropertyPages*);
DispTable<outlook::PropertyPageSite> DispatchTableOf(outlook::PropertyPageSite*);
DispTable<office::_CommandBars> DispatchTableOf(office::_CommandBars*);
DispTable<office::CommandBar> DispatchTableOf(office::CommandBar*);
DispTable<office::CommandBarControls> DispatchTableOf(office::CommandBarControls*);
DispTable<office::_CommandBarButton> DispatchTableOf(office::_CommandBarButton*);
// Objects that answer no member by name (the add-in's COMAddIn object).
DispTable<IDispatch> DispatchTableOf(IDispatch*);

template <typename I>
HRESULT InvokeThroughTable(I* self, DispTable<I> table, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result)
{
    if (!params)
        return E_INVALIDARG;
    for (size_t i = 0; i < table.count; ++i) {
        const DispMember<I>& member = table.members[i];
        if (member.id != id || !(member.kind & flags))
            continue;
        if (result)
            VariantInit(result);
        CDispArgs args(params, result);
        return member.invoke(self, args);
    }
    return DISP_E_MEMBERNOTFOUND;
}

template <typename I>
HRESULT IdsOfNamesThroughTable(DispTable<I> table, LPOLESTR* names, UINT count, DISPID* ids)
{
    if (!names || !ids)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT n = 0; n < count; ++n) {
        ids[n] = DISPID_UNKNOWN;
        if (n == 0) {
            for (size_t i = 0; i < table.count; ++i) {
                if (_wcsicmp(table.members[i].name, names[0]) == 0) {
                    ids[0] = table.members[i].id;
                    break;
                }
            }
        }
        if (ids[n] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

// IDispatch over the table of interface I. There is no type information.
template <typename Derived, typename I>
class CDispatchImpl : public I {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return IdsOfNamesThroughTable(DispatchTableOf(static_cast<I*>(nullptr)), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override
    {
        if (!IsEqualIID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        I* self = static_cast<I*>(static_cast<Derived*>(this));
        return InvokeThroughTable(self, DispatchTableOf(self), id, flags, params, result);
    }
};

// IAccessible's members, which the host's command-bar objects do not serve.
template <typename Derived, typename I>
class CAccessibleDispatchImpl : public CDispatchImpl<Derived, I> {
public:
    STDMETHODIMP get_accParent(IDispatch** p) override { return NotServed(p); }
    STDMETHODIMP get_accChildCount(long* p) override { return NotServed(p); }
    STDMETHODIMP get_accChild(VARIANT, IDispatch** p) override { return NotServed(p); }
    STDMETHODIMP get_accName(VARIANT, BSTR* p) override { return NotServed(p); }
    STDMETHODIMP get_accValue(VARIANT, BSTR* p) override { return NotServed(p); }
    STDMETHODIMP get_accDescription(VARIANT, BSTR* p) override { return NotServed(p); }
    STDMETHODIMP get_accRole(VARIANT, VARIANT* p) override { return NotServedVariant(p); }
    STDMETHODIMP get_accState(VARIANT, VARIANT* p) override { return NotServedVariant(p); }
    STDMETHODIMP get_accHelp(VARIANT, BSTR* p) override { return NotServed(p); }
    STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT, long* p) override
    {
        NotServed(file);
        return NotServed(p);
    }
    STDMETHODIMP get_accKeyboardShortcut(VARIANT, BSTR* p) override { return NotServed(p); }
    STDMETHODIMP get_accFocus(VARIANT* p) override { return NotServedVariant(p); }
    STDMETHODIMP get_accSelection(VARIANT* p) override { return NotServedVariant(p); }
    STDMETHODIMP get_accDefaultAction(VARIANT, BSTR* p) override { return NotServed(p); }
    STDMETHODIMP accSelect(long, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP accLocation(long*, long*, long*, long*, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP accNavigate(long, VARIANT, VARIANT* p) override { return NotServedVariant(p); }
    STDMETHODIMP accHitTest(long, long, VARIANT* p) override { return NotServedVariant(p); }
    STDMETHODIMP accDoDefaultAction(VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    template <typename T>
    static HRESULT NotServed(T* out)
    {
        if (out)
            *out = T{};
        return E_NOTIMPL;
    }
    static HRESULT NotServedVariant(VARIANT* out)
    {
        if (out)
            VariantInit(out);
        return E_NOTIMPL;
    }
};

} // namespace olhost

namespace common {
template <typename D, typename I>
struct InterfaceIid<olhost::CDispatchImpl<D, I>> {
    static const IID& Get() { return __uuidof(I); }
};
template <typename D, typename I>
struct InterfaceBase<olhost::CDispatchImpl<D, I>> {
    using Type = typename InterfaceBase<I>::Type;
};
template <typename D, typename I>
struct InterfaceIid<olhost::CAccessibleDispatchImpl<D, I>> {
    static const IID& Get() { return __uuidof(I); }
};
template <typename D, typename I>
struct InterfaceBase<olhost::CAccessibleDispatchImpl<D, I>> {
    using Type = typename InterfaceBase<I>::Type;
};

// The interface chains of the dual interfaces, for QueryInterface.
template <> struct InterfaceBase<outlook::_Application> { using Type = IDispatch; };
template <> struct InterfaceBase<outlook::_NameSpace> { using Type = IDispatch; };
template <> struct InterfaceBase<outlook::_Folders> { using Type = IDispatch; };
template <> struct InterfaceBase<outlook::MAPIFolder> { using Type = IDispatch; };
template <> struct InterfaceBase<outlook::_Explorer> { using Type = IDispatch; };
template <> struct InterfaceBase<outlook::PropertyPages> { using Type = IDispatch; };
template <> struct InterfaceBase<outlook::PropertyPageSite> { using Type = IDispatch; };
template <> struct InterfaceBase<IAccessible> { using Type = IDispatch; };
template <> struct InterfaceBase<office::_IMsoDispObj> { using Type = IDispatch; };
template <> struct InterfaceBase<office::_IMsoOleAccDispObj> { using Type = IAccessible; };
template <> struct InterfaceBase<office::_CommandBars> { using Type = office::_IMsoDispObj; };
template <> struct InterfaceBase<office::CommandBar> { using Type = office::_IMsoOleAccDispObj; };
template <> struct InterfaceBase<office::CommandBarControls> { using Type = office::_IMsoDispObj; };
template <> struct InterfaceBase<office::CommandBarControl> { using Type = office::_IMsoOleAccDispObj; };
template <> struct InterfaceBase<office::_CommandBarButton> { using Type = office::CommandBarControl; };
} // namespace common
