#pragma once
// The add-in's side of one event connection: a dispatch object that answers
// its event interface and hands every event (dispatch identifier and
// arguments) to a handler, and the advise of that object on an event source
// through its connection point. The handler belongs to the object that owns
// the connection, which detaches it when it unadvises, so an event that the
// source delivers late reaches nobody.
#include "Platform.h"
#include "CUnknownImpl.h"

#include <ocidl.h>

#include <functional>

namespace setup {

class CEventSink final : public common::CUnknownImpl<CEventSink, IDispatch> {
public:
    using Handler = std::function<void(DISPID id, DISPPARAMS* params)>;

    static HRESULT Create(REFIID events, Handler handler, CEventSink** out);
    void Detach() { m_handler = nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    // Every event succeeds for the source; what the handler does is its own
    // business, and nothing it throws reaches the source.
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

private:
    friend class common::CUnknownImpl<CEventSink, IDispatch>;
    CEventSink(REFIID events, Handler handler) : m_events(events), m_handler(std::move(handler)) {}

    IID m_events;
    Handler m_handler;
};

// One sink advised on one source. The cookie reads kNotAdvised while no
// advise is in place.
class CSinkConnection {
public:
    static constexpr DWORD kNotAdvised = 0xFEFEFEFE;

    CSinkConnection() = default;
    ~CSinkConnection() { Unadvise(); }
    CSinkConnection(const CSinkConnection&) = delete;
    CSinkConnection& operator=(const CSinkConnection&) = delete;

    // Unadvises an earlier advise first.
    HRESULT Advise(IUnknown* source, REFIID events, CEventSink::Handler handler);
    void Unadvise();
    bool IsAdvised() const { return m_cookie != kNotAdvised; }
    DWORD Cookie() const { return m_cookie; }

private:
    ComPtr<IConnectionPoint> m_point;
    ComPtr<CEventSink> m_sink;
    DWORD m_cookie = kNotAdvised;
};

} // namespace setup
