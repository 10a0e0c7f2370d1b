#pragma once
// The store object over one opened database: holds a shared reference to the
// database's store context. Its last release drops that reference with the
// store-map lock held, so that a context and its map entry go together.
#include "Platform.h"
#include "CSupportErrorInfoFor.h"
#include "CUnknownImpl.h"
#include "Vostrel2007.h"
#include "objects/CEseStoreContext.h"

class CEseStore final : public common::CUnknownImpl<CEseStore, IEseStore, common::CSupportErrorInfoFor<IEseStore>> {
public:
    static HRESULT Create(CEseStore** store);

    void SetContext(const NJbFramework::CSharedRef<CEseStoreContext>& context) { m_context = context; }
    const NJbFramework::CSharedRef<CEseStoreContext>& Context() const { return m_context; }

    // Every method clears its out-pointer first; a database without a
    // "Mailbox" table holds public folders, whose folders table lists the
    // children of "IPM_SUBTREE".
    STDMETHODIMP GetFolder(hyper fid, hyper idRoot, IEseFolder** ppFolder) override;
    STDMETHODIMP GetFoldersTable(IEseTable** ppTable) override;
    STDMETHODIMP GetMailbox(hyper idRoot, IEseMailbox** ppMailbox) override;
    STDMETHODIMP GetMailboxesTable(ULONG count, hyper* pIds, signed char brief, IEseTable** ppTable) override;
    STDMETHODIMP GetNamedPropertiesTable(IEseTable** ppTable) override;
    STDMETHODIMP GetStoreInfo(_SEseStoreInfo* pStoreInfo) override;

private:
    friend class common::CUnknownImpl<CEseStore, IEseStore, common::CSupportErrorInfoFor<IEseStore>>;
    CEseStore() = default;
    ~CEseStore() override;

    NJbFramework::CSharedRef<CEseStoreContext> m_context;
};
