#pragma once
// The stand-in Outlook that tests drive: it logs on to a MAPI profile as
// Outlook does (a shared session, so other code of the process can join it),
// serves the Application, its MAPI NameSpace and an Explorer with Office's
// command bars, loads COM add-ins as Outlook's add-in manager does and plays
// the user: clicking a command-bar button, closing the Explorer, opening a
// folder's Properties dialog (after OptionsPagesAdd) with the pages add-ins added.
//
// Add-in lifetime, as Outlook's add-in manager runs it:
// - at start-up, each add-in registered under the current user's or the
//   machine's "Software\Microsoft\Office\Outlook\Addins\<ProgID>" whose
//   LoadBehavior is 3 (load at start-up, connected) is created (its class
//   from the ProgID, asked for _IDTExtensibility2) and connected with
//   ext_cm_Startup; when all are connected each gets OnAddInsUpdate, then
//   OnStartupComplete. An add-in whose creation or OnConnection fails is
//   released and its LoadBehavior loses the "loaded" bit (3 becomes 2);
// - an add-in connected later (ext_cm_AfterStartup) is followed by
//   OnAddInsUpdate to every connected add-in;
// - closing the Explorer fires ExplorerEvents.Close; as it is the last window,
//   Outlook then quits: OnBeginShutdown to every add-in, then
//   OnDisconnection(ext_dm_HostShutdown), then release. An add-in the user
//   unloads gets OnDisconnection(ext_dm_UserClosed) and the others OnAddInsUpdate.
// Every call's result is recorded (Calls). Everything runs on the creating
// thread, which must be a single-threaded apartment.
#include "Platform.h"
#include "CFolderPropertiesDialog.h"
#include "COutlookState.h"
#include "OutlookObjectModel.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace olhost {

struct HostOptions {
    // Application.Version; one beginning with "9" plays Outlook 2000 (Office
    // 2000 buttons: no Picture or Mask).
    std::wstring version = L"11.0.8217";
    // Whether an Explorer is open (Outlook started without a window has none).
    bool withExplorer = true;
};

struct AddInCall {
    std::wstring method; // "OnConnection", "OnAddInsUpdate", ...
    long mode = -1;      // the connect or disconnect mode, where the call has one
    HRESULT result = S_OK;
};

struct ControlSnapshot {
    long type = 0;
    int id = 0;
    bool builtIn = false;
    bool temporary = false;
    std::wstring caption, tag, tooltip, onAction, parameter;
    bool visible = false;
    bool enabled = false;
    bool beginGroup = false;
    int priority = 0;
    long style = 0;
    long state = 0;
    int faceId = 0;
    FaceImage pastedFace;
    ComPtr<IPictureDisp> picture;
    ComPtr<IPictureDisp> mask;
    size_t clickSinks = 0;
    int defaultActions = 0;
};

struct BarSnapshot {
    std::wstring name;
    bool builtIn = false;
    bool temporary = false;
    bool visible = false;
    bool enabled = false;
    long position = 0;
    long type = 0;
    int top = 0;
    int left = 0;
    int rowIndex = 0;
    std::vector<ControlSnapshot> controls;
};

class COutlookHost {
public:
    static HRESULT Start(const std::wstring& profile, const HostOptions& options, std::unique_ptr<COutlookHost>* out);
    ~COutlookHost();
    COutlookHost(const COutlookHost&) = delete;
    COutlookHost& operator=(const COutlookHost&) = delete;

    outlook::_Application* Application() const { return m_application.Get(); }
    IMAPISession* Session() const { return m_state->session.Get(); }

    // Add-ins.
    HRESULT LoadRegisteredAddIns();
    HRESULT ConnectAddIn(const std::wstring& progId, extensibility::ext_ConnectMode mode);
    // OnAddInsUpdate, then OnStartupComplete, to the add-ins connected at start-up.
    HRESULT CompleteStartup();
    HRESULT UnloadAddIn(const std::wstring& progId);
    // Outlook quits (the Explorer, when open, closes first).
    HRESULT Shutdown();
    bool IsConnected(const std::wstring& progId) const;
    std::vector<AddInCall> Calls(const std::wstring& progId) const;

    // The Explorer.
    bool HasExplorer() const { return m_state->explorerOpen; }
    // The user closes the Explorer: Close fires and, the last window gone,
    // Outlook quits.
    HRESULT CloseExplorer();
    std::vector<BarSnapshot> Bars() const;
    // A user's click on the button with this Tag on the named bar: refused
    // (E_ACCESSDENIED) when the button or its bar is hidden or disabled.
    HRESULT ClickButton(const std::wstring& barName, const std::wstring& tag, bool* cancelled = nullptr);
    size_t ExplorerSinkCount() const { return m_state->explorerSinks->Count(); }
    size_t NameSpaceSinkCount() const { return m_state->nameSpaceSinks->Count(); }

    // Folders, by path "Store\Folder\..." (the first part names a store's top
    // folder as NameSpace.Folders does).
    HRESULT FindFolder(const std::wstring& path, ComPtr<outlook::MAPIFolder>* folder) const;
    // The user opens the folder's Properties: OptionsPagesAdd(Pages, Folder)
    // goes to the NameSpace's sinks, then the dialog shows with the pages
    // added (startPage shown first). *pages receives what was added.
    HRESULT ShowFolderProperties(outlook::MAPIFolder* folder, const std::wstring& startPage,
                                 std::unique_ptr<CFolderPropertiesDialog>* dialog,
                                 std::vector<PageEntry>* pages = nullptr);

    // Forgets the command-bar customization earlier hosts of the process kept.
    static void ForgetCustomizations() { CCommandBarModel::ForgetCustomizations(); }

private:
    struct AddIn {
        std::wstring progId;
        ComPtr<extensibility::_IDTExtensibility2> extensibility;
        ComPtr<IDispatch> addInObject;
        bool startup = false;
    };

    COutlookHost() = default;
    void Record(const std::wstring& progId, const wchar_t* method, long mode, HRESULT result);
    HRESULT Connect(const std::wstring& progId, extensibility::ext_ConnectMode mode);
    void UpdateAll();
    void CloseExplorerWindow();
    AddIn* Find(const std::wstring& progId);

    StatePtr m_state;
    ComPtr<outlook::_Application> m_application;
    ComPtr<outlook::_NameSpace> m_nameSpace;
    ComPtr<outlook::_Explorer> m_explorer;
    std::vector<AddIn> m_addIns;
    std::map<std::wstring, std::vector<AddInCall>> m_calls;
    bool m_mapiInitialized = false;
    bool m_shutDown = false;
};

} // namespace olhost
