#include "ProviderPlatform.h"
#include "CConnect.h"

#include "AddInResources.h"
#include "CEntryId.h"
#include "CStoreConfig.h"
#include "ComErrorRaise.h"
#include "PageStoreUid.h"
#include "ProviderFiles.h"
#include "ResourceStrings.h"
#include "ServiceEntry.h"
#include "WizardProbes.h"

#include <commctrl.h>
#include <olectl.h>

#include <algorithm>
#include <cstring>

namespace setup {

namespace {

// IMAPISession, as MAPI documents it.
const IID kIidMapiSession = {0x00020300, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

const char kServiceName[] = "KOLVENOV";

// Office's documented button face colour for Outlook 2000's clipboard face.
constexpr COLORREF kFaceKeyColour = RGB(255, 0, 255);

_variant_t Missing()
{
    return _variant_t(DISP_E_PARAMNOTFOUND, VT_ERROR);
}

// Raises a failed call of object as the _com_error every step catches.
template <typename I>
void Check(HRESULT hr, I* object)
{
    if (FAILED(hr))
        RaiseComError(hr, object, __uuidof(I));
}

void CheckMapi(HRESULT hr)
{
    if (FAILED(hr))
        throw _com_error(hr);
}

std::wstring TakeText(BSTR text)
{
    std::wstring value(text ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return value;
}

bool SameUid(const MAPIUID& a, const MAPIUID& b)
{
    return std::memcmp(a.ab, b.ab, sizeof(a.ab)) == 0;
}

// The 72-byte identifier behind an Outlook folder's EntryID text, when it is
// the IPM subtree folder of a store of this provider.
bool IsOwnIpmSubtree(const std::wstring& entryIdHex, CEntryId& id)
{
    if (entryIdHex.size() != 2 * sizeof(CEntryId))
        return false;
    if (!HexToBytes(entryIdHex.c_str(), reinterpret_cast<BYTE*>(&id), sizeof(CEntryId)))
        return false;
    return SameUid(id.providerUid, kProviderUid) && id.kind == kEntryIpmSubtree;
}

// A picture over one of the library's bitmaps. The picture owns the bitmap,
// so it lives as long as anyone (Office included) holds the picture.
ComPtr<IPictureDisp> LoadPicture(UINT id)
{
    HANDLE bitmap = LoadImageW(GetResourceInstance(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS);
    if (!bitmap)
        return nullptr;
    PICTDESC description{};
    description.cbSizeofstruct = sizeof(description);
    description.picType = PICTYPE_BITMAP;
    description.bmp.hbitmap = static_cast<HBITMAP>(bitmap);
    ComPtr<IPictureDisp> picture;
    if (FAILED(OleCreatePictureIndirect(&description, IID_IPictureDisp, TRUE,
                                        reinterpret_cast<void**>(picture.GetAddressOf())))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return picture;
}

} // namespace

CConnect::CConnect()
{
    m_facePicture = LoadPicture(IDB_BUTTON_FACE);
    m_maskPicture = LoadPicture(IDB_BUTTON_MASK);
    SetPageStoreUid(std::wstring());
}

CConnect::~CConnect()
{
    m_buttonSink.Unadvise();
    m_explorerSink.Unadvise();
    m_nameSpaceSink.Unadvise();
    SetPageStoreUid(std::wstring());
}

STDMETHODIMP CConnect::OnConnection(IDispatch* Application, extensibility::ext_ConnectMode, IDispatch*, SAFEARRAY**)
{
    try {
        Connect(Application);
    } catch (const _com_error& error) {
        Record("CConnect::OnConnection", error);
    } catch (...) {
        Record("CConnect::OnConnection", _com_error(E_UNEXPECTED));
    }
    return S_OK;
}

void CConnect::Connect(IDispatch* application)
{
    if (!application || FAILED(application->QueryInterface(__uuidof(outlook::_Application),
                                                            reinterpret_cast<void**>(m_application.GetAddressOf()))))
        return;
    BSTR version = nullptr;
    Check(m_application->get_Version(&version), m_application.Get());
    const std::wstring versionText = TakeText(version);
    m_outlook2000 = versionText.empty() || versionText[0] == L'9';

    if (FAILED(m_application->ActiveExplorer(m_explorer.GetAddressOf())) || !m_explorer)
        return;
    m_explorerSink.Advise(m_explorer.Get(), __uuidof(outlook::ExplorerEvents), [this](DISPID id, DISPPARAMS*) {
        if (id == outlook::dispid::ExplorerEventClose)
            OnExplorerClose();
    });
    _bstr_t mapi(L"MAPI");
    if (SUCCEEDED(m_application->GetNamespace(mapi, m_nameSpace.GetAddressOf())) && m_nameSpace) {
        m_nameSpaceSink.Advise(m_nameSpace.Get(), __uuidof(outlook::NameSpaceEvents),
                               [this](DISPID id, DISPPARAMS* params) {
                                   if (id == outlook::dispid::NameSpaceEventOptionsPagesAdd)
                                       OnOptionsAddPages(params);
                               });
    }

    if (FAILED(m_explorer->get_CommandBars(m_commandBars.GetAddressOf())) || !m_commandBars)
        return;
    LoadResBstr(IDS_TOOLBAR_NAME, m_barName);
    LoadResBstr(IDS_TOOLBAR_TOOLTIP, m_buttonTooltip);
    AddToolBar();
}

ComPtr<office::CommandBar> CConnect::FindBar()
{
    int count = 0;
    Check(m_commandBars->get_Count(&count), m_commandBars.Get());
    const std::wstring wanted(m_barName.length() ? static_cast<const wchar_t*>(m_barName) : L"");
    for (int i = 1; i <= count; ++i) {
        ComPtr<office::CommandBar> bar;
        Check(m_commandBars->get_Item(_variant_t(static_cast<long>(i)), bar.GetAddressOf()), m_commandBars.Get());
        if (!bar)
            continue;
        BSTR name = nullptr;
        Check(bar->get_Name(&name), bar.Get());
        if (TakeText(name) == wanted)
            return bar;
    }
    return nullptr;
}

void CConnect::AddToolBar()
{
    if (!m_commandBars)
        return;
    static const char kOperation[] = "CConnect::AddToolBar";
    ComPtr<office::CommandBar> bar;
    try {
        bar = FindBar();
    } catch (const _com_error& error) {
        Record(kOperation, error);
    }
    if (!bar) {
        // Without its bar the add-in has nowhere to put its button: the
        // failure is recorded and the connection goes on without them.
        try {
            Check(m_commandBars->Add(_variant_t(m_barName), _variant_t(static_cast<long>(office::msoBarTop)), Missing(),
                                     _variant_t(true), bar.GetAddressOf()),
                  m_commandBars.Get());
        } catch (const _com_error& error) {
            Record(kOperation, error);
        }
        if (!bar)
            return;
    }
    m_bar = bar;

    try {
        Check(bar->put_Visible(VARIANT_TRUE), bar.Get());
        Check(bar->put_Enabled(VARIANT_TRUE), bar.Get());
        LONG visible = -1, position = 0, top = 0, left = 0, rowIndex = 0;
        CStoreConfig::LoadToolbarState(visible, position, top, left, rowIndex);
        Check(bar->put_Visible(visible ? VARIANT_TRUE : VARIANT_FALSE), bar.Get());
        // Zeros everywhere mean "never placed": Office keeps its own placement.
        if (position || top || left || rowIndex) {
            Check(bar->put_Position(position), bar.Get());
            Check(bar->put_Top(top), bar.Get());
            Check(bar->put_Left(left), bar.Get());
            Check(bar->put_RowIndex(rowIndex), bar.Get());
        }
    } catch (const _com_error& error) {
        Record(kOperation, error);
    }

    try {
        ComPtr<office::CommandBarControl> control;
        Check(bar->FindControl(Missing(), Missing(), _variant_t(kButtonTag), Missing(), Missing(),
                               control.GetAddressOf()),
              bar.Get());
        if (!control)
            control = AddButton(bar.Get());
        if (control) {
            Check(control->put_Enabled(VARIANT_TRUE), control.Get());
            Check(m_buttonSink.Advise(control.Get(), __uuidof(office::_CommandBarButtonEvents),
                                      [this](DISPID id, DISPPARAMS*) {
                                          if (id == office::dispid::ButtonEventClick)
                                              OnClickConfig();
                                      }),
                  control.Get());
            m_button = control;
        }
    } catch (const _com_error& error) {
        Record(kOperation, error);
    }
}

ComPtr<office::CommandBarControl> CConnect::AddButton(office::CommandBar* bar)
{
    ComPtr<office::CommandBarControl> control;
    try {
        ComPtr<office::CommandBarControls> controls;
        Check(bar->get_Controls(controls.GetAddressOf()), bar);
        Check(controls->Add(_variant_t(static_cast<long>(office::msoControlButton)), Missing(), Missing(),
                            _variant_t(1L), _variant_t(true), control.GetAddressOf()),
              controls.Get());
        if (!control)
            return nullptr;
        Check(control->put_Tag(_bstr_t(kButtonTag)), control.Get());
        Check(control->put_Caption(m_buttonCaption), control.Get());
        Check(control->put_Visible(VARIANT_TRUE), control.Get());
        Check(control->put_Priority(1), control.Get());
        Check(control->put_BeginGroup(VARIANT_TRUE), control.Get());
        Check(control->put_TooltipText(m_buttonTooltip), control.Get());
        ComPtr<office::_CommandBarButton> button;
        Check(control.As(&button), control.Get());
        Check(button->put_Style(office::msoButtonIconAndCaption), button.Get());
        SetButtonFace(button.Get());
    } catch (const _com_error& error) {
        Record("CConnect::AddButton", error);
    }
    return control;
}

void CConnect::SetButtonFace(office::_CommandBarButton* button)
{
    if (!m_outlook2000) {
        if (m_facePicture && m_maskPicture) {
            Check(button->put_Picture(m_facePicture.Get()), button);
            Check(button->put_Mask(m_maskPicture.Get()), button);
        }
        return;
    }
    // Office 2000's buttons have no Picture: the face goes through the
    // clipboard, with the key colour turned into the user's button face.
    COLORMAP map = {kFaceKeyColour, GetSysColor(COLOR_BTNFACE)};
    HBITMAP face = CreateMappedBitmap(GetResourceInstance(), IDB_BUTTON_FACE, 0, &map, 1);
    if (!face)
        throw _com_error(HRESULT_FROM_WIN32(GetLastError()));
    if (!OpenClipboard(nullptr)) {
        const DWORD error = GetLastError();
        DeleteObject(face);
        throw _com_error(HRESULT_FROM_WIN32(error));
    }
    // The clipboard owns the bitmap once it took it.
    const bool placed = SetClipboardData(CF_BITMAP, face) != nullptr;
    const DWORD error = GetLastError();
    CloseClipboard();
    if (!placed) {
        DeleteObject(face);
        throw _com_error(HRESULT_FROM_WIN32(error));
    }
    Check(button->PasteFace(), button);
}

STDMETHODIMP CConnect::OnDisconnection(extensibility::ext_DisconnectMode, SAFEARRAY**)
{
    m_explorerSink.Unadvise();
    m_nameSpaceSink.Unadvise();
    m_buttonSink.Unadvise();
    // Nothing of Outlook's is needed any more; holding it would only keep
    // Outlook's objects alive past the connection.
    m_button.Reset();
    m_bar.Reset();
    m_commandBars.Reset();
    m_nameSpace.Reset();
    m_explorer.Reset();
    m_application.Reset();
    return S_OK;
}

STDMETHODIMP CConnect::OnBeginShutdown(SAFEARRAY**)
{
    m_shutdown = true;
    return E_NOTIMPL;
}

void CConnect::OnExplorerClose()
{
    try {
        if (m_bar) {
            VARIANT_BOOL visible = VARIANT_FALSE;
            long position = 0;
            int top = 0, left = 0, rowIndex = 0;
            Check(m_bar->get_Visible(&visible), m_bar.Get());
            Check(m_bar->get_Position(&position), m_bar.Get());
            Check(m_bar->get_Top(&top), m_bar.Get());
            Check(m_bar->get_Left(&left), m_bar.Get());
            Check(m_bar->get_RowIndex(&rowIndex), m_bar.Get());
            CStoreConfig::SaveToolbarState(visible, position, top, left, rowIndex);
        }
        if (m_commandBars) {
            int barCount = 0;
            Check(m_commandBars->get_Count(&barCount), m_commandBars.Get());
            for (int b = 1; b <= barCount; ++b) {
                ComPtr<office::CommandBar> bar;
                ComPtr<office::CommandBarControls> controls;
                int controlCount = 0;
                Check(m_commandBars->get_Item(_variant_t(static_cast<long>(b)), bar.GetAddressOf()),
                      m_commandBars.Get());
                Check(bar->get_Controls(controls.GetAddressOf()), bar.Get());
                Check(controls->get_Count(&controlCount), controls.Get());
                // Office renumbers the controls after the deleted one, so the
                // walk runs from the last control to the first.
                for (int c = controlCount; c >= 1; --c) {
                    ComPtr<office::CommandBarControl> control;
                    BSTR tag = nullptr;
                    Check(controls->get_Item(_variant_t(static_cast<long>(c)), control.GetAddressOf()),
                          controls.Get());
                    Check(control->get_Tag(&tag), control.Get());
                    if (TakeText(tag) == kButtonTag)
                        Check(control->Delete(Missing()), control.Get());
                }
            }
        }
        // The button is gone: no click can come any more.
        m_buttonSink.Unadvise();
        m_button.Reset();
        DeleteToolBar();
    } catch (const _com_error& error) {
        Record("CConnect::OnExplorerClose", error);
    } catch (...) {
        Record("CConnect::OnExplorerClose", _com_error(E_UNEXPECTED));
    }
}

void CConnect::DeleteToolBar()
{
    if (!m_commandBars || m_shutdown)
        return;
    try {
        ComPtr<office::CommandBar> bar = FindBar();
        if (bar)
            Check(bar->Delete(), bar.Get());
        m_bar.Reset();
    } catch (const _com_error& error) {
        Record("CConnect::DeleteToolBar", error);
    }
}

void CConnect::OnClickConfig()
{
    try {
        AddMessageStore();
    } catch (const _com_error& error) {
        Record("CConnect::OnClickConfig", error);
    } catch (...) {
        Record("CConnect::OnClickConfig", _com_error(E_UNEXPECTED));
    }
}

ComPtr<IMAPISession> CConnect::MapiSession()
{
    if (!m_application)
        throw _com_error(E_UNEXPECTED);
    ComPtr<outlook::_NameSpace> session;
    Check(m_application->get_Session(session.GetAddressOf()), m_application.Get());
    if (!session)
        throw _com_error(E_UNEXPECTED);
    ComPtr<IUnknown> mapiObject;
    Check(session->get_MAPIOBJECT(mapiObject.GetAddressOf()), session.Get());
    ComPtr<IMAPISession> mapi;
    if (!mapiObject)
        throw _com_error(E_NOINTERFACE);
    CheckMapi(mapiObject->QueryInterface(kIidMapiSession, reinterpret_cast<void**>(mapi.GetAddressOf())));
    return mapi;
}

void CConnect::AddMessageStore()
{
    ComPtr<IMAPISession> session = MapiSession();

    // A profile that already holds a store of this provider gets no second one.
    ComPtr<IMAPITable> stores;
    CheckMapi(session->GetMsgStoresTable(0, stores.GetAddressOf()));
    SPropValue provider{};
    provider.ulPropTag = PR_MDB_PROVIDER;
    provider.Value.bin.cb = sizeof(kProviderUid);
    provider.Value.bin.lpb = const_cast<BYTE*>(kProviderUid.ab);
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = PR_MDB_PROVIDER;
    restriction.res.resProperty.lpProp = &provider;
    const HRESULT found = stores->FindRow(&restriction, BOOKMARK_BEGINNING, 0);
    stores.Reset();
    if (found != MAPI_E_NOT_FOUND) {
        CheckMapi(found);
        return;
    }

    ComPtr<IMsgServiceAdmin> admin;
    CheckMapi(session->AdminServices(0, admin.GetAddressOf()));
    std::vector<MAPIUID> before;
    GetProfileGuidList(before);

    const HRESULT created = admin->CreateMsgService(reinterpret_cast<LPTSTR>(const_cast<char*>(kServiceName)), nullptr,
                                                    0, SERVICE_UI_ALWAYS);
    admin.Reset();
    if (created != MAPI_E_USER_CANCEL) {
        CheckMapi(created);
        return;
    }

    // MAPI may keep the service whose creation the user cancelled: the one
    // service of this provider that was not there before goes again.
    LPMAPISESSION shared = nullptr;
    if (!MapiLogonShared(&shared) || !shared)
        return;
    ComPtr<IMAPISession> after;
    *after.GetAddressOf() = shared; // taken over: this toolchain's ComPtr::Attach would add a reference
    std::vector<MAPIUID> now;
    GetProfileGuidListFromProfile(after.Get(), now);
    after.Reset();
    for (const MAPIUID& uid : now) {
        const bool older = std::any_of(before.begin(), before.end(), [&](const MAPIUID& known) { return SameUid(known, uid); });
        if (!older) {
            MAPIUID cancelled = uid;
            DeleteMsgService(&cancelled);
            break;
        }
    }
}

ULONG CConnect::GetProfileGuidList(std::vector<MAPIUID>& list)
{
    ULONG appended = 0;
    try {
        if (!m_application)
            return 0;
        ComPtr<outlook::_NameSpace> nameSpace;
        Check(m_application->GetNamespace(_bstr_t(L"MAPI"), nameSpace.GetAddressOf()), m_application.Get());
        ComPtr<outlook::_Folders> folders;
        Check(nameSpace->get_Folders(folders.GetAddressOf()), nameSpace.Get());
        long count = 0;
        Check(folders->get_Count(&count), folders.Get());
        for (long i = 1; i <= count; ++i) {
            ComPtr<outlook::MAPIFolder> folder;
            Check(folders->Item(_variant_t(i), folder.GetAddressOf()), folders.Get());
            BSTR entryId = nullptr;
            Check(folder->get_EntryID(&entryId), folder.Get());
            CEntryId id;
            if (IsOwnIpmSubtree(TakeText(entryId), id)) {
                list.push_back(id.storeUid);
                ++appended;
            }
        }
    } catch (const _com_error& error) {
        Record("CConnect::GetProfileGuidList", error);
    }
    return appended;
}

void CConnect::DeleteMsgService(const MAPIUID* serviceUid)
{
    if (!serviceUid)
        return;
    ComPtr<IMAPISession> session = MapiSession();
    ComPtr<IMsgServiceAdmin> admin;
    CheckMapi(session->AdminServices(0, admin.GetAddressOf()));
    CheckMapi(admin->DeleteMsgService(const_cast<LPMAPIUID>(serviceUid)));
}

void CConnect::OnOptionsAddPages(DISPPARAMS* params)
{
    try {
        // OptionsPagesAdd(Pages, Folder): the arguments arrive last first.
        if (params->cArgs < 2 || params->rgvarg[0].vt != VT_DISPATCH || params->rgvarg[1].vt != VT_DISPATCH ||
            !params->rgvarg[0].pdispVal || !params->rgvarg[1].pdispVal)
            return;
        IDispatch* pagesArgument = params->rgvarg[1].pdispVal;
        IDispatch* folderArgument = params->rgvarg[0].pdispVal;
        ComPtr<outlook::MAPIFolder> folder;
        Check(folderArgument->QueryInterface(__uuidof(outlook::MAPIFolder), reinterpret_cast<void**>(folder.GetAddressOf())),
              folderArgument);
        BSTR entryId = nullptr;
        Check(folder->get_EntryID(&entryId), folder.Get());
        CEntryId id;
        if (!IsOwnIpmSubtree(TakeText(entryId), id))
            return;
        SetPageStoreUid(BytesToHex(id.storeUid.ab, sizeof(id.storeUid.ab)));
        ComPtr<outlook::PropertyPages> pages;
        Check(pagesArgument->QueryInterface(__uuidof(outlook::PropertyPages), reinterpret_cast<void**>(pages.GetAddressOf())),
              pagesArgument);
        _bstr_t title;
        LoadResBstr(IDS_MAILBOXES_PAGE, title);
        Check(pages->Add(_variant_t(L"KOLVEN32.ProvPropPage"), title), pages.Get());
    } catch (const _com_error& error) {
        Record("CConnect::OnOptionsAddPages", error);
    }
}

} // namespace setup
