#include "Platform.h"
#include "AutomationValues.h"
#include "CTestAddIn.h"

#include <olectl.h>

#include <string>

namespace olhosttest {

namespace {

// An event sink: answers its outgoing interface and hands each event to the add-in.
class CSink final : public common::CUnknownImpl<CSink, IDispatch> {
public:
    using Handler = void (*)(CTestAddIn* addIn, DISPID id, DISPPARAMS* params);
    static HRESULT Create(CTestAddIn* addIn, REFIID events, Handler handler, IUnknown** out)
    {
        if (!out)
            return E_POINTER;
        *out = static_cast<IDispatch*>(new (std::nothrow) CSink(addIn, events, handler));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv && IsEqualIID(riid, m_events)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return CUnknownImpl::QueryInterface(riid, ppv);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (m_addIn)
            m_handler(m_addIn, id, params);
        return S_OK;
    }

private:
    friend class common::CUnknownImpl<CSink, IDispatch>;
    CSink(CTestAddIn* addIn, REFIID events, Handler handler) : m_addIn(addIn), m_events(events), m_handler(handler) {}
    CTestAddIn* m_addIn; // the add-in outlives its advised sinks
    IID m_events;
    Handler m_handler;
};

HBITMAP MakeFace(COLORREF color)
{
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT rect = {0, 0, 16, 16};
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

HRESULT PictureOf(HBITMAP bitmap, IPictureDisp** picture)
{
    PICTDESC description{};
    description.cbSizeofstruct = sizeof(description);
    description.picType = PICTYPE_BITMAP;
    description.bmp.hbitmap = bitmap;
    return OleCreatePictureIndirect(&description, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(picture));
}

void Note(HRESULT* slot, HRESULT hr)
{
    if (FAILED(hr) && SUCCEEDED(*slot))
        *slot = hr;
}

} // namespace

CTestAddIn::~CTestAddIn() = default;

STDMETHODIMP CTestAddIn::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CTestAddIn::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT CTestAddIn::Advise(IUnknown* source, REFIID iid, IUnknown* sink, DWORD* cookie)
{
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf()));
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(hr))
        hr = container->FindConnectionPoint(iid, point.GetAddressOf());
    if (SUCCEEDED(hr))
        hr = point->Advise(sink, cookie);
    return hr;
}

void CTestAddIn::Unadvise(IUnknown* source, REFIID iid, DWORD* cookie)
{
    if (!source || !*cookie)
        return;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf()))) &&
        SUCCEEDED(container->FindConnectionPoint(iid, point.GetAddressOf())))
        point->Unadvise(*cookie);
    *cookie = 0;
}

STDMETHODIMP CTestAddIn::OnConnection(IDispatch* Application, extensibility::ext_ConnectMode ConnectMode, IDispatch*,
                                      SAFEARRAY** custom)
{
    TestAddInScript* script = TestAddInScriptOf();
    ++script->connections;
    script->connectMode = ConnectMode;
    if (!custom || !*custom)
        return E_POINTER;
    if (script->failConnection)
        return E_FAIL;
    if (!Application ||
        FAILED(Application->QueryInterface(__uuidof(outlook::_Application), reinterpret_cast<void**>(m_application.GetAddressOf()))))
        return S_OK;
    BSTR version = nullptr;
    if (SUCCEEDED(m_application->get_Version(&version)))
        wcsncpy(script->version, Take(version).c_str(), 63);
    if (FAILED(m_application->ActiveExplorer(m_explorer.GetAddressOf())) || !m_explorer)
        return S_OK;
    CSink::Create(this, __uuidof(outlook::ExplorerEvents),
                  [](CTestAddIn* a, DISPID id, DISPPARAMS*) {
                      if (id == outlook::dispid::ExplorerEventClose)
                          a->OnExplorerClose();
                  },
                  m_explorerSink.GetAddressOf());
    Advise(m_explorer.Get(), __uuidof(outlook::ExplorerEvents), m_explorerSink.Get(), &m_explorerCookie);
    CText mapi(L"MAPI");
    if (SUCCEEDED(m_application->GetNamespace(mapi.Bstr(), m_nameSpace.GetAddressOf())) && m_nameSpace) {
        CSink::Create(this, __uuidof(outlook::NameSpaceEvents),
                      [](CTestAddIn* a, DISPID id, DISPPARAMS* params) {
                          if (id == outlook::dispid::NameSpaceEventOptionsPagesAdd)
                              a->OnOptionsPagesAdd(params);
                      },
                      m_nameSpaceSink.GetAddressOf());
        Advise(m_nameSpace.Get(), __uuidof(outlook::NameSpaceEvents), m_nameSpaceSink.Get(), &m_nameSpaceCookie);
    }
    if (SUCCEEDED(m_explorer->get_CommandBars(m_bars.GetAddressOf())) && m_bars)
        script->toolbarResult = AddToolBar();
    return S_OK;
}

HRESULT CTestAddIn::AddToolBar()
{
    TestAddInScript* script = TestAddInScriptOf();
    HRESULT result = S_OK;
    ComPtr<office::CommandBar> bar;
    int count = 0;
    Note(&result, m_bars->get_Count(&count));
    for (int i = 1; i <= count && !bar; ++i) {
        ComPtr<office::CommandBar> candidate;
        if (FAILED(m_bars->get_Item(Long(i), candidate.GetAddressOf())))
            continue;
        BSTR name = nullptr;
        if (SUCCEEDED(candidate->get_Name(&name)) && Take(name) == script->barName)
            bar = candidate;
    }
    if (!bar) {
        CText name(script->barName);
        HRESULT hr = m_bars->Add(name.Value(), Long(office::msoBarTop), Missing(), Bool(script->temporaryBar),
                                 bar.GetAddressOf());
        if (FAILED(hr))
            return hr;
    }
    Note(&result, bar->put_Visible(VARIANT_TRUE));
    Note(&result, bar->put_Enabled(VARIANT_TRUE));
    ComPtr<office::CommandBarControl> control;
    CText tag(script->buttonTag);
    Note(&result, bar->FindControl(Missing(), Missing(), tag.Value(), Missing(), Missing(), control.GetAddressOf()));
    if (!control)
        Note(&result, AddButton(bar.Get(), control.GetAddressOf()));
    if (control) {
        Note(&result, control->put_Enabled(VARIANT_TRUE));
        Note(&result, control.As(&m_button));
        CSink::Create(this, __uuidof(office::_CommandBarButtonEvents),
                      [](CTestAddIn* a, DISPID id, DISPPARAMS* params) {
                          if (id == office::dispid::ButtonEventClick)
                              a->OnClick(params);
                      },
                      m_clickSink.GetAddressOf());
        Note(&result, Advise(m_button.Get(), __uuidof(office::_CommandBarButtonEvents), m_clickSink.Get(), &m_clickCookie));
    }
    return result;
}

HRESULT CTestAddIn::AddButton(office::CommandBar* bar, office::CommandBarControl** out)
{
    TestAddInScript* script = TestAddInScriptOf();
    ComPtr<office::CommandBarControls> controls;
    HRESULT hr = bar->get_Controls(controls.GetAddressOf());
    ComPtr<office::CommandBarControl> control;
    if (SUCCEEDED(hr))
        hr = controls->Add(Long(office::msoControlButton), Missing(), Missing(), Long(1), Bool(true),
                           control.GetAddressOf());
    if (FAILED(hr))
        return hr;
    CText tag(script->buttonTag), caption(L""), tooltip(script->tooltip);
    HRESULT result = S_OK;
    Note(&result, control->put_Tag(tag.Bstr()));
    Note(&result, control->put_Caption(caption.Bstr()));
    Note(&result, control->put_Visible(VARIANT_TRUE));
    Note(&result, control->put_Priority(1));
    Note(&result, control->put_BeginGroup(VARIANT_TRUE));
    Note(&result, control->put_TooltipText(tooltip.Bstr()));
    ComPtr<office::_CommandBarButton> button;
    Note(&result, control.As(&button));
    if (button) {
        Note(&result, button->put_Style(office::msoButtonIconAndCaption));
        script->faceResult = SetFace(button.Get());
    }
    *out = control.Detach();
    return result;
}

HRESULT CTestAddIn::SetFace(office::_CommandBarButton* button)
{
    TestAddInScript* script = TestAddInScriptOf();
    std::wstring version = script->version;
    if (version.empty() || version[0] == L'9') {
        // Office 2000 buttons take their face from the clipboard.
        script->pastedFace = true;
        HBITMAP face = MakeFace(RGB(0, 128, 255));
        if (!OpenClipboard(nullptr)) {
            DeleteObject(face);
            return E_FAIL;
        }
        EmptyClipboard();
        SetClipboardData(CF_BITMAP, face);
        CloseClipboard();
        return button->PasteFace();
    }
    ComPtr<IPictureDisp> picture, mask;
    HRESULT hr = PictureOf(MakeFace(RGB(255, 0, 0)), picture.GetAddressOf());
    if (SUCCEEDED(hr))
        hr = PictureOf(MakeFace(RGB(0, 0, 0)), mask.GetAddressOf());
    if (SUCCEEDED(hr))
        hr = button->put_Picture(picture.Get());
    if (SUCCEEDED(hr))
        hr = button->put_Mask(mask.Get());
    return hr;
}

void CTestAddIn::OnClick(DISPPARAMS* params)
{
    TestAddInScript* script = TestAddInScriptOf();
    ++script->clicks;
    // Click(Ctrl, CancelDefault): the button first, CancelDefault by reference last.
    script->clickArgumentsAsDocumented = false;
    if (params->cArgs != 2 || params->cNamedArgs != 0 || params->rgvarg[1].vt != VT_DISPATCH ||
        params->rgvarg[0].vt != (VT_BOOL | VT_BYREF) || !params->rgvarg[0].pboolVal)
        return;
    ComPtr<office::_CommandBarButton> button;
    BSTR tag = nullptr;
    if (FAILED(params->rgvarg[1].pdispVal->QueryInterface(__uuidof(office::_CommandBarButton),
                                                          reinterpret_cast<void**>(button.GetAddressOf()))) ||
        FAILED(button->get_Tag(&tag)))
        return;
    script->clickArgumentsAsDocumented =
        Take(tag) == script->buttonTag && *params->rgvarg[0].pboolVal == VARIANT_FALSE;
    ComPtr<IUnknown> clicked, advised;
    button.As(&clicked);
    if (m_button)
        m_button.As(&advised);
    script->clickCtrlIsTheAdvisedButton = clicked && clicked.Get() == advised.Get();
    if (script->cancelDefault)
        *params->rgvarg[0].pboolVal = VARIANT_TRUE;
    // The command reaches MAPI through the session behind the NameSpace.
    ComPtr<outlook::_NameSpace> session;
    ComPtr<IUnknown> mapiObject;
    if (SUCCEEDED(m_application->get_Session(session.GetAddressOf())) &&
        SUCCEEDED(session->get_MAPIOBJECT(mapiObject.GetAddressOf())))
        script->clickSession = mapiObject.Get();
}

void CTestAddIn::OnExplorerClose()
{
    TestAddInScript* script = TestAddInScriptOf();
    ++script->explorerCloses;
    if (!m_bars)
        return;
    HRESULT result = S_OK;
    int count = 0;
    Note(&result, m_bars->get_Count(&count));
    for (int i = 1; i <= count; ++i) {
        ComPtr<office::CommandBar> bar;
        ComPtr<office::CommandBarControls> controls;
        int controlCount = 0;
        if (FAILED(m_bars->get_Item(Long(i), bar.GetAddressOf())) ||
            FAILED(bar->get_Controls(controls.GetAddressOf())) || FAILED(controls->get_Count(&controlCount)))
            continue;
        for (int c = controlCount; c >= 1; --c) {
            ComPtr<office::CommandBarControl> control;
            BSTR tag = nullptr;
            if (SUCCEEDED(controls->get_Item(Long(c), control.GetAddressOf())) && SUCCEEDED(control->get_Tag(&tag)) &&
                Take(tag) == script->buttonTag) {
                Note(&result, control->Delete(Missing()));
                ++script->deletedControls;
            }
        }
    }
    if (!m_shuttingDown) {
        ComPtr<office::CommandBar> bar;
        CText name(script->barName);
        if (SUCCEEDED(m_bars->get_Item(name.Value(), bar.GetAddressOf())))
            Note(&result, bar->Delete());
    }
    script->closeResult = result;
}

void CTestAddIn::OnOptionsPagesAdd(DISPPARAMS* params)
{
    TestAddInScript* script = TestAddInScriptOf();
    ++script->pagesAddEvents;
    // OptionsPagesAdd(Pages, Folder): the folder is the last argument, so it comes first.
    script->pagesArgumentsAsDocumented = params->cArgs == 2 && params->rgvarg[0].vt == VT_DISPATCH &&
                                         params->rgvarg[1].vt == VT_DISPATCH;
    if (!script->pagesArgumentsAsDocumented)
        return;
    ComPtr<outlook::MAPIFolder> folder;
    ComPtr<outlook::PropertyPages> pages;
    BSTR entryId = nullptr;
    if (FAILED(params->rgvarg[0].pdispVal->QueryInterface(__uuidof(outlook::MAPIFolder),
                                                          reinterpret_cast<void**>(folder.GetAddressOf()))) ||
        FAILED(folder->get_EntryID(&entryId)) ||
        FAILED(params->rgvarg[1].pdispVal->QueryInterface(__uuidof(outlook::PropertyPages),
                                                          reinterpret_cast<void**>(pages.GetAddressOf())))) {
        script->pagesArgumentsAsDocumented = false;
        return;
    }
    std::wstring id = Take(entryId);
    if (script->pageFolderEntryId[0] && id != script->pageFolderEntryId)
        return;
    CText progId(script->pageProgId), title(script->pageTitle);
    script->pageAddResult = pages->Add(progId.Value(), title.Bstr());
}

STDMETHODIMP CTestAddIn::OnBeginShutdown(SAFEARRAY**)
{
    m_shuttingDown = true;
    ++TestAddInScriptOf()->beginShutdowns;
    return E_NOTIMPL;
}

STDMETHODIMP CTestAddIn::OnDisconnection(extensibility::ext_DisconnectMode RemoveMode, SAFEARRAY**)
{
    TestAddInScriptOf()->disconnectMode = RemoveMode;
    Unadvise(m_explorer.Get(), __uuidof(outlook::ExplorerEvents), &m_explorerCookie);
    Unadvise(m_nameSpace.Get(), __uuidof(outlook::NameSpaceEvents), &m_nameSpaceCookie);
    Unadvise(m_button.Get(), __uuidof(office::_CommandBarButtonEvents), &m_clickCookie);
    m_button.Reset();
    m_bars.Reset();
    m_nameSpace.Reset();
    m_explorer.Reset();
    m_application.Reset();
    return S_OK;
}

} // namespace olhosttest
