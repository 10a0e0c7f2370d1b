#pragma once
// The first page when the image-mounting driver is present: what holds the
// Exchange database (a plain .edb file, a backup archive folder, or a
// protection archive's catalog folder). Next checks the choice and sets
// SourceKind and ArchivePath; the page after it depends on the kind.
#include "CPropertyPage.h"
#include "CWizardData.h"

class CDatasourceWizardPage : public ui::CPropertyPageImpl<CDatasourceWizardPage>, public CWizardDataRef {
public:
    CDatasourceWizardPage();

    static const ui::SMessageEntry<CDatasourceWizardPage> kMessages[];

protected:
    int OnSetActive() override;
    int OnWizardNext() override;
    void OnHelp() override;

private:
    INT_PTR OnInitDialog(WPARAM wParam, LPARAM lParam);
    INT_PTR OnEdbClicked(WPARAM wParam, LPARAM lParam);
    INT_PTR OnBackupClicked(WPARAM wParam, LPARAM lParam);
    INT_PTR OnProtectionClicked(WPARAM wParam, LPARAM lParam);
    INT_PTR OnBrowseBackup(WPARAM wParam, LPARAM lParam);
    INT_PTR OnBrowseCatalog(WPARAM wParam, LPARAM lParam);

    void EnableFolders(bool backup, bool catalog) const;
    // The page an archive source goes on to.
    int ArchivePage(int page) const;
    // The user chose another kind of source than before: what the earlier
    // kind's page mounted is taken down and its answers forgotten.
    void LeaveSource(int previousKind);
    void TakeDown(std::map<std::wstring, SImageMount>& mounts) const;
    void BrowseInto(int editId) const;
    // The checks of Next by the checked radio; false after a message.
    bool CheckBackupArchive();
    bool CheckProtectionArchive();
    void Warn(const std::wstring& text) const;
    void Fail(const std::wstring& text) const;

    // The checks run without messages (over a stored configuration).
    bool m_quiet = false;
};
