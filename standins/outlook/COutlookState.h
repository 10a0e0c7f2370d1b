#pragma once
// What the objects of one running host share: the product version it plays,
// the MAPI session, the sinks of the NameSpace and Explorer events, and the
// Explorer's command bars. COM objects hold it by shared_ptr; it holds no COM
// object of the host's own, so no reference cycle runs through it (the
// Application and NameSpace are known only by weak pointers that their
// destructors clear).
#include "Platform.h"
#include "CCommandBarModel.h"
#include "CSinkList.h"
#include "OutlookObjectModel.h"

#include <mapix.h>

#include <functional>
#include <memory>
#include <string>

namespace olhost {

struct COutlookState {
    std::wstring version;
    ComPtr<IMAPISession> session;
    outlook::_Application* application = nullptr; // weak
    outlook::_NameSpace* nameSpace = nullptr;     // weak
    std::shared_ptr<CSinkList> nameSpaceSinks = std::make_shared<CSinkList>(__uuidof(outlook::NameSpaceEvents));
    std::shared_ptr<CSinkList> explorerSinks = std::make_shared<CSinkList>(__uuidof(outlook::ExplorerEvents));
    std::shared_ptr<CCommandBarModel> bars; // the Explorer's; null without one
    bool explorerOpen = false;
    // Closes the Explorer as the user does (Explorer.Close calls it).
    std::function<HRESULT()> closeExplorer;

    // Outlook 2000 (version 9) runs Office 2000's command bars, whose buttons
    // have no Picture and Mask.
    bool HasPictureButtons() const { return !version.empty() && version[0] != L'9'; }

    HRESULT GetApplication(outlook::_Application** out) const
    {
        if (!out)
            return E_POINTER;
        *out = application;
        if (!application)
            return E_FAIL;
        application->AddRef();
        return S_OK;
    }
    HRESULT GetApplication(IDispatch** out) const
    {
        if (!out)
            return E_POINTER;
        outlook::_Application* app = nullptr;
        HRESULT hr = GetApplication(&app);
        *out = app;
        return hr;
    }
    HRESULT GetNameSpace(outlook::_NameSpace** out) const
    {
        if (!out)
            return E_POINTER;
        *out = nameSpace;
        if (!nameSpace)
            return E_FAIL;
        nameSpace->AddRef();
        return S_OK;
    }
};

using StatePtr = std::shared_ptr<COutlookState>;

// Office's Creator property: a four-character code of the application that
// made the object ('OUTL' here).
constexpr long kCreatorCode = 0x4F55544C;

} // namespace olhost
