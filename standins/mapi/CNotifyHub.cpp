#include "MapiStandin.h"
#include "CNotifyHub.h"

CNotifyHub::Queue::Queue()
{
    InitializeCriticalSection(&lock);
    InitializeConditionVariable(&wake);
    InitializeConditionVariable(&idle);
}

CNotifyHub::Queue::~Queue()
{
    for (Delivery& d : items)
        d.sink->Release();
    DeleteCriticalSection(&lock);
}

CNotifyHub::CNotifyHub() : m_queue(std::make_shared<Queue>())
{
    InitializeCriticalSection(&m_lock);
}

CNotifyHub::~CNotifyHub()
{
    EnterCriticalSection(&m_queue->lock);
    m_queue->stopping = true;
    WakeAllConditionVariable(&m_queue->wake);
    LeaveCriticalSection(&m_queue->lock);
    if (m_thread) {
        // The last reference may go from inside a sink, on the delivery
        // thread itself: that thread then ends on its own.
        if (GetThreadId(m_thread) != GetCurrentThreadId())
            WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
    for (auto& entry : m_subscriptions)
        entry.second.sink->Release();
    DeleteCriticalSection(&m_lock);
}

std::string CNotifyHub::KeyText(const NOTIFKEY* key)
{
    if (!key)
        return std::string();
    return std::string(reinterpret_cast<const char*>(key->ab), key->cb);
}

HRESULT CNotifyHub::Subscribe(const NOTIFKEY* key, ULONG eventMask, ULONG flags, IMAPIAdviseSink* sink,
                              ULONG* connection)
{
    if (!key || !sink || !connection)
        return MAPI_E_INVALID_PARAMETER;
    *connection = 0;
    if (!eventMask)
        return MAPI_E_INVALID_PARAMETER;
    EnterCriticalSection(&m_lock);
    ULONG id = m_nextConnection++;
    sink->AddRef();
    m_subscriptions[id] = Subscription{KeyText(key), eventMask, (flags & NOTIFY_SYNC) != 0, sink};
    LeaveCriticalSection(&m_lock);
    *connection = id;
    return S_OK;
}

HRESULT CNotifyHub::Unsubscribe(ULONG connection)
{
    IMAPIAdviseSink* sink = nullptr;
    EnterCriticalSection(&m_lock);
    auto found = m_subscriptions.find(connection);
    if (found != m_subscriptions.end()) {
        sink = found->second.sink;
        m_subscriptions.erase(found);
    }
    LeaveCriticalSection(&m_lock);
    if (!sink)
        return MAPI_E_NOT_FOUND;
    sink->Release();
    return S_OK;
}

ULONG CNotifyHub::EventsOf(ULONG count, const NOTIFICATION* notifications, std::vector<ULONG>& selected, ULONG mask)
{
    selected.clear();
    for (ULONG i = 0; i < count; ++i)
        if (notifications[i].ulEventType & mask)
            selected.push_back(i);
    return static_cast<ULONG>(selected.size());
}

HRESULT CNotifyHub::Notify(const NOTIFKEY* key, ULONG count, const NOTIFICATION* notifications, ULONG* flags)
{
    if (!key || (count && !notifications))
        return MAPI_E_INVALID_PARAMETER;
    if (flags)
        *flags = 0;
    std::string text = KeyText(key);
    struct Target {
        IMAPIAdviseSink* sink;
        bool sync;
        std::vector<NOTIFICATION> list;
    };
    std::vector<Target> targets;
    EnterCriticalSection(&m_lock);
    for (auto& entry : m_subscriptions) {
        const Subscription& s = entry.second;
        if (s.key != text)
            continue;
        std::vector<ULONG> selected;
        if (!EventsOf(count, notifications, selected, s.mask))
            continue;
        Target target{s.sink, s.sync, {}};
        for (ULONG i : selected)
            target.list.push_back(notifications[i]);
        s.sink->AddRef();
        targets.push_back(std::move(target));
    }
    LeaveCriticalSection(&m_lock);

    HRESULT result = S_OK;
    for (Target& target : targets) {
        if (target.sync) {
            target.sink->OnNotify(static_cast<ULONG>(target.list.size()), target.list.data());
            target.sink->Release();
            continue;
        }
        int n = static_cast<int>(target.list.size());
        ULONG cb = 0;
        SCODE sc = ScCountNotifications(n, target.list.data(), &cb);
        Delivery delivery{target.sink, {}, static_cast<ULONG>(n)};
        if (SUCCEEDED(sc)) {
            delivery.copy.resize(cb ? cb : 1);
            sc = ScCopyNotifications(n, target.list.data(), delivery.copy.data(), nullptr);
        }
        if (FAILED(sc)) {
            target.sink->Release();
            result = sc;
            continue;
        }
        EnterCriticalSection(&m_lock);
        if (!m_thread) {
            auto* shared = new (std::nothrow) std::shared_ptr<Queue>(m_queue);
            m_thread = shared ? CreateThread(nullptr, 0, &CNotifyHub::ThreadProc, shared, 0, nullptr) : nullptr;
            if (!m_thread)
                delete shared;
        }
        bool started = m_thread != nullptr;
        LeaveCriticalSection(&m_lock);
        if (!started) {
            target.sink->Release();
            result = MAPI_E_CALL_FAILED;
            continue;
        }
        EnterCriticalSection(&m_queue->lock);
        m_queue->items.push_back(std::move(delivery));
        WakeAllConditionVariable(&m_queue->wake);
        LeaveCriticalSection(&m_queue->lock);
    }
    return result;
}

void CNotifyHub::Flush()
{
    Queue& queue = *m_queue;
    EnterCriticalSection(&queue.lock);
    while (!queue.items.empty() || queue.delivering)
        SleepConditionVariableCS(&queue.idle, &queue.lock, INFINITE);
    LeaveCriticalSection(&queue.lock);
}

DWORD WINAPI CNotifyHub::ThreadProc(void* shared)
{
    std::unique_ptr<std::shared_ptr<Queue>> queue(static_cast<std::shared_ptr<Queue>*>(shared));
    Run(**queue);
    return 0;
}

void CNotifyHub::Run(Queue& queue)
{
    EnterCriticalSection(&queue.lock);
    for (;;) {
        while (queue.items.empty() && !queue.stopping)
            SleepConditionVariableCS(&queue.wake, &queue.lock, INFINITE);
        if (queue.items.empty())
            break;
        Delivery delivery = std::move(queue.items.front());
        queue.items.pop_front();
        queue.delivering = true;
        LeaveCriticalSection(&queue.lock);
        try {
            delivery.sink->OnNotify(delivery.count, reinterpret_cast<LPNOTIFICATION>(delivery.copy.data()));
        } catch (...) {
        }
        delivery.sink->Release();
        EnterCriticalSection(&queue.lock);
        queue.delivering = false;
        WakeAllConditionVariable(&queue.idle);
    }
    LeaveCriticalSection(&queue.lock);
}
