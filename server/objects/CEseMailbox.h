#pragma once
// IEseMailbox: one mailbox of a mailbox store. Its property row is its
// "Mailbox" row joined with its root folder's "Folders" row, so that it
// shows the root folder's columns too.
#include "Platform.h"
#include "objects/CEsePropertyObject.h"

#include <cstdint>

class CEseMailbox final : public CEsePropertyObject<CEseMailbox, IEseMailbox> {
public:
    static HRESULT Create(CEseMailbox** mailbox);

    // Builds the mailbox whose root folder is idRoot (throws CException code
    // 1 when "Mailbox" has no such row).
    void Construct(int64_t idRoot, const NJbFramework::CSharedRef<CEseStoreContext>& context);

    int64_t Id() const { return m_id; }

private:
    friend class common::CUnknownImpl<CEseMailbox, IEseMailbox, common::CSupportErrorInfoFor<IEseMailbox>>;
    CEseMailbox() = default;
    ~CEseMailbox() override = default;

    int64_t m_id = 0;
};
