#pragma once
// The add-store wizard: a Wizard97 sheet over one CWizardData. When the
// image-mounting driver is present the wizard starts with the data-source
// page, followed by the backup-archive volume page and the catalog version
// page; the database and mailbox pages are always there. The sheet answers
// help requests with the wizard's help topic and, when the user cancels,
// takes down every image its pages mounted.
#include "CWizardSheet.h"

#include "CDatabaseWizardPage.h"
#include "CDatasourceWizardPage.h"
#include "CKestWizardPage.h"
#include "CMailboxWizardPage.h"
#include "CVhdWizardPage.h"
#include "CWizardData.h"

class CAddStoreWizardSheet : public ui::CWizardSheet, public CWizardDataRef {
public:
    using DeviceProbe = int (*)();

    // Probes the image-mounting driver (DevicePresent) and adds the pages.
    // deviceProbe stands in for the driver in tests.
    explicit CAddStoreWizardSheet(CWizardData& data, DeviceProbe deviceProbe = ProbeImageDevice);
    ~CAddStoreWizardSheet() override;

    // 1 when the driver's controller opens (and is closed again at once).
    static int ProbeImageDevice();

    // What the volume and catalog pages ask whether a drive letter is free
    // (GetDriveTypeW unless a test stands in for it).
    void SetDriveTypeProbe(UINT(WINAPI* probe)(LPCWSTR));
    // Where the driver shows an image already (FindShownImageDrive's signature).
    void SetShownImageProbe(int (*probe)(const std::wstring&, std::wstring&, uint32_t&));

protected:
    bool OnSheetMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OnHelpRequest(const HELPINFO* info);
    void CancelCleanup();

    // Destroyed in the reverse order.
    CDatasourceWizardPage m_datasourcePage;
    CKestWizardPage m_volumePage;
    CVhdWizardPage m_versionPage;
    CDatabaseWizardPage m_databasePage;
    CMailboxWizardPage m_mailboxPage;
    bool m_cleanedUp = false;
};
