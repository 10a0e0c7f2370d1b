#include "MapiStandin.h"
#include "CNotificationBatch.h"

CNotificationBatch::~CNotificationBatch()
{
    Clear();
}

void CNotificationBatch::Add(IMAPIAdviseSink* sink, NOTIFICATION* notification)
{
    if (!sink || !notification) {
        MAPIFreeBuffer(notification);
        return;
    }
    sink->AddRef();
    try {
        m_pending.push_back({sink, notification});
    } catch (...) {
        sink->Release();
        MAPIFreeBuffer(notification);
        throw;
    }
}

void CNotificationBatch::Deliver(CRITICAL_SECTION& deliveryLock)
{
    if (m_pending.empty())
        return;
    EnterCriticalSection(&deliveryLock);
    for (Pending& pending : m_pending)
        pending.sink->OnNotify(1, pending.notification);
    LeaveCriticalSection(&deliveryLock);
    Clear();
}

void CNotificationBatch::Clear()
{
    for (Pending& pending : m_pending) {
        pending.sink->Release();
        MAPIFreeBuffer(pending.notification);
    }
    m_pending.clear();
}
