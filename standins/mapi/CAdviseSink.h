#pragma once
// The advise sink HrAllocAdviseSink makes: OnNotify calls the caller's
// function with its context, on the thread that delivers the notification.
#include "MapiStandin.h"
#include "CUnknownImpl.h"
#include "MapiIids.h"

class CAdviseSink final : public common::CUnknownImpl<CAdviseSink, IMAPIAdviseSink> {
public:
    static HRESULT Create(LPNOTIFCALLBACK callback, LPVOID context, IMAPIAdviseSink** out);

    STDMETHODIMP_(ULONG) OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override;

private:
    friend class common::CUnknownImpl<CAdviseSink, IMAPIAdviseSink>;
    CAdviseSink(LPNOTIFCALLBACK callback, LPVOID context) : m_callback(callback), m_context(context) {}
    ~CAdviseSink() override = default;

    LPNOTIFCALLBACK m_callback;
    LPVOID m_context;
};
