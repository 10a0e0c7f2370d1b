#include "ProviderPlatform.h"
#include "CDatabaseWizardPage.h"

#include "Messages.h"
#include "Pickers.h"
#include "ResourceStrings.h"
#include "WizardHelp.h"
#include "WizardResources.h"

#include <shlobj.h>

#include <cwctype>

namespace {

constexpr UINT kIdsMissingDatabase = 305;
constexpr UINT kIdsDatabaseNotFound = 306;
constexpr UINT kIdsFolderNotFound = 304;
constexpr UINT kIdsSelectDatabase = 307;
constexpr UINT kIdsDatabaseFilter = 308;
constexpr UINT kIdsSelectLogFolder = 309;
constexpr UINT kIdsHeaderTitle = 310;
constexpr UINT kIdsHeaderSubtitle = 311;
constexpr UINT kIdsDatabaseLabel = 350;
constexpr UINT kIdsLogLabel = 351;
constexpr UINT kIdsLogNote = 352;
constexpr UINT kIdsBrowse = 353;
constexpr UINT kIdsBrowseSecond = 354;
constexpr UINT kIdsWrongDisk = 356;

// Both paths begin on different drives (each longer than 2 characters);
// drive letters are the same in either case.
bool OnOtherDrive(const std::wstring& path, const std::wstring& root)
{
    return path.size() > 2 && root.size() > 2 && std::towupper(path[0]) != std::towupper(root[0]);
}

} // namespace

const ui::SMessageEntry<CDatabaseWizardPage> CDatabaseWizardPage::kMessages[] = {
    {WM_INITDIALOG, ui::kAny, ui::kAny, &CDatabaseWizardPage::OnInitDialog},
    {WM_COMMAND, IDC_DATABASE_BROWSE, BN_CLICKED, &CDatabaseWizardPage::OnBrowseDatabase},
    {WM_COMMAND, IDC_LOG_BROWSE, BN_CLICKED, &CDatabaseWizardPage::OnBrowseLogs},
    {0, 0, 0, nullptr},
};

CDatabaseWizardPage::CDatabaseWizardPage() : CPropertyPageImpl(IDD_DATABASE_PAGE)
{
    SetHeader(LoadResString(kIdsHeaderTitle), LoadResString(kIdsHeaderSubtitle));
}

INT_PTR CDatabaseWizardPage::OnInitDialog(WPARAM, LPARAM)
{
    m_databaseEdit = Item(IDC_DATABASE_PATH);
    m_logEdit = Item(IDC_LOG_PATH);
    SetItemText(IDC_DATABASE_LABEL, LoadResString(kIdsDatabaseLabel));
    SetItemText(IDC_LOG_LABEL, LoadResString(kIdsLogLabel));
    SetItemText(IDC_LOG_NOTE, LoadResString(kIdsLogNote));
    SetItemText(IDC_DATABASE_BROWSE, LoadResString(kIdsBrowse));
    SetItemText(IDC_LOG_BROWSE, LoadResString(kIdsBrowseSecond));
    if (Data().Reconfigure) {
        SendMessageW(m_databaseEdit, EM_SETREADONLY, TRUE, 0);
        SendMessageW(m_logEdit, EM_SETREADONLY, TRUE, 0);
        EnableItem(IDC_DATABASE_BROWSE, false);
        EnableItem(IDC_LOG_BROWSE, false);
    }
    return TRUE;
}

void CDatabaseWizardPage::EnablePaths(bool enable) const
{
    EnableWindow(m_databaseEdit, enable);
    EnableWindow(m_logEdit, enable);
    EnableItem(IDC_DATABASE_BROWSE, enable);
    EnableItem(IDC_LOG_BROWSE, enable);
}

int CDatabaseWizardPage::OnSetActive()
{
    CWizardData& data = Data();
    SetWizardButtons(data.DevicePresent ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_NEXT);
    if (data.SourceKind == 2 && !data.VersionDatabaseFile.empty()) {
        // The catalog names the file; the image holds it under "Data".
        const size_t last = data.VersionDatabaseFile.rfind(L'\\');
        const std::wstring file =
            last == std::wstring::npos ? data.VersionDatabaseFile : data.VersionDatabaseFile.substr(last + 1);
        data.DatabasePath = data.DatabaseMountRoot + L"Data\\" + file;
        data.LogPath = data.DatabaseMountRoot + L"Data";
        EnablePaths(false);
    } else {
        // A choice made on volumes that are no longer at those drives is
        // forgotten.
        if (data.SourceKind == 1 && (OnOtherDrive(data.DatabasePath, data.DatabaseMountRoot) ||
                                     OnOtherDrive(data.LogPath, data.LogMountRoot))) {
            data.LogPath.clear();
            data.DatabasePath.clear();
        }
        EnablePaths(true);
        if (data.Reconfigure) {
            EnableItem(IDC_DATABASE_BROWSE, false);
            EnableItem(IDC_LOG_BROWSE, false);
        }
    }
    SetWindowTextW(m_databaseEdit, data.DatabasePath.c_str());
    SetWindowTextW(m_logEdit, data.LogPath.c_str());
    return 0;
}

int CDatabaseWizardPage::OnWizardNext()
{
    CWizardData& data = Data();
    if (data.Reconfigure)
        return kDefaultPage;
    const std::wstring database = ui::Trimmed(ItemText(IDC_DATABASE_PATH));
    const std::wstring logs = ui::Trimmed(ItemText(IDC_LOG_PATH));
    if (database.empty()) {
        Warn(LoadResString(kIdsMissingDatabase));
        return kStay;
    }
    if (GetFileAttributesW(database.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Warn(ui::FormatResource(kIdsDatabaseNotFound, database.c_str()));
        FocusItem(IDC_DATABASE_PATH);
        return kStay;
    }
    if (!logs.empty()) {
        const DWORD attributes = GetFileAttributesW(logs.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            Warn(ui::FormatResource(kIdsFolderNotFound, logs.c_str()));
            FocusItem(IDC_LOG_PATH);
            return kStay;
        }
    }
    data.DatabasePath = database;
    data.LogPath = logs;
    return kDefaultPage;
}

int CDatabaseWizardPage::OnWizardBack()
{
    const int source = Data().SourceKind == 1 ? IDD_VOLUME_PAGE
                       : Data().SourceKind == 2 ? IDD_VERSION_PAGE
                                                : IDD_DATASOURCE_PAGE;
    // Without the archive's page the way back is the data-source page.
    return SheetHasPage(source) ? source : IDD_DATASOURCE_PAGE;
}

void CDatabaseWizardPage::OnHelp()
{
    ShowWizardHelp(IDD_DATABASE_PAGE, 0);
}

INT_PTR CDatabaseWizardPage::OnBrowseDatabase(WPARAM, LPARAM)
{
    const CWizardData& data = Data();
    ui::SOpenFile open;
    open.filter = ui::FilterFromTable(LoadResString(kIdsDatabaseFilter));
    open.title = LoadResString(kIdsSelectDatabase);
    if (data.SourceKind == 0) {
        open.owner = GetActiveWindow();
        open.defaultExtension = L"edb";
        open.flags = OFN_EXPLORER | OFN_HIDEREADONLY;
    } else {
        open.owner = Window();
        open.defaultExtension = L"kzf";
        open.flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ENABLEHOOK | OFN_HIDEREADONLY;
        open.hook = DriveHook;
        if (data.SourceKind == 1 && !data.DatabaseMountRoot.empty())
            open.initialFolder = data.DatabaseMountRoot;
        open.hookData = reinterpret_cast<LPARAM>(open.initialFolder.c_str());
    }
    std::wstring path;
    if (ui::GetOpenFilePath(open, path))
        SetWindowTextW(m_databaseEdit, path.c_str());
    return 0;
}

UINT_PTR CALLBACK CDatabaseWizardPage::DriveHook(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    // The initial folder travels in a window property of the hook's dialog;
    // its window words belong to the common dialog.
    static const wchar_t kInitialFolder[] = L"VostrelInitialFolder";
    if (message == WM_INITDIALOG) {
        const OPENFILENAMEW* open = reinterpret_cast<const OPENFILENAMEW*>(lParam);
        if (open && open->lCustData)
            SetPropW(dialog, kInitialFolder, reinterpret_cast<HANDLE>(open->lCustData));
        return 0;
    }
    if (message == WM_DESTROY) {
        RemovePropW(dialog, kInitialFolder);
        return 0;
    }
    if (message != WM_NOTIFY || !lParam || reinterpret_cast<const NMHDR*>(lParam)->code != CDN_FILEOK)
        return 0;
    const wchar_t* initial = reinterpret_cast<const wchar_t*>(GetPropW(dialog, kInitialFolder));
    if (!initial || !*initial)
        return 0;
    // The hook's window is a child of the dialog; the dialog answers CDM_*.
    HWND host = GetParent(dialog);
    wchar_t chosen[MAX_PATH] = {};
    SendMessageW(host, CDM_GETFILEPATH, MAX_PATH, reinterpret_cast<LPARAM>(chosen));
    // Drive letters compare without regard to case.
    if (std::towupper(chosen[0]) == std::towupper(initial[0]))
        return 0;
    ui::ShowMessage(host, ui::FormatResource(kIdsWrongDisk, initial[0]), MB_ICONWARNING);
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
    return 1;
}

INT_PTR CDatabaseWizardPage::OnBrowseLogs(WPARAM, LPARAM)
{
    const CWizardData& data = Data();
    ui::SFolderBrowse browse;
    browse.owner = Window();
    browse.title = LoadResString(kIdsSelectLogFolder);
    browse.flags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_BROWSEINCLUDEURLS |
                   BIF_NONEWFOLDERBUTTON;
    if (data.SourceKind == 0) {
        const std::wstring database = ItemText(IDC_DATABASE_PATH);
        const size_t last = database.rfind(L'\\');
        if (last != std::wstring::npos) {
            browse.select = database.substr(0, last + 1);
            browse.expand = true;
        }
    } else if (data.SourceKind == 1 && !data.DatabaseMountRoot.empty()) {
        browse.root = data.LogMountRoot;
        browse.select = data.LogMountRoot;
    }
    std::wstring folder;
    if (ui::BrowseForFolder(browse, folder))
        SetWindowTextW(m_logEdit, ui::WithOneTrailingBackslash(folder).c_str());
    return 0;
}

void CDatabaseWizardPage::Warn(const std::wstring& text) const
{
    ui::ShowMessage(Window(), text, MB_ICONWARNING);
}
