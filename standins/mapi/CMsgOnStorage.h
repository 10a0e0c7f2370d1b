#pragma once
// IMessage kept in an IStorage (OpenIMsgOnIStg), and the embedded messages
// of its attachments. The whole message is read into a CMsgContent when
// opened; SaveChanges of a top-level message writes it back to the storage
// (and commits the storage unless IMSG_NO_ISTG_COMMIT was given), that of an
// embedded message hands its content to the attachment it came from.
#include "MapiStandin.h"
#include "CUnknownImpl.h"
#include "CMsgContent.h"
#include "CMsgCopier.h"
#include "CPropObject.h"
#include "MapiIids.h"

#include <memory>

class CAttachOnStorage;
class CMsgSession;
class CNamedProps;

class CMsgOnStorage final : public common::CUnknownImpl<CMsgOnStorage, IMessage> {
public:
    static HRESULT Open(CMsgSession* session, const mapistub::Allocators& allocators, IStorage* storage,
                        MSGCALLRELEASE* callRelease, ULONG callerData, ULONG flags, IMessage** out);
    static HRESULT OpenEmbedded(CAttachOnStorage* parent, std::shared_ptr<CMsgContent> content,
                                const CPropObject& helper, IMessage** out);

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    STDMETHODIMP SaveChanges(ULONG ulFlags) override;
    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    STDMETHODIMP OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                              LPUNKNOWN* lppUnk) override;
    STDMETHODIMP SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) override;
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

    // An attachment's SaveChanges: its content becomes part of this message.
    void StoreAttachment(ULONG number, std::shared_ptr<CAttachContent> content);
    const CPropObject& Helper() const { return m_helper; }
    void DetachSession() { m_session = nullptr; }

private:
    HRESULT CopyInto(const CMsgCopier::Selection& selection, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                     LPSPropProblemArray* lppProblems);
    friend class common::CUnknownImpl<CMsgOnStorage, IMessage>;
    CMsgOnStorage(const CPropObject& helper, std::shared_ptr<CMsgContent> content);
    ~CMsgOnStorage() override;

    HRESULT MakeTable(ULONG indexTag, const std::vector<const CPropBag*>& rows, ULONG extraKeyTag,
                      LPMAPITABLE* table) const;

    CPropObject m_helper;
    std::shared_ptr<CMsgContent> m_content;
    ComPtr<IStorage> m_storage;          // top-level only
    ComPtr<IAttach> m_parentAttach;      // embedded only
    CAttachOnStorage* m_parent = nullptr;
    CMsgSession* m_session = nullptr;
    MSGCALLRELEASE* m_callRelease = nullptr;
    ULONG m_callerData = 0;
    ULONG m_flags = 0;
};
