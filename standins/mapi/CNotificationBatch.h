#pragma once
// Table notifications gathered while a table is locked and delivered once it
// is not, so that an advise sink may call back into the table. Each
// notification is one MAPI buffer that is freed after the sink saw it.
#include "MapiStandin.h"

#include <vector>

class CNotificationBatch {
public:
    CNotificationBatch() = default;
    CNotificationBatch(const CNotificationBatch&) = delete;
    CNotificationBatch& operator=(const CNotificationBatch&) = delete;
    ~CNotificationBatch();

    // Takes ownership of notification (a MAPIAllocateBuffer root) and holds
    // a reference to sink until delivery.
    void Add(IMAPIAdviseSink* sink, NOTIFICATION* notification);
    bool IsEmpty() const { return m_pending.empty(); }

    // Calls each sink in order, under deliveryLock, then frees everything.
    void Deliver(CRITICAL_SECTION& deliveryLock);

private:
    struct Pending {
        IMAPIAdviseSink* sink;
        NOTIFICATION* notification;
    };
    void Clear();
    std::vector<Pending> m_pending;
};
