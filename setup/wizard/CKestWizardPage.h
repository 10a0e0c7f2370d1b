#pragma once
// Follows the data-source page for a backup archive: lists the volumes of the
// archive chain whose root file the data-source page found (a collection
// archive's member volumes in its record order), lets the user send one
// volume to "Database" and one to "Logs", and on Next mounts both volume
// files as drives through the image-mounting driver. The database page then
// asks for the .edb file on the mounted drives.
#include "CListView.h"
#include "CPropertyPage.h"
#include "CWizardData.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

class CKestWizardPage : public ui::CPropertyPageImpl<CKestWizardPage>, public CWizardDataRef {
public:
    using DriveTypeProbe = UINT(WINAPI*)(LPCWSTR);
    using ShownImageProbe = int (*)(const std::wstring&, std::wstring&, uint32_t&);

    CKestWizardPage();
    ~CKestWizardPage() override;

    static const ui::SMessageEntry<CKestWizardPage> kMessages[];

    // What tells a free drive letter (GetDriveTypeW; tests stand in for it).
    void SetDriveTypeProbe(DriveTypeProbe probe) { m_driveType = probe; }
    void SetShownImageProbe(ShownImageProbe probe) { m_shownImage = probe; }

protected:
    int OnSetActive() override;
    int OnWizardNext() override;
    void OnHelp() override;

private:
    INT_PTR OnInitDialog(WPARAM wParam, LPARAM lParam);
    INT_PTR OnToDatabase(WPARAM wParam, LPARAM lParam);
    INT_PTR OnToLogs(WPARAM wParam, LPARAM lParam);
    INT_PTR OnDestroy(WPARAM wParam, LPARAM lParam);

    // One archive file (UTF-8 path): a row for a volume, or its members'
    // rows for a collection. `walking` holds the collections being walked.
    void ListVolumes(const std::string& path, std::vector<std::string>& walking);
    void ClearList();
    void SendSelectedTo(int editId) const;
    // The volume's drive: the one it is mounted at already, or a free one
    // it is mounted at now. False after a message.
    bool MountVolume(const std::wstring& volume, std::wstring& image, std::wstring& root);

    ui::CListView m_list;
    // Per item: the volume file's path as UTF-8.
    std::vector<std::unique_ptr<std::string>> m_records;
    DriveTypeProbe m_driveType;
    ShownImageProbe m_shownImage;
};
