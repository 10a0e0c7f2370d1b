#include "Platform.h"
#include "objects/CEseMessage.h"
#include "EseValueMemory.h"
#include "objects/FolderTables.h"
#include "objects/ObjectCreation.h"

#include <new>
#include <vector>

using NJbFramework::CSharedRef;

namespace {

constexpr unsigned short kIdMessage = 0x674A;
constexpr unsigned short kIdMsgRow = 0x67B0;
constexpr ULONG kTagAttachmentList = 0x67B30000;
constexpr ULONG kTagAttachmentId = 0x674A0000;
constexpr ULONG kAttachmentEntrySize = 12;

} // namespace

HRESULT CEseMessage::Create(CEseMessage** message)
{
    *message = new (std::nothrow) CEseMessage();
    return *message ? S_OK : E_OUTOFMEMORY;
}

void CEseMessage::Construct(int64_t id, const CSharedRef<CEseStoreContext>& context, const char* table,
                            unsigned long kind, bool brief)
{
    m_id = id;
    m_context = context;
    m_row.Reset(new CEsePropImpl(kIdMessage, id, context, table, kind));
    if (!brief)
        m_row->AddLinkedTable(kIdMsgRow, TableRef(new CEseTableImpl(kIdMsgRow, context, "Msg", kKindMsg)));
}

STDMETHODIMP CEseMessage::GetAttachment(hyper idAttach, signed char brief, IEseMessage** ppAttachment)
{
    return HandOutObject<CEseMessage>(IID_IEseMessage, L"cannot create instance of the ese attachment class",
                                      ppAttachment, [&](CEseMessage& attachment) {
                                          attachment.Construct(idAttach, m_context,
                                                               m_context->AttachmentsFolderTable().c_str(),
                                                               kKindAttachments, brief != 0);
                                      });
}

HRESULT CEseMessage::AttachmentsEngine(CSharedRef<CEseTableImpl>* engine)
{
    ULONG tag = kTagAttachmentList;
    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
    HRESULT hr = GetProperties(1, &tag, &count, &values);
    unsigned long long id = static_cast<unsigned long long>(m_id);
    if (FAILED(hr)) {
        ReportEseError(IID_IEseMessage, kErrNotFound, kSrcNone, hr, L"cannot get message properties, instance id=%llx",
                       id);
        return hr;
    }
    unsigned long code = kErrUnspecified;
    const wchar_t* text = nullptr;
    std::vector<int64_t> ids;
    if (count != 1) {
        code = kErrNotFound;
        text = L"cannot get attachment list property, instance id=%llx";
    } else if (!IsPresentValue(values[0]) || values[0].m_type != ESE_PT_BINARY) {
        code = kErrNotFound;
        text = L"there are no attachments for the instance id=%llx";
    } else if (values[0].m_value.m_bin.m_count < kAttachmentEntrySize) {
        code = kErrNotFound;
        text = L"zero attachments was found for the instance id=%llx";
    } else if (values[0].m_value.m_bin.m_count % kAttachmentEntrySize != 0) {
        code = kErrBadAttachmentList;
        text = L"attachment list has incorrect format, instance id=%llx";
    } else {
        const BYTE* entry = values[0].m_value.m_bin.m_p_bt;
        for (ULONG n = values[0].m_value.m_bin.m_count / kAttachmentEntrySize; n > 0; --n) {
            int64_t attachment = 0;
            for (int i = 7; i >= 0; --i)
                attachment = (attachment << 8) | entry[i];
            ids.push_back(attachment);
            entry += kAttachmentEntrySize;
        }
    }
    FreeEseValues(values, count);
    if (text) {
        ReportEseError(IID_IEseMessage, code, kSrcNone, 0, text, id);
        return ErrorCodeToHResult(code);
    }
    return ServeComCall(IID_IEseMessage, [&]() -> HRESULT {
        TableRef table(
            new CEseTableImpl(kIdMessage, m_context, m_context->AttachmentsFolderTable().c_str(), kKindAttachments));
        table->SetKeyValues(static_cast<unsigned long>(ids.size()), ids.data(), true);
        *engine = table;
        return S_OK;
    });
}

STDMETHODIMP CEseMessage::GetAttachmentsTable(IEseTable** ppTable)
{
    if (!ppTable)
        return E_POINTER;
    *ppTable = nullptr;
    CSharedRef<CEseTableImpl> engine;
    HRESULT hr = AttachmentsEngine(&engine);
    if (FAILED(hr))
        return hr;
    return HandOutTable(IID_IEseMessage, ppTable, [&] { return engine; });
}

STDMETHODIMP CEseMessage::GetAttachmentByNumber(ULONG number, signed char brief, IEseMessage** ppAttachment)
{
    if (!ppAttachment)
        return E_POINTER;
    *ppAttachment = nullptr;
    CSharedRef<CEseTableImpl> engine;
    HRESULT hr = AttachmentsEngine(&engine);
    if (FAILED(hr))
        return hr;
    ULONG rowCount = 0;
    _SEseRow* rows = nullptr;
    hr = ServeComCall(IID_IEseMessage, [&]() -> HRESULT {
        ULONG tag = kTagAttachmentId;
        engine->SetColumns(1, &tag);
        // number + 1 rows; the largest number asks for as many as there are.
        engine->GetRows(number == 0xFFFFFFFF ? number : number + 1, true, &rowCount, &rows);
        return S_OK;
    });
    if (FAILED(hr))
        return hr;
    unsigned long messageId = static_cast<unsigned long>(m_id);
    int64_t attachmentId = 0;
    if (rowCount <= number) {
        FreeEseRows(rows, rowCount);
        ReportEseError(IID_IEseMessage, kErrNotFound, kSrcNone, 0,
                       L"there is no attachment with number=%u, the actual number of attachments=%u, message "
                       L"instance id=%x",
                       number, rowCount, messageId);
        return ErrorCodeToHResult(kErrNotFound);
    }
    const _SEseRow& row = rows[number];
    bool present = row.m_valueCount >= 1 && IsPresentValue(row.m_p_values[0]) &&
                   row.m_p_values[0].m_type == ESE_PT_INT64;
    if (present)
        attachmentId = row.m_p_values[0].m_value.m_i64;
    FreeEseRows(rows, rowCount);
    if (!present) {
        ReportEseError(IID_IEseMessage, kErrColumnMissing, kSrcNone, 0,
                       L"cannot get id for attachment with number=%u, message instance id=%x", number, messageId);
        return ErrorCodeToHResult(kErrColumnMissing);
    }
    return GetAttachment(attachmentId, brief, ppAttachment);
}
