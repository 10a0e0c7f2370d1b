// The provider's read-only IMessage over one message of the database server
// (an IEseMessage reached through the module's interface table), or over
// the message embedded in an attachment. It makes the identity properties
// itself and reads the rest from the server with the body rules: a body is
// handed out as a stream (PT_ERROR / E_OUTOFMEMORY in GetProps), except a
// plain-text body kept in the ANSI code page, which is converted and handed
// out as text. It derives the sender identifiers and the display-recipient
// strings from what the server keeps, builds the recipient table from the
// packed recipient records and the attachment table from the server's
// attachment rows, and copies itself through MAPI's support object.
//
// A message the database keeps only as MIME text is turned, on first need,
// into a MAPI message in memory (LoadFromMime), which then serves the
// attachment table, attachments, body streams and bodies the server lacks.
// Writes are refused.
//
// Made by folders and the store (OpenEntry), by attachments for embedded
// messages, and by the search subsystem:
//     CMessage::Create(messageCookie, ownId, parentId, storeId, &message)
//     message->GetRecipientTable(0, &table)
// Any of the client's threads may call any slot: the fields are fixed at
// construction, server interfaces are fetched per call, and the MIME
// message is made once under its own lock.
#pragma once
#include "ProviderPlatform.h"
#include "CCriticalSection.h"
#include "CEntryId.h"
#include "CMapiProp.h"
#include "DisplayRecipients.h"
#include "MapiInterfaces.h"
#include "SenderIds.h"
#include "ServerInterfaces.h"
#include "Vostrel2007.h"

#include <memory>
#include <vector>

class CStoreShared;

class CMessage : public CMapiProp<CMessage, IMessage> {
public:
    // A message over the server message registered under messageCookie
    // (whose ownership passes to the message), known as ownId, lying in
    // the folder parentId of the store storeId.
    static HRESULT Create(CServerCookie messageCookie, const CEntryId& ownId, const CEntryId& parentId,
                          const CEntryId& storeId, CMessage** out);

    const CEntryId& OwnId() const { return m_ownId; }
    const CEntryId& ParentId() const { return m_parentId; }
    const CEntryId& StoreId() const { return m_storeId; }
    DWORD MessageCookie() const { return m_messageCookie.Get(); }
    // While CopyTo runs its support-object copy.
    bool IsCopying() const { return m_copying != 0; }

    // Makes the MIME message from the server's MIME text when there is
    // none yet; true when one exists.
    bool LoadFromMime();

    // The display-recipient strings (To, Cc, Bcc) of the packed recipient
    // records, stored into the requested slots that hold PT_ERROR.
    HRESULT FillDisplayRecipients(IEseProperty* message, const SDisplayPositions& positions, SPropValue* values,
                                  LPVOID parent);
    // The sender identifiers and addresses (SynthesizeSenderValues) from
    // what the server keeps. MAPI_E_NOT_FOUND: something could not be made
    // (those values stay PT_ERROR).
    HRESULT SynthesizeSenderIds(IEseProperty* message, const SSenderPositions& sentRepresenting,
                                const SSenderPositions& sender, SPropValue* values, LPVOID parent);

    // IMAPIProp (SaveChanges, SetProps and DeleteProps: CMapiProp)
    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    STDMETHODIMP OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                              LPUNKNOWN* lppUnk) override;
    STDMETHODIMP CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG ulUIParam,
                        LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                        LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                           LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                           LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                 ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames) override;
    STDMETHODIMP GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                 LPSPropTagArray* lppPropTags) override;

    // IMessage
    STDMETHODIMP GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH* lppAttach) override;
    STDMETHODIMP CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum,
                              LPATTACH* lppAttach) override;
    STDMETHODIMP DeleteAttach(ULONG ulAttachmentNum, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                              ULONG ulFlags) override;
    STDMETHODIMP GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) override;
    STDMETHODIMP SubmitMessage(ULONG ulFlags) override;
    STDMETHODIMP SetReadFlag(ULONG ulFlags) override;

protected:
    friend class common::CUnknownImpl<CMessage, IMessage>;
    CMessage(CServerCookie messageCookie, const CEntryId& ownId, const CEntryId& parentId, const CEntryId& storeId);
    ~CMessage() override;

private:
    ComPtr<IEseMessage> ServerMessage() const;
    // The MIME message once made (null before, and when there is none).
    ComPtr<IMessage> MimeMessage();

    // The server values of the tags GetProps has no answer of its own for,
    // placed at their positions with the body, sender and display rules.
    HRESULT AnswerFromServer(IEseMessage* message, const SPropTagArray& tags, const std::vector<ULONG>& positions,
                             SPropValue* values);
    // Bodies the server lacks of a message held as MIME.
    HRESULT MarkMimeBodies(const SPropTagArray& tags, const std::vector<ULONG>& positions, SPropValue* values);
    // A plain-text body too large for a row: true when it was kept in the
    // ANSI code page (told by its beginning) and could be read whole, text
    // then being the body as UTF-16; false leaves it to be streamed.
    bool ReadAnsiBody(IEseMessage* message, std::wstring& text);
    HRESULT EmptyAttachmentTable(LPMAPITABLE* lppTable);

    CEntryId m_ownId;
    CEntryId m_parentId;
    CEntryId m_storeId;
    CServerCookie m_messageCookie;
    volatile LONG m_copying = 0;
    CCriticalSection m_mimeLock;
    ComPtr<IMessage> m_mimeMessage;
    DWORD m_creationTick;
};
