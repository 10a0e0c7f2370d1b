#pragma once
// The add-store wizard: a Wizard97 sheet over one CWizardData. When the
// image-mounting driver is present the wizard starts with the data-source
// page; the database and mailbox pages are always there. The sheet answers
// help requests with the wizard's help topic and, when the user cancels,
// takes down every image its pages mounted.
#include "CWizardSheet.h"

#include "CDatabaseWizardPage.h"
#include "CDatasourceWizardPage.h"
#include "CMailboxWizardPage.h"
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

protected:
    bool OnSheetMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OnHelpRequest(const HELPINFO* info);
    void CancelCleanup();

    CDatasourceWizardPage m_datasourcePage;
    CDatabaseWizardPage m_databasePage;
    CMailboxWizardPage m_mailboxPage;
    bool m_cleanedUp = false;
};
