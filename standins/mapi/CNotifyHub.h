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
    // The asynchronous queue, shared with the delivery thread so that the
    // hub may go away from inside a sink the thread is calling.
    struct Queue {
        Queue();
        ~Queue();
        CRITICAL_SECTION lock;
        CONDITION_VARIABLE wake;
        CONDITION_VARIABLE idle;
        std::deque<Delivery> items;
        bool delivering = false;
        bool stopping = false;
    };

    static DWORD WINAPI ThreadProc(void* queue);
    static void Run(Queue& queue);
    static std::string KeyText(const NOTIFKEY* key);
    static ULONG EventsOf(ULONG count, const NOTIFICATION* notifications, std::vector<ULONG>& selected, ULONG mask);

    CRITICAL_SECTION m_lock;
    std::map<ULONG, Subscription> m_subscriptions;
    ULONG m_nextConnection = 1;
    std::shared_ptr<Queue> m_queue;
    HANDLE m_thread = nullptr;
};
