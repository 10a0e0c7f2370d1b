#pragma once
// How the store, folder and message objects hand out the objects they make:
// the out-pointer is cleared first; a failure to create the COM object is
// reported as code 4 (source 2, its HRESULT) with the class's text, under
// the reporting object's IID; a CException while building what the new
// object reads is reported as the server reports every exception.
#include "Platform.h"
#include "ComErrors.h"
#include "objects/CEseTable.h"

// T has a static HRESULT Create(T**) that only allocates; `build` (T&) then
// fills the object and may throw.
template <typename T, typename I, typename Build>
HRESULT HandOutObject(REFIID reportIid, const wchar_t* failureText, I** out, Build&& build)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    T* created = nullptr;
    HRESULT hr = T::Create(&created);
    if (FAILED(hr)) {
        ReportEseError(reportIid, kErrCreateObject, kSrcHResult, hr, failureText);
        return hr;
    }
    // mingw's ComPtr::Attach adds a reference: take the creation's one as it is.
    ComPtr<T> object;
    *object.GetAddressOf() = created;
    hr = ServeComCall(reportIid, [&]() -> HRESULT {
        build(*object.Get());
        return S_OK;
    });
    if (FAILED(hr))
        return hr;
    *out = object.Detach();
    return S_OK;
}

// A table object over the engine that `build` () returns.
template <typename Build>
HRESULT HandOutTable(REFIID reportIid, IEseTable** ppTable, Build&& build)
{
    if (!ppTable)
        return E_POINTER;
    *ppTable = nullptr;
    NJbFramework::CSharedRef<CEseTableImpl> engine;
    HRESULT hr = ServeComCall(reportIid, [&]() -> HRESULT {
        engine = build();
        return S_OK;
    });
    if (FAILED(hr))
        return hr;
    hr = CEseTable::Create(engine, ppTable);
    if (FAILED(hr))
        ReportEseError(reportIid, kErrCreateObject, kSrcHResult, hr, L"cannot create instance of the ese table class");
    return hr;
}
