#pragma once
// A folder of the writable store (IMAPIFolder). Its identity properties and
// counts are computed; everything else is kept in the store's content.
// Messages are messages on memory storage, opened afresh for every caller.
// Copies go through the support object's copy services.
#include "MapiSubsystem.h"
#include "CPropBag.h"

class CWritableStore;

class CWritableFolder final : public common::CUnknownImpl<CWritableFolder, IMAPIFolder> {
public:
    static HRESULT Create(CWritableStore* store, ULONG id, LPCIID iid, void** out);

    // IMAPIProp
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
    // IMAPIContainer and IMAPIFolder
    MAPI_IMAPICONTAINER_METHODS(override)
    MAPI_IMAPIFOLDER_METHODS(override)

private:
    friend class common::CUnknownImpl<CWritableFolder, IMAPIFolder>;
    CWritableFolder(CWritableStore* store, ULONG id);
    ~CWritableFolder() override = default;
    // The folder's properties with the computed ones; false when it is gone.
    bool Props(CPropBag& bag) const;

    CWritableStore* m_store;          // kept alive by m_storeRef
    ComPtr<IMsgStore> m_storeRef;
    ULONG m_id;
};
