#include "MapiStandin.h"
#include "CNotifyHub.h"

CNotifyHub::CNotifyHub()
{
    InitializeCriticalSection(&m_lock);
    InitializeConditionVariable(&m_wake);
    InitializeConditionVariable(&m_idle);
}

CNotifyHub::~CNotifyHub()
{
    EnterCriticalSection(&m_lock);
    m_stopping = true;
    WakeAllConditionVariable(&m_wake);
    LeaveCriticalSection(&m_lock);
    if (m_thread) {
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
    for (Delivery& d : m_queue)
        d.sink->Release();
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
        if (!m_thread)
            m_thread = CreateThread(nullptr, 0, &CNotifyHub::ThreadProc, this, 0, nullptr);
        if (!m_thread) {
            LeaveCriticalSection(&m_lock);
            target.sink->Release();
            result = MAPI_E_CALL_FAILED;
            continue;
        }
        m_queue.push_back(std::move(delivery));
        WakeAllConditionVariable(&m_wake);
        LeaveCriticalSection(&m_lock);
    }
    return result;
}

void CNotifyHub::Flush()
{
    EnterCriticalSection(&m_lock);
    while (!m_queue.empty() || m_delivering)
        SleepConditionVariableCS(&m_idle, &m_lock, INFINITE);
    LeaveCriticalSection(&m_lock);
}

DWORD WINAPI CNotifyHub::ThreadProc(void* self)
{
    static_cast<CNotifyHub*>(self)->Run();
    return 0;
}

void CNotifyHub::Run()
{
    EnterCriticalSection(&m_lock);
    for (;;) {
        while (m_queue.empty() && !m_stopping)
            SleepConditionVariableCS(&m_wake, &m_lock, INFINITE);
        if (m_queue.empty())
            break;
        Delivery delivery = std::move(m_queue.front());
        m_queue.pop_front();
        m_delivering = true;
        LeaveCriticalSection(&m_lock);
        try {
            delivery.sink->OnNotify(delivery.count, reinterpret_cast<LPNOTIFICATION>(delivery.copy.data()));
        } catch (...) {
        }
        delivery.sink->Release();
        EnterCriticalSection(&m_lock);
        m_delivering = false;
        WakeAllConditionVariable(&m_idle);
    }
    LeaveCriticalSection(&m_lock);
}
