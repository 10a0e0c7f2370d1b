// The provider's read-only IAttach over one attachment of a message. The
// server represents an attachment as an IEseMessage of its own, reached from
// its message by number (GetAttachmentByNumber); CMessage::OpenAttach makes
// this object over it. It makes the identity properties itself, reads the
// rest from the server, and opens the attachment's data as a stream (by
// value), as a structured storage (OLE) or as an embedded CMessage, always
// through OpenProperty: GetProps answers the data with PT_ERROR /
// E_OUTOFMEMORY. Copies go through MAPI's support object; writes are
// refused.
//
// The attachment keeps its message alive: the message's server cookie,
// which an embedded message is opened through, stays valid for as long as
// the attachment lives, whatever the caller releases first.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CMapiProp.h"
#include "MapiInterfaces.h"
#include "ServerInterfaces.h"
#include "Vostrel2007.h"

class CAttach : public CMapiProp<CAttach, IAttach> {
public:
    // An attachment over the server attachment registered under
    // attachmentCookie (whose ownership passes to the attachment), number
    // attachmentNumber of the message whose server object is registered
    // under messageCookie; message is held while the attachment lives.
    static HRESULT Create(CServerCookie attachmentCookie, DWORD messageCookie, IUnknown* message,
                          ULONG attachmentNumber, const CEntryId& messageId, const CEntryId& storeId,
                          IAttach** out);

    ULONG AttachmentNumber() const { return m_attachmentNumber; }
    const CEntryId& MessageId() const { return m_messageId; }
    const CEntryId& StoreId() const { return m_storeId; }

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

protected:
    friend class common::CUnknownImpl<CAttach, IAttach>;
    CAttach(CServerCookie attachmentCookie, DWORD messageCookie, IUnknown* message, ULONG attachmentNumber,
            const CEntryId& messageId, const CEntryId& storeId);
    ~CAttach() override;

private:
    ComPtr<IEseMessage> ServerAttachment() const;
    HRESULT OpenEmbeddedMessage(IEseMessage* attachment, LPUNKNOWN* lppUnk);

    CServerCookie m_attachmentCookie;
    DWORD m_messageCookie;
    ComPtr<IUnknown> m_message;
    ULONG m_attachmentNumber;
    CEntryId m_messageId;
    CEntryId m_storeId;
    DWORD m_creationTick;
};
