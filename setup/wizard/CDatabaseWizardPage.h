#pragma once
// Asks for the Exchange database file and, optionally, the folder of its
// transaction logs. For a plain file the user types or browses; after an
// archive page the paths lie on the drives where the images are mounted, and
// for a catalog version they are filled in and locked. Next checks both
// paths (trimmed) and only then sets DatabasePath and LogPath.
#include "CPropertyPage.h"
#include "CWizardData.h"

class CDatabaseWizardPage : public ui::CPropertyPageImpl<CDatabaseWizardPage>, public CWizardDataRef {
public:
    CDatabaseWizardPage();

    static const ui::SMessageEntry<CDatabaseWizardPage> kMessages[];

    // The open-file dialog's hook for archive sources: the file must lie on
    // the drive of the dialog's initial folder (lCustData).
    static UINT_PTR CALLBACK DriveHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    int OnSetActive() override;
    int OnWizardNext() override;
    int OnWizardBack() override;
    void OnHelp() override;

private:
    INT_PTR OnInitDialog(WPARAM wParam, LPARAM lParam);
    INT_PTR OnBrowseDatabase(WPARAM wParam, LPARAM lParam);
    INT_PTR OnBrowseLogs(WPARAM wParam, LPARAM lParam);

    void EnablePaths(bool enable) const;
    void Warn(const std::wstring& text) const;

    HWND m_databaseEdit = nullptr;
    HWND m_logEdit = nullptr;
};
