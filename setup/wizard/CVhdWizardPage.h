#pragma once
// Follows the data-source page for a protection archive: through the backup
// catalog "catalog.db" of the archive folder it shows the server the backups
// came from, the complete databases and, for the chosen database, its backup
// versions. On Next it mounts the VHD image of the chosen version and fills
// the wizard's record so that the database page can name the .edb file on
// the mounted drive.
#include "CListView.h"
#include "CLorvArchive.h"
#include "CPropertyPage.h"
#include "CWizardData.h"

#include <memory>
#include <string>
#include <vector>

class CVhdWizardPage : public ui::CPropertyPageImpl<CVhdWizardPage>, public CWizardDataRef {
public:
    using DriveTypeProbe = UINT(WINAPI*)(LPCWSTR);
    using ShownImageProbe = int (*)(const std::wstring&, std::wstring&, uint32_t&);

    CVhdWizardPage();
    ~CVhdWizardPage() override;

    static const ui::SMessageEntry<CVhdWizardPage> kMessages[];

    // What tells a free drive letter (GetDriveTypeW; tests stand in for it).
    void SetDriveTypeProbe(DriveTypeProbe probe) { m_driveType = probe; }
    void SetShownImageProbe(ShownImageProbe probe) { m_shownImage = probe; }

protected:
    int OnSetActive() override;
    int OnWizardNext() override;
    int OnWizardBack() override;
    void OnHelp() override;

private:
    INT_PTR OnInitDialog(WPARAM wParam, LPARAM lParam);
    INT_PTR OnDatabaseChanged(WPARAM wParam, LPARAM lParam);
    INT_PTR OnDestroy(WPARAM wParam, LPARAM lParam);

    // The lists from the catalog; false after a message.
    bool FillFromCatalog();
    void ShowStoredVersion();
    void AddDatabase(const SCatalogDatabase& database);
    void AddVersion(const SCatalogVersion& version);
    void ClearDatabases();
    void ClearVersions();
    // The page's line, then the catalog's last error text, as an error.
    void ReportCatalogFailure(UINT id);
    // The version's image mounted (or found mounted); false after a message.
    bool MountVersion(const SCatalogVersion& version);

    ui::CListView m_databases;
    ui::CListView m_versions;
    std::unique_ptr<CLorvArchive> m_catalog;
    std::vector<std::unique_ptr<SCatalogDatabase>> m_databaseRecords;
    std::vector<std::unique_ptr<SCatalogVersion>> m_versionRecords;
    DriveTypeProbe m_driveType;
    ShownImageProbe m_shownImage;
};
