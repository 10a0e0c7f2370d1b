#pragma once
// IEseMessage: one message, or one attachment, of the database. Its property
// row is the row of its table (a folder's message table, or the attachments
// folder's) joined, unless brief, with its "Msg" row. Attachments are found
// through the message's attachment list (0x67B3: 12-byte entries, each
// starting with the attachment id).
#include "Platform.h"
#include "objects/CEsePropertyObject.h"

#include <cstdint>

class CEseMessage final : public CEsePropertyObject<CEseMessage, IEseMessage> {
public:
    static HRESULT Create(CEseMessage** message);

    // Builds the object over the row of `table` whose 0x674A is `id` (throws
    // CException code 1 when there is none).
    void Construct(int64_t id, const NJbFramework::CSharedRef<CEseStoreContext>& context, const char* table,
                   unsigned long kind, bool brief);

    STDMETHODIMP GetAttachment(hyper idAttach, signed char brief, IEseMessage** ppAttachment) override;
    STDMETHODIMP GetAttachmentByNumber(ULONG number, signed char brief, IEseMessage** ppAttachment) override;
    STDMETHODIMP GetAttachmentsTable(IEseTable** ppTable) override;

    int64_t Id() const { return m_id; }

private:
    friend class common::CUnknownImpl<CEseMessage, IEseMessage, common::CSupportErrorInfoFor<IEseMessage>>;
    CEseMessage() = default;
    ~CEseMessage() override = default;

    // The attachments table's engine; failures are reported here (under
    // IEseMessage) and returned.
    HRESULT AttachmentsEngine(NJbFramework::CSharedRef<CEseTableImpl>* engine);

    int64_t m_id = 0;
};
