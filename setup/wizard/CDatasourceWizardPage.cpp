#include "ProviderPlatform.h"
#include "CDatasourceWizardPage.h"

#include "CWaitDialog.h"
#include "ImageMount.h"
#include "Messages.h"
#include "Pickers.h"
#include "ResourceStrings.h"
#include "WizardHelp.h"
#include "WizardResources.h"

#include <io.h>
#include <shlobj.h>

namespace {

constexpr UINT kIdsHeaderTitle = 325;
constexpr UINT kIdsHeaderSubtitle = 326;
constexpr UINT kIdsSourceEdb = 380;
constexpr UINT kIdsSourceBackup = 381;
constexpr UINT kIdsSourceProtection = 382;
constexpr UINT kIdsBrowse = 353;
constexpr UINT kIdsBrowseSecond = 354;
constexpr UINT kIdsSelectArchiveFolder = 368;
constexpr UINT kIdsNoArchiveFolder = 369;
constexpr UINT kIdsNotLocalDrive = 378;
constexpr UINT kIdsNoRootArchive = 383;
constexpr UINT kIdsNoCatalog = 384;

// A drive with fixed or removable media at the path's first three characters.
bool OnLocalDrive(const std::wstring& folder)
{
    if (folder.size() <= 2)
        return false;
    const UINT type = GetDriveTypeW(folder.substr(0, 3).c_str());
    return type == DRIVE_FIXED || type == DRIVE_REMOVABLE;
}

} // namespace

const ui::SMessageEntry<CDatasourceWizardPage> CDatasourceWizardPage::kMessages[] = {
    {WM_INITDIALOG, ui::kAny, ui::kAny, &CDatasourceWizardPage::OnInitDialog},
    {WM_COMMAND, IDC_SOURCE_EDB, BN_CLICKED, &CDatasourceWizardPage::OnEdbClicked},
    {WM_COMMAND, IDC_SOURCE_BACKUP, BN_CLICKED, &CDatasourceWizardPage::OnBackupClicked},
    {WM_COMMAND, IDC_SOURCE_PROTECTION, BN_CLICKED, &CDatasourceWizardPage::OnProtectionClicked},
    {WM_COMMAND, IDC_BACKUP_BROWSE, BN_CLICKED, &CDatasourceWizardPage::OnBrowseBackup},
    {WM_COMMAND, IDC_CATALOG_BROWSE, BN_CLICKED, &CDatasourceWizardPage::OnBrowseCatalog},
    {0, 0, 0, nullptr},
};

CDatasourceWizardPage::CDatasourceWizardPage() : CPropertyPageImpl(IDD_DATASOURCE_PAGE)
{
    SetHeader(LoadResString(kIdsHeaderTitle), LoadResString(kIdsHeaderSubtitle));
}

INT_PTR CDatasourceWizardPage::OnInitDialog(WPARAM, LPARAM)
{
    SetItemText(IDC_SOURCE_EDB, LoadResString(kIdsSourceEdb));
    SetItemText(IDC_SOURCE_BACKUP, LoadResString(kIdsSourceBackup));
    SetItemText(IDC_SOURCE_PROTECTION, LoadResString(kIdsSourceProtection));
    SetItemText(IDC_BACKUP_BROWSE, LoadResString(kIdsBrowse));
    SetItemText(IDC_CATALOG_BROWSE, LoadResString(kIdsBrowseSecond));

    const CWizardData& data = Data();
    if (data.Reconfigure) {
        // The stored source, shown and locked.
        static const int kRadios[] = {IDC_SOURCE_EDB, IDC_SOURCE_BACKUP, IDC_SOURCE_PROTECTION};
        if (data.SourceKind >= 0 && data.SourceKind <= 2)
            SetChecked(kRadios[data.SourceKind], true);
        if (data.SourceKind == 1) {
            const size_t last = data.DatabaseImage.rfind(L'\\');
            SetItemText(IDC_BACKUP_FOLDER, last == std::wstring::npos ? data.DatabaseImage
                                                                      : data.DatabaseImage.substr(0, last));
        } else if (data.SourceKind == 2) {
            const size_t last = data.DatabaseImage.rfind(L'\\');
            const size_t secondLast =
                last == std::wstring::npos || last == 0 ? std::wstring::npos : data.DatabaseImage.rfind(L'\\', last - 1);
            SetItemText(IDC_CATALOG_FOLDER, secondLast == std::wstring::npos
                                                ? data.DatabaseImage
                                                : data.DatabaseImage.substr(0, secondLast));
        }
        for (int id = IDC_SOURCE_EDB; id <= IDC_CATALOG_BROWSE; ++id)
            EnableItem(id, false);
    } else {
        SetChecked(IDC_SOURCE_EDB, true);
        if (data.DevicePresent) {
            EnableItem(IDC_SOURCE_BACKUP, true);
            EnableItem(IDC_SOURCE_PROTECTION, true);
        }
    }
    return TRUE;
}

void CDatasourceWizardPage::EnableFolders(bool backup, bool catalog) const
{
    EnableItem(IDC_BACKUP_FOLDER, backup);
    EnableItem(IDC_BACKUP_BROWSE, backup);
    EnableItem(IDC_CATALOG_FOLDER, catalog);
    EnableItem(IDC_CATALOG_BROWSE, catalog);
}

INT_PTR CDatasourceWizardPage::OnEdbClicked(WPARAM, LPARAM)
{
    EnableFolders(false, false);
    return 0;
}

INT_PTR CDatasourceWizardPage::OnBackupClicked(WPARAM, LPARAM)
{
    EnableFolders(true, false);
    return 0;
}

INT_PTR CDatasourceWizardPage::OnProtectionClicked(WPARAM, LPARAM)
{
    EnableFolders(false, true);
    return 0;
}

INT_PTR CDatasourceWizardPage::OnBrowseBackup(WPARAM, LPARAM)
{
    BrowseInto(IDC_BACKUP_FOLDER);
    return 0;
}

INT_PTR CDatasourceWizardPage::OnBrowseCatalog(WPARAM, LPARAM)
{
    BrowseInto(IDC_CATALOG_FOLDER);
    return 0;
}

void CDatasourceWizardPage::BrowseInto(int editId) const
{
    ui::SFolderBrowse browse;
    browse.owner = Window();
    browse.title = LoadResString(kIdsSelectArchiveFolder);
    browse.flags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
    std::wstring folder;
    if (ui::BrowseForFolder(browse, folder))
        SetItemText(editId, ui::WithOneTrailingBackslash(folder));
}

int CDatasourceWizardPage::OnSetActive()
{
    SetWizardButtons(PSWIZB_NEXT);
    return 0;
}

int CDatasourceWizardPage::OnWizardNext()
{
    CWizardData& data = Data();
    // Over a stored configuration the source cannot be changed here, so a
    // check that fails (the archive moved since) must not keep the user from
    // the later pages: it finds the archive when it can and says nothing.
    m_quiet = data.Reconfigure != 0;
    const int previousKind = data.SourceKind;
    if (IsChecked(IDC_SOURCE_EDB)) {
        data.SourceKind = 0;
        LeaveSource(previousKind);
        return IDD_DATABASE_PAGE;
    }
    if (IsChecked(IDC_SOURCE_BACKUP)) {
        if (!CheckBackupArchive() && !m_quiet)
            return kStay;
        LeaveSource(previousKind);
        return ArchivePage(IDD_VOLUME_PAGE);
    }
    if (IsChecked(IDC_SOURCE_PROTECTION)) {
        if (!CheckProtectionArchive() && !m_quiet)
            return kStay;
        LeaveSource(previousKind);
        return ArchivePage(IDD_VERSION_PAGE);
    }
    return IDD_DATABASE_PAGE;
}

void CDatasourceWizardPage::LeaveSource(int previousKind)
{
    CWizardData& data = Data();
    if (data.Reconfigure || data.SourceKind == previousKind || (previousKind != 1 && previousKind != 2))
        return;
    // The paths lay on the drives of the images taken down here.
    TakeDown(data.VolumeMounts);
    TakeDown(data.VersionMounts);
    data.DatabaseImage.clear();
    data.DatabaseMountRoot.clear();
    data.LogImage.clear();
    data.LogMountRoot.clear();
    data.DatabasePath.clear();
    data.LogPath.clear();
    data.VersionDatabaseFile.clear();
    data.RestoreMap.clear();
    data.CatalogBackupId = 0;
}

void CDatasourceWizardPage::TakeDown(std::map<std::wstring, SImageMount>& mounts) const
{
    ui::CWaitDialog wait(Window());
    ui::CWaitCursor cursor;
    for (const auto& [image, mount] : mounts) {
        // An image shown before the wizard came to it is not the wizard's.
        if (mount.shownBefore)
            continue;
        uint32_t index = 0;
        DismountImage(Window(), mount.root.c_str(), &index);
        DeleteFileW((image + L".chunk.dat").c_str());
    }
    mounts.clear();
}

int CDatasourceWizardPage::ArchivePage(int page) const
{
    if (SheetHasPage(page))
        return page;
    // A wizard without the archive's page can still reopen a stored archive
    // source: its paths are locked and the mailbox page mounts it again.
    return Data().Reconfigure ? IDD_DATABASE_PAGE : kStay;
}

bool CDatasourceWizardPage::CheckBackupArchive()
{
    std::wstring folder = ItemText(IDC_BACKUP_FOLDER);
    if (folder.empty()) {
        Warn(LoadResString(kIdsNoArchiveFolder));
        return false;
    }
    folder = ui::WithOneTrailingBackslash(folder);
    if (!OnLocalDrive(folder)) {
        Warn(LoadResString(kIdsNotLocalDrive));
        return false;
    }
    // The archive is named after its folder: D:\Backups\Monday\Monday.KZF.
    const size_t previous = folder.size() >= 2 ? folder.rfind(L'\\', folder.size() - 2) : std::wstring::npos;
    if (previous == std::wstring::npos) {
        Warn(LoadResString(kIdsNoArchiveFolder));
        return false;
    }
    const std::wstring name = folder.substr(previous + 1, folder.size() - previous - 2);
    const std::wstring rootFile = folder + name + L".KZF";
    if (_waccess(rootFile.c_str(), 0) != 0) {
        Fail(ui::FormatResource(kIdsNoRootArchive, rootFile.c_str()));
        return false;
    }
    Data().ArchivePath = rootFile;
    Data().SourceKind = 1;
    return true;
}

bool CDatasourceWizardPage::CheckProtectionArchive()
{
    std::wstring folder = ItemText(IDC_CATALOG_FOLDER);
    if (folder.empty()) {
        Warn(LoadResString(kIdsNoArchiveFolder));
        return false;
    }
    const std::wstring catalog = folder + L"\\catalog.db";
    if (_waccess(catalog.c_str(), 0) != 0) {
        Fail(ui::FormatResource(kIdsNoCatalog, catalog.c_str()));
        return false;
    }
    folder = ui::WithOneTrailingBackslash(folder);
    if (!OnLocalDrive(folder)) {
        Warn(LoadResString(kIdsNotLocalDrive));
        return false;
    }
    Data().ArchivePath = folder;
    Data().SourceKind = 2;
    return true;
}

void CDatasourceWizardPage::OnHelp()
{
    ShowWizardHelp(IDD_DATASOURCE_PAGE, 0);
}

void CDatasourceWizardPage::Warn(const std::wstring& text) const
{
    if (!m_quiet)
        ui::ShowMessage(Window(), text, MB_ICONWARNING);
}

void CDatasourceWizardPage::Fail(const std::wstring& text) const
{
    if (!m_quiet)
        ui::ShowMessage(Window(), text, MB_ICONERROR);
}
