#pragma once
// An attachment of a message on storage. It edits a working copy of the
// attachment's content; SaveChanges hands the copy to the message, and an
// embedded message opened through PR_ATTACH_DATA_OBJ hands its content to
// this working copy when it is saved. An OLE attachment's storage, opened
// through PR_ATTACH_DATA_OBJ as IStorage, works on the working copy's
// compound file directly.
#include "MapiStandin.h"
#include "CUnknownImpl.h"
#include "CMsgContent.h"
#include "CMsgCopier.h"
#include "MapiIids.h"

#include <memory>

class CMsgOnStorage;

class CAttachOnStorage final : public common::CUnknownImpl<CAttachOnStorage, IAttach> {
public:
    static HRESULT Create(CMsgOnStorage* parent, ULONG number, std::shared_ptr<CAttachContent> working,
                          IAttach** out);

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

    // An embedded message's SaveChanges.
    void StoreEmbedded(std::shared_ptr<CMsgContent> content);

private:
    // PR_ATTACH_DATA_OBJ as IStorage: the OLE attachment's storage, made new
    // with MAPI_CREATE (and MAPI_MODIFY).
    HRESULT OpenStorage(ULONG ulFlags, IStorage** out);
    HRESULT CopyInto(const CMsgCopier::Selection& selection, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                     LPSPropProblemArray* lppProblems);
    friend class common::CUnknownImpl<CAttachOnStorage, IAttach>;
    CAttachOnStorage(CMsgOnStorage* parent, ULONG number, std::shared_ptr<CAttachContent> working);
    ~CAttachOnStorage() override = default;

    ComPtr<IMessage> m_parentRef;
    CMsgOnStorage* m_parent;
    ULONG m_number;
    std::shared_ptr<CAttachContent> m_working;
};
