#pragma once
// IEseFolder: one folder of the database, with its child folders and its
// messages. Its property row is its "Folders" row, except for a mailbox root
// of a mailbox store: that answers from its "Mailbox" row joined with its
// own "Folders" row, and stands in for its "Top of Information Store" child,
// whose children and messages it lists as its own (the effective id). A
// root without such a child lists nothing (effective id all ones).
#include "Platform.h"
#include "objects/CEsePropertyObject.h"

#include <cstdint>

class CEseFolder final : public CEsePropertyObject<CEseFolder, IEseFolder> {
public:
    static HRESULT Create(CEseFolder** folder);

    // Builds the folder `fid` (throws CException code 1 when "Folders" has no
    // such row).
    void Construct(int64_t fid, const NJbFramework::CSharedRef<CEseStoreContext>& context);

    STDMETHODIMP GetFolder(hyper fid, hyper idRoot, IEseFolder** ppFolder) override;
    STDMETHODIMP GetMessage(hyper mid, IEseMessage** ppMessage) override;
    STDMETHODIMP GetFoldersTable(IEseTable** ppTable) override;
    STDMETHODIMP GetMessagesTable(IEseTable** ppTable) override;

    // The id whose children and messages the folder lists.
    int64_t EffectiveId() const { return m_id; }

private:
    friend class common::CUnknownImpl<CEseFolder, IEseFolder, common::CSupportErrorInfoFor<IEseFolder>>;
    CEseFolder() = default;
    ~CEseFolder() override = default;

    void BecomeMailboxRoot(int64_t fid);

    int64_t m_id = 0;
};
