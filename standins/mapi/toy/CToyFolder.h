#pragma once
// A read-only toy folder: its properties in a message on memory storage,
// its messages (CToyMessage over messages on memory storage) and its
// sub-folders listed in its contents and hierarchy tables. Copies go
// through the support object, as a store provider's folders do.
#include "MapiSubsystem.h"
#include "ToyState.h"

#include <vector>

class CToyFolder final : public common::CUnknownImpl<CToyFolder, IMAPIFolder> {
public:
    static HRESULT Create(IMAPISupport* support, const ToyEntryId& id, const ToyEntryId& parent, CToyFolder** out);

    const ToyEntryId& Id() const { return m_id; }
    IMessage* Holder() const { return m_props.Get(); }
    // Builds content: a message (filled by the caller) or a sub-folder.
    HRESULT AddMessage(ULONG id, IMessage** message);
    HRESULT AddFolder(ULONG id, const wchar_t* name, CToyFolder** folder);
    // Finds a folder or message anywhere below this folder.
    HRESULT Open(const ToyEntryId& id, LPCIID iid, ULONG* type, LPUNKNOWN* out);

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
    MAPI_IMAPICONTAINER_METHODS(override)
    MAPI_IMAPIFOLDER_METHODS(override)

private:
    friend class common::CUnknownImpl<CToyFolder, IMAPIFolder>;
    CToyFolder(IMAPISupport* support, const ToyEntryId& id) : m_support(support), m_id(id) {}
    ~CToyFolder() override = default;
    HRESULT Table(bool folders, LPMAPITABLE* out);

    struct Item {
        ToyEntryId id;
        ComPtr<IMessage> message;
    };
    ComPtr<IMAPISupport> m_support;
    ToyEntryId m_id;
    ComPtr<IMessage> m_props;
    std::vector<Item> m_messages;
    std::vector<ComPtr<IMAPIFolder>> m_folders;
    std::vector<CToyFolder*> m_folderObjects; // the same objects as m_folders
};
