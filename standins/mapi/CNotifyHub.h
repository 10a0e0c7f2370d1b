#pragma once
// The notification registry of one session: advise sinks subscribed under a
// notification key and an event mask (IMAPISupport::Subscribe, the
// session's Advise), and the delivery of the notifications a provider sends
// with IMAPISupport::Notify to every subscription whose key equals the
// notification's key byte for byte and whose mask takes the event.
//
// Subscriptions made with NOTIFY_SYNC are called before Notify returns, on
// the notifying thread; the others get a copy of the notifications on the
// hub's delivery thread, in the order they were sent. Sinks are called
// without the hub's lock held, so a sink may subscribe or unsubscribe.
#include "MapiStandin.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CNotifyHub {
public:
    CNotifyHub();
    ~CNotifyHub();
    CNotifyHub(const CNotifyHub&) = delete;
    CNotifyHub& operator=(const CNotifyHub&) = delete;

    HRESULT Subscribe(const NOTIFKEY* key, ULONG eventMask, ULONG flags, IMAPIAdviseSink* sink, ULONG* connection);
    HRESULT Unsubscribe(ULONG connection);
    HRESULT Notify(const NOTIFKEY* key, ULONG count, const NOTIFICATION* notifications, ULONG* flags);
    // Waits until every asynchronous delivery queued so far has been made.
    void Flush();

private:
    struct Subscription {
        std::string key;
        ULONG mask;
        bool sync;
        IMAPIAdviseSink* sink; // AddRef'd
    };
    struct Delivery {
        IMAPIAdviseSink* sink; // AddRef'd
        std::vector<BYTE> copy; // ScCopyNotifications block
        ULONG count;
    };

    static DWORD WINAPI ThreadProc(void* self);
    void Run();
    static std::string KeyText(const NOTIFKEY* key);
    static ULONG EventsOf(ULONG count, const NOTIFICATION* notifications, std::vector<ULONG>& selected, ULONG mask);

    CRITICAL_SECTION m_lock;
    CONDITION_VARIABLE m_wake;
    CONDITION_VARIABLE m_idle;
    std::map<ULONG, Subscription> m_subscriptions;
    std::deque<Delivery> m_queue;
    bool m_delivering = false;
    bool m_stopping = false;
    ULONG m_nextConnection = 1;
    HANDLE m_thread = nullptr;
};
