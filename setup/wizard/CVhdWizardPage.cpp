#include "ProviderPlatform.h"
#include "CVhdWizardPage.h"

#include "CWaitDialog.h"
#include "ImageMount.h"
#include "Messages.h"
#include "ResourceStrings.h"
#include "WizardHelp.h"
#include "WizardProbes.h"
#include "WizardResources.h"

#include <cstdio>

namespace {

constexpr UINT kIdsNoDriveLetter = 332;
constexpr UINT kIdsHeaderTitle = 346;
constexpr UINT kIdsHeaderSubtitle = 347;
constexpr UINT kIdsNoDatabaseList = 370;
constexpr UINT kIdsNoCatalog = 371;
constexpr UINT kIdsNoVersionList = 372;
constexpr UINT kIdsNoVersion = 373;
constexpr UINT kIdsNoVirtualDrive = 374;

// Icons of the two lists, by their place in each list's images.
constexpr int kMailboxDatabaseIcon = 0;
constexpr int kPublicDatabaseIcon = 1;
constexpr int kFullBackupIcon = 0;
constexpr int kIncrementalBackupIcon = 1;

constexpr int kCatalogLayout2007 = 2007;

} // namespace

const ui::SMessageEntry<CVhdWizardPage> CVhdWizardPage::kMessages[] = {
    {WM_INITDIALOG, ui::kAny, ui::kAny, &CVhdWizardPage::OnInitDialog},
    {WM_NOTIFY, IDC_VERSION_DATABASES, LVN_ITEMCHANGED, &CVhdWizardPage::OnDatabaseChanged},
    {WM_DESTROY, ui::kAny, ui::kAny, &CVhdWizardPage::OnDestroy},
    {0, 0, 0, nullptr},
};

CVhdWizardPage::CVhdWizardPage()
    : CPropertyPageImpl(IDD_VERSION_PAGE), m_driveType(GetDriveTypeW), m_shownImage(FindShownImageDrive)
{
    SetHeader(LoadResString(kIdsHeaderTitle), LoadResString(kIdsHeaderSubtitle));
}

CVhdWizardPage::~CVhdWizardPage() = default;

INT_PTR CVhdWizardPage::OnInitDialog(WPARAM, LPARAM)
{
    m_databases = ui::CListView(Item(IDC_VERSION_DATABASES));
    m_versions = ui::CListView(Item(IDC_VERSION_VERSIONS));
    m_databases.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    m_versions.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    m_databases.InsertColumn(0, L"Database", m_databases.ClientWidth());
    m_versions.InsertColumn(0, L"Backup Time", 0);
    m_versions.SetColumnWidth(0, LVSCW_AUTOSIZE_USEHEADER);
    m_databases.SetSmallIcons({IDI_MAILBOX_DATABASE, IDI_PUBLIC_DATABASE});
    m_versions.SetSmallIcons({IDI_FULL_BACKUP, IDI_INCREMENTAL_BACKUP});
    return TRUE;
}

INT_PTR CVhdWizardPage::OnDestroy(WPARAM, LPARAM)
{
    m_databaseRecords.clear();
    m_versionRecords.clear();
    // The catalog holds no connection between calls: nothing to close.
    m_catalog.reset();
    return 0;
}

void CVhdWizardPage::ClearDatabases()
{
    m_databases.DeleteAllItems();
    m_databaseRecords.clear();
}

void CVhdWizardPage::ClearVersions()
{
    m_versions.DeleteAllItems();
    m_versionRecords.clear();
}

void CVhdWizardPage::AddDatabase(const SCatalogDatabase& database)
{
    auto record = std::make_unique<SCatalogDatabase>(database);
    const int item = m_databases.InsertItem(database.caption, reinterpret_cast<LPARAM>(record.get()), 0,
                                            database.isPublic ? kPublicDatabaseIcon : kMailboxDatabaseIcon);
    if (item >= 0)
        m_databaseRecords.push_back(std::move(record));
}

void CVhdWizardPage::AddVersion(const SCatalogVersion& version)
{
    auto record = std::make_unique<SCatalogVersion>(version);
    const bool full = _wcsicmp(version.backupType.c_str(), L"Full") == 0;
    const int item = m_versions.InsertItem(version.backupStart, reinterpret_cast<LPARAM>(record.get()), 0,
                                           full ? kFullBackupIcon : kIncrementalBackupIcon);
    if (item >= 0)
        m_versionRecords.push_back(std::move(record));
}

void CVhdWizardPage::ReportCatalogFailure(UINT id)
{
    ui::ShowMessage(Window(), LoadResString(id) + m_catalog->GetLastErrorText(), MB_ICONERROR);
}

int CVhdWizardPage::OnSetActive()
{
    const CWizardData& data = Data();
    if (data.Reconfigure) {
        // The stored version, shown alone; the buttons stay as they are.
        if (!data.ArchivePath.empty() && !m_catalog)
            ShowStoredVersion();
        return 0;
    }
    bool failed = false;
    if (!data.ArchivePath.empty()) {
        if (!m_catalog || m_catalog->GetCatalogFolder() != data.ArchivePath) {
            if (m_catalog)
                m_catalog->Close();
            m_catalog = std::make_unique<CLorvArchive>();
            m_catalog->SetCatalogFolder(data.ArchivePath);
        }
        failed = !FillFromCatalog();
    }
    SetWizardButtons(!m_catalog || failed ? PSWIZB_BACK : PSWIZB_BACK | PSWIZB_NEXT);
    return 0;
}

bool CVhdWizardPage::FillFromCatalog()
{
    std::wstring server, version, edition;
    std::vector<SCatalogDatabase> databases;
    UINT failure = 0;
    if (!m_catalog->ReadSettings(&server, &version, &edition)) {
        failure = kIdsNoCatalog;
    } else {
        SetItemText(IDC_VERSION_SERVER, server + L", " + version + L", " + edition + L" Edition.");
        if (!m_catalog->ListDatabases(&databases))
            failure = kIdsNoDatabaseList;
    }
    if (failure) {
        // Nothing of another catalog stays on show under the message.
        ClearVersions();
        ClearDatabases();
        if (failure == kIdsNoCatalog)
            SetItemText(IDC_VERSION_SERVER, L"");
        ReportCatalogFailure(failure);
        return false;
    }
    ClearVersions();
    ClearDatabases();
    for (const SCatalogDatabase& database : databases)
        AddDatabase(database);
    m_databases.SetColumnWidth(0, m_databases.ClientWidth());
    return true;
}

void CVhdWizardPage::ShowStoredVersion()
{
    const CWizardData& data = Data();
    m_catalog = std::make_unique<CLorvArchive>();
    m_catalog->SetCatalogFolder(data.ArchivePath);
    std::wstring server, version, edition;
    if (!m_catalog->ReadSettings(&server, &version, &edition))
        return;
    SetItemText(IDC_VERSION_SERVER, server + L", " + version + L", " + edition + L" Edition.");
    SCatalogDatabase database;
    SCatalogVersion stored;
    if (!m_catalog->GetDatabaseVersion(data.CatalogBackupId, &database, &stored))
        return;
    ClearVersions();
    ClearDatabases();
    AddDatabase(database);
    AddVersion(stored);
    m_databases.SetColumnWidth(0, m_databases.ClientWidth());
    m_versions.SetColumnWidth(0, m_versions.ClientWidth());
}

INT_PTR CVhdWizardPage::OnDatabaseChanged(WPARAM, LPARAM lParam)
{
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
    // A database that has just become the selected one.
    if (!(change->uChanged & LVIF_STATE) || !(change->uNewState & LVIS_SELECTED) ||
        (change->uOldState & LVIS_SELECTED))
        return 0;
    const auto* database = reinterpret_cast<const SCatalogDatabase*>(m_databases.ItemParam(change->iItem));
    if (!database || !m_catalog)
        return 0;
    ClearVersions();
    std::vector<SCatalogVersion> versions;
    if (!m_catalog->ListDatabaseVersions(database->name, &versions)) {
        ReportCatalogFailure(kIdsNoVersionList);
        return 0;
    }
    for (const SCatalogVersion& version : versions)
        AddVersion(version);
    m_versions.SetColumnWidth(0, m_versions.ClientWidth());
    return 0;
}

int CVhdWizardPage::OnWizardNext()
{
    if (Data().Reconfigure)
        return IDD_DATABASE_PAGE;
    if (!m_catalog)
        return kStay;
    const std::vector<int> selected = m_versions.ItemsWithState(LVIS_SELECTED);
    const auto* version =
        selected.empty() ? nullptr : reinterpret_cast<const SCatalogVersion*>(m_versions.ItemParam(selected.front()));
    if (!version) {
        ui::ShowMessage(Window(), LoadResString(kIdsNoVersion), MB_ICONWARNING);
        return kStay;
    }
    ui::CWaitDialog wait(Window());
    ui::CWaitCursor cursor;
    return MountVersion(*version) ? IDD_DATABASE_PAGE : kStay;
}

bool CVhdWizardPage::MountVersion(const SCatalogVersion& version)
{
    CWizardData& data = Data();
    SCatalogImagePaths paths;
    if (!m_catalog->GetImagePaths(version.databaseId, &paths)) {
        ui::ShowMessage(Window(), LoadResString(kIdsNoVirtualDrive) + m_catalog->GetLastErrorText(),
                        MB_ICONWARNING);
        return false;
    }
    const std::wstring& image = paths.imagePath;
    std::wstring root;
    const auto mounted = data.VersionMounts.find(image);
    uint32_t shownIndex = 0;
    if (mounted != data.VersionMounts.end()) {
        root = mounted->second.root;
    } else if (m_shownImage(image, root, shownIndex)) {
        // An image the driver shows already is used where it is, and
        // recorded as shown before the wizard.
        data.VersionMounts[image] = SImageMount{root, shownIndex, true};
    } else {
        // Any other is mounted at the first free letter.
        if (!FindFreeDriveLetterWith(m_driveType, root)) {
            ui::ShowMessage(Window(), LoadResString(kIdsNoDriveLetter), MB_ICONERROR);
            return false;
        }
        uint32_t index = 0;
        if (!MountImage(Window(), image.c_str(), root.c_str(), &GUID_QOR_IMAGE_VHD, MountEvent(), &index))
            return false;
        data.VersionMounts[image] = SImageMount{root, index};
    }
    data.DatabaseImage = data.LogImage = image;
    data.DatabaseMountRoot = data.LogMountRoot = root;
    data.CatalogBackupId = version.databaseId;

    // The restore map is this version's alone, however often Next ran.
    data.RestoreMap.clear();
    if (m_catalog->GetLayoutVersion() == kCatalogLayout2007) {
        std::vector<SCatalogDatabaseFile> files;
        if (m_catalog->ListStorageGroupFiles(static_cast<unsigned>(version.storageGroupId), &files)) {
            for (const SCatalogDatabaseFile& file : files)
                data.RestoreMap.emplace_back(file.caption, file.path);
        }
        const std::vector<int> databases = m_databases.ItemsWithState(LVIS_SELECTED);
        if (!databases.empty()) {
            if (const auto* database =
                    reinterpret_cast<const SCatalogDatabase*>(m_databases.ItemParam(databases.front())))
                data.VersionDatabaseFile = database->caption + L".edb";
        }
    } else {
        data.VersionDatabaseFile = version.fileName;
    }
    return true;
}

int CVhdWizardPage::OnWizardBack()
{
    return IDD_DATASOURCE_PAGE;
}

void CVhdWizardPage::OnHelp()
{
    ShowWizardHelp(IDD_VERSION_PAGE, 0);
}
