#include "Platform.h"
#include "CEventSink.h"

namespace setup {

HRESULT CEventSink::Create(REFIID events, Handler handler, CEventSink** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    CEventSink* sink = new (std::nothrow) CEventSink(events, std::move(handler));
    if (!sink)
        return E_OUTOFMEMORY;
    *out = sink;
    return S_OK;
}

STDMETHODIMP CEventSink::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv && IsEqualIID(riid, m_events)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    return CUnknownImpl::QueryInterface(riid, ppv);
}

STDMETHODIMP CEventSink::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*)
{
    if (result)
        VariantInit(result);
    if (!m_handler)
        return S_OK;
    // The handler may unadvise this very sink (and so detach it) while it runs.
    Handler handler = m_handler;
    ComPtr<CEventSink> keep(this);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    try {
        handler(id, params ? params : &none);
    } catch (...) {
    }
    return S_OK;
}

HRESULT CSinkConnection::Advise(IUnknown* source, REFIID events, CEventSink::Handler handler)
{
    Unadvise();
    if (!source)
        return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf()));
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(hr))
        hr = container->FindConnectionPoint(events, point.GetAddressOf());
    ComPtr<CEventSink> sink;
    if (SUCCEEDED(hr))
        hr = CEventSink::Create(events, std::move(handler), sink.GetAddressOf());
    DWORD cookie = 0;
    if (SUCCEEDED(hr))
        hr = point->Advise(static_cast<IDispatch*>(sink.Get()), &cookie);
    if (FAILED(hr)) {
        if (sink)
            sink->Detach();
        return hr;
    }
    m_point = point;
    m_sink = sink;
    m_cookie = cookie;
    return S_OK;
}

void CSinkConnection::Unadvise()
{
    if (m_sink)
        m_sink->Detach();
    if (m_point && m_cookie != kNotAdvised)
        m_point->Unadvise(m_cookie);
    m_point.Reset();
    m_sink.Reset();
    m_cookie = kNotAdvised;
}

} // namespace setup
