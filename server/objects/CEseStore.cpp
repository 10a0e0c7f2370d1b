#include "Platform.h"
#include "objects/CEseStore.h"
#include "objects/CEseFolder.h"
#include "objects/CEseMailbox.h"
#include "objects/FolderTables.h"
#include "objects/ObjectCreation.h"

#include <new>

namespace {

constexpr unsigned short kIdFolder = 0x6748;
constexpr unsigned short kIdMailboxRoot = 0x6764;

// Every mailbox (count 0) or the listed ones; unless brief, each row joined
// with its root folder's "Folders" row.
TableRef MailboxesTable(const NJbFramework::CSharedRef<CEseStoreContext>& context, ULONG count, const hyper* ids,
                        bool brief)
{
    TableRef mailboxes(new CEseTableImpl(kIdMailboxRoot, context, "Mailbox", kKindMailbox));
    mailboxes->SetKeyValues(ids ? count : 0, ids, true);
    if (!brief)
        mailboxes->AddLinkedTable(kIdMailboxRoot, TableRef(new CEseTableImpl(kIdFolder, context, "Folders", kKindFolders)));
    return mailboxes;
}

} // namespace

HRESULT CEseStore::Create(CEseStore** store)
{
    *store = new (std::nothrow) CEseStore();
    return *store ? S_OK : E_OUTOFMEMORY;
}

CEseStore::~CEseStore()
{
    CStoreMapLock lock;
    m_context.Reset();
}

STDMETHODIMP CEseStore::GetFolder(hyper fid, hyper, IEseFolder** ppFolder)
{
    return HandOutObject<CEseFolder>(IID_IEseStore, L"cannot create instance of the ese folder class", ppFolder,
                                     [&](CEseFolder& folder) { folder.Construct(fid, m_context); });
}

STDMETHODIMP CEseStore::GetFoldersTable(IEseTable** ppTable)
{
    return HandOutTable(IID_IEseStore, ppTable, [&] {
        if (IsPublicFolderStore(m_context))
            return OpenChildFolders(m_context, IpmSubtreeId(m_context));
        return MailboxesTable(m_context, 0, nullptr, false);
    });
}

STDMETHODIMP CEseStore::GetMailbox(hyper idRoot, IEseMailbox** ppMailbox)
{
    return HandOutObject<CEseMailbox>(IID_IEseStore, L"cannot create instance of the ese mailbox class", ppMailbox,
                                      [&](CEseMailbox& mailbox) { mailbox.Construct(idRoot, m_context); });
}

STDMETHODIMP CEseStore::GetMailboxesTable(ULONG count, hyper* pIds, signed char brief, IEseTable** ppTable)
{
    return HandOutTable(IID_IEseStore, ppTable,
                        [&] { return MailboxesTable(m_context, count, pIds, brief != 0); });
}

STDMETHODIMP CEseStore::GetNamedPropertiesTable(IEseTable** ppTable)
{
    return HandOutTable(IID_IEseStore, ppTable,
                        [&] { return TableRef(new CEseTableImpl(0, m_context, "NamedProps", kKindNamedProps)); });
}

// The record is declared by the contract but nothing fills it.
STDMETHODIMP CEseStore::GetStoreInfo(_SEseStoreInfo*) { return S_OK; }
