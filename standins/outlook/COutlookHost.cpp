#include "Platform.h"
#include "COutlookHost.h"

#include "CApplication.h"
#include "CCommandBarButton.h"
#include "CExplorer.h"
#include "CMapiFolder.h"
#include "CNameSpace.h"
#include "CPropertyPages.h"

#include <mapiutil.h>

namespace olhost {

namespace {

const wchar_t kAddInsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";
constexpr DWORD kLoadedAtStartup = 3; // load at start-up (2) and connected (1)

// The COMAddIn object an add-in receives in OnConnection; the host serves none of its members.
class CAddInObject final : public common::CUnknownImpl<CAddInObject, CDispatchImpl<CAddInObject, IDispatch>> {
public:
    static HRESULT Create(IDispatch** out) { return CreateInstance(IID_IDispatch, reinterpret_cast<void**>(out)); }

private:
    friend class common::CUnknownImpl<CAddInObject, CDispatchImpl<CAddInObject, IDispatch>>;
    CAddInObject() = default;
};

// The custom array of the extensibility calls: empty.
class CCustomArray {
public:
    CCustomArray() : m_array(SafeArrayCreateVector(VT_VARIANT, 0, 0)) {}
    ~CCustomArray()
    {
        if (m_array)
            SafeArrayDestroy(m_array);
    }
    CCustomArray(const CCustomArray&) = delete;
    CCustomArray& operator=(const CCustomArray&) = delete;
    SAFEARRAY** Get() { return &m_array; }

private:
    SAFEARRAY* m_array;
};

std::vector<std::wstring> SplitPath(const std::wstring& path)
{
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

} // namespace

HRESULT COutlookHost::Start(const std::wstring& profile, const HostOptions& options, std::unique_ptr<COutlookHost>* out)
{
    if (!out)
        return E_POINTER;
    out->reset();
    std::unique_ptr<COutlookHost> host(new COutlookHost());
    host->m_state = std::make_shared<COutlookState>();
    host->m_state->version = options.version;
    HRESULT hr = MAPIInitialize(nullptr);
    if (FAILED(hr))
        return hr;
    host->m_mapiInitialized = true;
    // Outlook's session is shared: MAPILogonEx without a profile joins it.
    hr = MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(profile.c_str())), nullptr,
                     MAPI_EXTENDED | MAPI_UNICODE | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS | MAPI_NO_MAIL,
                     host->m_state->session.GetAddressOf());
    if (FAILED(hr))
        return hr;
    hr = CNameSpace::Create(host->m_state, host->m_nameSpace.GetAddressOf());
    if (FAILED(hr))
        return hr;
    if (options.withExplorer) {
        host->m_state->bars = std::make_shared<CCommandBarModel>();
        host->m_state->explorerOpen = true;
        hr = CExplorer::Create(host->m_state, host->m_explorer.GetAddressOf());
        if (FAILED(hr))
            return hr;
    }
    hr = CApplication::Create(host->m_state, host->m_nameSpace.Get(), host->m_explorer.Get(),
                              host->m_application.GetAddressOf());
    if (FAILED(hr))
        return hr;
    COutlookHost* self = host.get();
    host->m_state->closeExplorer = [self]() { return self->CloseExplorer(); };
    *out = std::move(host);
    return S_OK;
}

COutlookHost::~COutlookHost()
{
    if (m_state)
        Shutdown();
    if (m_mapiInitialized)
        MAPIUninitialize();
}

void COutlookHost::Record(const std::wstring& progId, const wchar_t* method, long mode, HRESULT result)
{
    m_calls[progId].push_back(AddInCall{method, mode, result});
}

COutlookHost::AddIn* COutlookHost::Find(const std::wstring& progId)
{
    for (AddIn& addIn : m_addIns) {
        if (_wcsicmp(addIn.progId.c_str(), progId.c_str()) == 0)
            return &addIn;
    }
    return nullptr;
}

bool COutlookHost::IsConnected(const std::wstring& progId) const
{
    return const_cast<COutlookHost*>(this)->Find(progId) != nullptr;
}

std::vector<AddInCall> COutlookHost::Calls(const std::wstring& progId) const
{
    auto it = m_calls.find(progId);
    return it == m_calls.end() ? std::vector<AddInCall>() : it->second;
}

HRESULT COutlookHost::Connect(const std::wstring& progId, extensibility::ext_ConnectMode mode)
{
    if (m_shutDown)
        return E_FAIL;
    if (Find(progId))
        return S_FALSE; // connected already
    AddIn addIn;
    addIn.progId = progId;
    addIn.startup = mode == extensibility::ext_cm_Startup;
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    ComPtr<IUnknown> object;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                              reinterpret_cast<void**>(object.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = object.As(&addIn.extensibility);
    if (SUCCEEDED(hr))
        hr = CAddInObject::Create(addIn.addInObject.GetAddressOf());
    if (FAILED(hr)) {
        Record(progId, L"Create", mode, hr);
        return hr;
    }
    CCustomArray custom;
    hr = addIn.extensibility->OnConnection(m_application.Get(), mode, addIn.addInObject.Get(), custom.Get());
    Record(progId, L"OnConnection", mode, hr);
    if (FAILED(hr))
        return hr; // not loaded: the add-in is released without OnDisconnection
    m_addIns.push_back(std::move(addIn));
    return S_OK;
}

void COutlookHost::UpdateAll()
{
    std::vector<AddIn> addIns = m_addIns;
    for (AddIn& addIn : addIns) {
        CCustomArray custom;
        Record(addIn.progId, L"OnAddInsUpdate", -1, addIn.extensibility->OnAddInsUpdate(custom.Get()));
    }
}

HRESULT COutlookHost::ConnectAddIn(const std::wstring& progId, extensibility::ext_ConnectMode mode)
{
    HRESULT hr = Connect(progId, mode);
    if (hr == S_OK && mode != extensibility::ext_cm_Startup)
        UpdateAll();
    return hr;
}

HRESULT COutlookHost::CompleteStartup()
{
    if (m_shutDown)
        return E_FAIL;
    UpdateAll();
    std::vector<AddIn> addIns = m_addIns;
    for (AddIn& addIn : addIns) {
        if (!addIn.startup)
            continue;
        CCustomArray custom;
        Record(addIn.progId, L"OnStartupComplete", -1, addIn.extensibility->OnStartupComplete(custom.Get()));
    }
    return S_OK;
}

HRESULT COutlookHost::LoadRegisteredAddIns()
{
    if (m_shutDown)
        return E_FAIL;
    // The current user's registrations come first and hide the machine's.
    std::vector<std::wstring> seen;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY addIns = nullptr;
        if (RegOpenKeyExW(root, kAddInsKey, 0, KEY_READ, &addIns) != ERROR_SUCCESS)
            continue;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = static_cast<DWORD>(std::size(name));
            if (RegEnumKeyExW(addIns, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            std::wstring progId(name, length);
            bool hidden = false;
            for (const auto& other : seen)
                hidden = hidden || _wcsicmp(other.c_str(), progId.c_str()) == 0;
            DWORD behavior = 0;
            DWORD size = sizeof(behavior);
            DWORD type = 0;
            if (hidden || RegGetValueW(addIns, progId.c_str(), L"LoadBehavior", RRF_RT_ANY, &type, &behavior, &size) !=
                              ERROR_SUCCESS ||
                type != REG_DWORD)
                continue;
            seen.push_back(progId);
            if ((behavior & kLoadedAtStartup) != kLoadedAtStartup)
                continue;
            if (FAILED(Connect(progId, extensibility::ext_cm_Startup))) {
                // Outlook stops loading an add-in that failed to connect.
                HKEY key = nullptr;
                if (RegOpenKeyExW(addIns, progId.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                    DWORD disconnected = behavior & ~1u;
                    RegSetValueExW(key, L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&disconnected),
                                   sizeof(disconnected));
                    RegCloseKey(key);
                }
            }
        }
        RegCloseKey(addIns);
    }
    return CompleteStartup();
}

HRESULT COutlookHost::UnloadAddIn(const std::wstring& progId)
{
    for (auto it = m_addIns.begin(); it != m_addIns.end(); ++it) {
        if (_wcsicmp(it->progId.c_str(), progId.c_str()) != 0)
            continue;
        AddIn addIn = *it;
        m_addIns.erase(it);
        CCustomArray custom;
        Record(addIn.progId, L"OnDisconnection", extensibility::ext_dm_UserClosed,
               addIn.extensibility->OnDisconnection(extensibility::ext_dm_UserClosed, custom.Get()));
        UpdateAll();
        return S_OK;
    }
    return S_FALSE;
}

void COutlookHost::CloseExplorerWindow()
{
    if (!m_state->explorerOpen)
        return;
    m_state->explorerSinks->Fire(outlook::dispid::ExplorerEventClose, nullptr, 0);
    m_state->explorerOpen = false;
    m_state->explorerSinks->Clear();
    if (m_state->bars)
        m_state->bars->Close();
}

HRESULT COutlookHost::CloseExplorer()
{
    if (!m_state->explorerOpen)
        return E_FAIL;
    CloseExplorerWindow();
    return Shutdown();
}

HRESULT COutlookHost::Shutdown()
{
    if (m_shutDown)
        return S_FALSE;
    m_shutDown = true;
    CloseExplorerWindow();
    std::vector<AddIn> addIns = m_addIns;
    for (AddIn& addIn : addIns) {
        CCustomArray custom;
        Record(addIn.progId, L"OnBeginShutdown", -1, addIn.extensibility->OnBeginShutdown(custom.Get()));
    }
    for (AddIn& addIn : addIns) {
        CCustomArray custom;
        Record(addIn.progId, L"OnDisconnection", extensibility::ext_dm_HostShutdown,
               addIn.extensibility->OnDisconnection(extensibility::ext_dm_HostShutdown, custom.Get()));
    }
    addIns.clear();
    m_addIns.clear();
    // What add-ins left advised goes: the objects are gone with Outlook.
    m_state->nameSpaceSinks->Clear();
    m_state->explorerSinks->Clear();
    m_state->closeExplorer = nullptr;
    m_explorer.Reset();
    m_application.Reset();
    m_nameSpace.Reset();
    if (m_state->session) {
        m_state->session->Logoff(0, 0, 0);
        m_state->session.Reset();
    }
    return S_OK;
}

std::vector<BarSnapshot> COutlookHost::Bars() const
{
    std::vector<BarSnapshot> bars;
    if (!m_state->bars)
        return bars;
    for (const auto& bar : m_state->bars->Bars()) {
        BarSnapshot snapshot;
        snapshot.name = bar->name;
        snapshot.builtIn = bar->builtIn;
        snapshot.temporary = bar->temporary;
        snapshot.visible = bar->visible;
        snapshot.enabled = bar->enabled;
        snapshot.position = bar->position;
        snapshot.type = bar->type;
        snapshot.top = bar->top;
        snapshot.left = bar->left;
        snapshot.rowIndex = bar->rowIndex;
        for (const auto& control : CCommandBarModel::Controls(*bar)) {
            ControlSnapshot c;
            c.type = control->type;
            c.id = control->id;
            c.builtIn = control->builtIn;
            c.temporary = control->temporary;
            c.caption = control->caption;
            c.tag = control->tag;
            c.tooltip = control->tooltip;
            c.onAction = control->onAction;
            c.parameter = control->parameter;
            c.visible = control->visible;
            c.enabled = control->enabled;
            c.beginGroup = control->beginGroup;
            c.priority = control->priority;
            c.style = control->style;
            c.state = control->state;
            c.faceId = control->faceId;
            c.pastedFace = control->pastedFace;
            c.picture = control->picture;
            c.mask = control->mask;
            c.clickSinks = control->clickSinks->Count();
            c.defaultActions = control->defaultActions;
            snapshot.controls.push_back(std::move(c));
        }
        bars.push_back(std::move(snapshot));
    }
    return bars;
}

HRESULT COutlookHost::ClickButton(const std::wstring& barName, const std::wstring& tag, bool* cancelled)
{
    if (!m_state->explorerOpen || !m_state->bars)
        return E_FAIL;
    auto bar = m_state->bars->FindBar(barName);
    if (!bar)
        return E_INVALIDARG;
    ControlCriteria criteria;
    criteria.anyTag = false;
    criteria.tag = tag;
    auto control = m_state->bars->FindControl(bar.get(), criteria);
    if (!control)
        return E_INVALIDARG;
    // What the user cannot see or use cannot be clicked.
    if (!bar->visible || !bar->enabled || !control->visible || !control->enabled)
        return E_ACCESSDENIED;
    return CCommandBarButton::Click(m_state, control, cancelled);
}

HRESULT COutlookHost::FindFolder(const std::wstring& path, ComPtr<outlook::MAPIFolder>* folder) const
{
    if (!folder)
        return E_POINTER;
    folder->Reset();
    if (!m_nameSpace)
        return E_FAIL;
    std::vector<std::wstring> parts = SplitPath(path);
    if (parts.empty())
        return E_INVALIDARG;
    ComPtr<outlook::_Folders> folders;
    HRESULT hr = m_nameSpace->get_Folders(folders.GetAddressOf());
    for (const std::wstring& part : parts) {
        if (FAILED(hr))
            return hr;
        VARIANT name;
        VariantInit(&name);
        name.vt = VT_BSTR;
        name.bstrVal = SysAllocString(part.c_str());
        folder->Reset();
        hr = folders->Item(name, folder->GetAddressOf());
        VariantClear(&name);
        if (FAILED(hr))
            return hr;
        folders.Reset();
        hr = (*folder)->get_Folders(folders.GetAddressOf());
    }
    return S_OK;
}

HRESULT COutlookHost::ShowFolderProperties(outlook::MAPIFolder* folder, const std::wstring& startPage,
                                           std::unique_ptr<CFolderPropertiesDialog>* dialog,
                                           std::vector<PageEntry>* pages)
{
    if (!folder || !dialog)
        return E_POINTER;
    dialog->reset();
    if (m_shutDown)
        return E_FAIL;
    ComPtr<CPropertyPages> added;
    HRESULT hr = CPropertyPages::Create(m_state, folder, added.GetAddressOf());
    if (FAILED(hr))
        return hr;
    // OptionsPagesAdd(Pages, Folder): arguments travel last first.
    VARIANTARG args[2];
    args[0].vt = VT_DISPATCH;
    args[0].pdispVal = folder;
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = static_cast<outlook::PropertyPages*>(added.Get());
    m_state->nameSpaceSinks->Fire(outlook::dispid::NameSpaceEventOptionsPagesAdd, args, 2);
    added->CloseCollection();
    if (pages)
        *pages = added->Pages();
    BSTR name = nullptr;
    folder->get_Name(&name);
    std::wstring folderName(name ? name : L"", SysStringLen(name));
    SysFreeString(name);
    return CFolderPropertiesDialog::Open(m_state, folderName, added->Pages(), startPage, dialog);
}

} // namespace olhost
