#include "ProviderPlatform.h"
#include "SearchMessages.h"
#include "CMessage.h"
#include "ServerInterfaces.h"

#include <new>

CSearchMessage::CSearchMessage(IEseMessage* server, const CEntryId& messageId, const CEntryId& parentId,
                               const CEntryId& storeId)
    : m_server(server), m_messageId(messageId), m_parentId(parentId), m_storeId(storeId)
{
}

CSearchMessage::~CSearchMessage()
{
    if (m_message)
        m_message->Release();
}

CMessage* CSearchMessage::Message()
{
    if (!m_tried) {
        m_tried = true;
        try {
            CServerCookie cookie = CServerCookie::Register(m_server, IID_IEseMessage);
            if (FAILED(CMessage::Create(std::move(cookie), m_messageId, m_parentId, m_storeId, &m_message)))
                m_message = nullptr;
        } catch (const _com_error&) {
            m_message = nullptr;
        } catch (const std::bad_alloc&) {
            m_message = nullptr;
        }
    }
    return m_message;
}

void CSearchMessage::FillDisplayRecipients(const SDisplayPositions& positions, SPropValue* values, LPVOID parent)
{
    if (CMessage* message = Message())
        message->FillDisplayRecipients(m_server, positions, values, parent);
}

bool CSearchMessage::HasRecipientMatching(SRestriction* restriction)
{
    CMessage* message = Message();
    if (!message)
        return false;
    ComPtr<IMAPITable> recipients;
    if (FAILED(message->GetRecipientTable(MAPI_UNICODE, recipients.GetAddressOf())) || !recipients)
        return false;
    ULONG count = 0;
    if (FAILED(recipients->GetRowCount(0, &count)) || count == 0)
        return false;
    if (FAILED(recipients->Restrict(restriction, 0)))
        return false;
    count = 0;
    if (FAILED(recipients->GetRowCount(0, &count)))
        return false;
    return count != 0;
}
