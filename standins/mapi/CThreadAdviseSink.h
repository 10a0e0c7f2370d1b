#pragma once
// The advise sink HrThisThreadAdviseSink makes: notifications that arrive on
// another thread are copied (ScCopyNotifications) and posted to a
// message-only window of the thread that made the sink, which hands them to
// the wrapped sink when it next pumps messages; notifications on that thread
// itself are passed straight on. Each posted notification holds a reference
// to this object, so the window never outlives what it points to.
#include "MapiStandin.h"
#include "CUnknownImpl.h"
#include "MapiIids.h"

class CThreadAdviseSink final : public common::CUnknownImpl<CThreadAdviseSink, IMAPIAdviseSink> {
public:
    static HRESULT Create(IMAPIAdviseSink* sink, IMAPIAdviseSink** out);

    STDMETHODIMP_(ULONG) OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override;

private:
    friend class common::CUnknownImpl<CThreadAdviseSink, IMAPIAdviseSink>;
    CThreadAdviseSink(IMAPIAdviseSink* sink, HWND window);
    ~CThreadAdviseSink() override;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    ComPtr<IMAPIAdviseSink> m_sink;
    HWND m_window;
    DWORD m_thread;
};
