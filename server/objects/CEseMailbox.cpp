#include "Platform.h"
#include "objects/CEseMailbox.h"
#include "objects/FolderTables.h"

#include <new>

HRESULT CEseMailbox::Create(CEseMailbox** mailbox)
{
    *mailbox = new (std::nothrow) CEseMailbox();
    return *mailbox ? S_OK : E_OUTOFMEMORY;
}

void CEseMailbox::Construct(int64_t idRoot, const NJbFramework::CSharedRef<CEseStoreContext>& context)
{
    constexpr unsigned short kIdMailboxRoot = 0x6764;
    constexpr unsigned short kIdFolder = 0x6748;
    m_id = idRoot;
    m_context = context;
    m_row.Reset(new CEsePropImpl(kIdMailboxRoot, idRoot, context, "Mailbox", kKindMailbox));
    m_row->AddLinkedTable(kIdMailboxRoot, TableRef(new CEseTableImpl(kIdFolder, context, "Folders", kKindFolders)));
}
