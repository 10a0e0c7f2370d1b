#include "ProviderPlatform.h"
#include "CAddStoreWizardSheet.h"

#include "CWaitDialog.h"
#include "Messages.h"
#include "QorApi.h"
#include "ResourceStrings.h"
#include "WizardHelp.h"
#include "WizardResources.h"

namespace {

constexpr UINT kIdsDismountFailed = 334;
constexpr UINT kIdsDismountIndexFailed = 335;

} // namespace

CAddStoreWizardSheet::CAddStoreWizardSheet(CWizardData& data, DeviceProbe deviceProbe)
    : ui::CWizardSheet(L"Wizard", IDB_WIZARD_HEADER, IDB_WIZARD_WATERMARK)
{
    SetWizardData(&data);
    const std::wstring title = LoadResString(ui::kIdsConfigCaption);
    for (ui::CPropertyPage* page :
         {static_cast<ui::CPropertyPage*>(&m_datasourcePage), static_cast<ui::CPropertyPage*>(&m_volumePage),
          static_cast<ui::CPropertyPage*>(&m_versionPage), static_cast<ui::CPropertyPage*>(&m_databasePage),
          static_cast<ui::CPropertyPage*>(&m_mailboxPage)})
        page->SetTitle(title);
    m_datasourcePage.SetWizardData(&data);
    m_volumePage.SetWizardData(&data);
    m_versionPage.SetWizardData(&data);
    m_databasePage.SetWizardData(&data);
    m_mailboxPage.SetWizardData(&data);

    data.DevicePresent = deviceProbe && deviceProbe() ? 1 : 0;
    if (data.DevicePresent) {
        AddPage(m_datasourcePage);
        AddPage(m_volumePage);
        AddPage(m_versionPage);
    }
    AddPage(m_databasePage);
    AddPage(m_mailboxPage);
}

CAddStoreWizardSheet::~CAddStoreWizardSheet() = default;

int CAddStoreWizardSheet::ProbeImageDevice()
{
    HANDLE controller = INVALID_HANDLE_VALUE;
    if (!QorApiControllerOpen(&controller))
        return 0;
    QorApiControllerClose(controller);
    return 1;
}

void CAddStoreWizardSheet::SetDriveTypeProbe(UINT(WINAPI* probe)(LPCWSTR))
{
    m_volumePage.SetDriveTypeProbe(probe);
    m_versionPage.SetDriveTypeProbe(probe);
}

void CAddStoreWizardSheet::SetShownImageProbe(int (*probe)(const std::wstring&, std::wstring&, uint32_t&))
{
    m_volumePage.SetShownImageProbe(probe);
    m_versionPage.SetShownImageProbe(probe);
}

bool CAddStoreWizardSheet::OnSheetMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_HELP:
        OnHelpRequest(reinterpret_cast<const HELPINFO*>(lParam));
        result = TRUE;
        return true;
    case WM_SHOWWINDOW:
        result = 0;
        return true;
    case WM_COMMAND:
        // The clean-up runs first; the sheet then closes as cancelled.
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED)
            CancelCleanup();
        return false;
    case WM_SYSCOMMAND:
        // Closing the window cancels the wizard as well, without a
        // WM_COMMAND; the images are taken down all the same.
        if ((wParam & 0xFFF0) == SC_CLOSE)
            CancelCleanup();
        return false;
    default:
        return false;
    }
}

void CAddStoreWizardSheet::OnHelpRequest(const HELPINFO* info)
{
    if (info && info->dwContextId)
        return;
    const int pageId = CurrentPageId();
    if (pageId != 0)
        ShowWizardHelp(pageId, 0);
}

void CAddStoreWizardSheet::CancelCleanup()
{
    if (m_cleanedUp)
        return;
    m_cleanedUp = true;
    CWizardData& data = Data();
    ui::CWaitDialog wait(Window());
    ui::CWaitCursor cursor;
    if (!data.DevicePresent)
        return;

    HANDLE controller = INVALID_HANDLE_VALUE;
    if (!QorApiControllerOpen(&controller)) {
        const DWORD error = GetLastError();
        ui::ShowMessage(Window(), ui::FormatResource(kIdsDismountFailed, L"QorApiControllerOpen()", error),
                        MB_ICONERROR);
        return;
    }
    for (const auto* mounts : {&data.VolumeMounts, &data.VersionMounts}) {
        for (const auto& [image, mount] : *mounts) {
            if (mount.shownBefore)
                continue;
            if (!QorApiImageRemove(controller, mount.imageIndex, 1)) {
                const DWORD error = GetLastError();
                ui::ShowMessage(Window(),
                                ui::FormatResource(kIdsDismountIndexFailed, static_cast<int>(mount.imageIndex),
                                                   L"QorApiImageRemove()", error),
                                MB_ICONERROR);
                continue;
            }
            if (!QorApiImageClose(controller, mount.imageIndex)) {
                const DWORD error = GetLastError();
                ui::ShowMessage(Window(),
                                ui::FormatResource(kIdsDismountIndexFailed, static_cast<int>(mount.imageIndex),
                                                   L"QorApiImageClose()", error),
                                MB_ICONERROR);
            }
            DeleteFileW((image + L".chunk.dat").c_str());
        }
    }
    QorApiControllerClose(controller);
}
