#pragma once
// The last page: opens the chosen database read-only through the database
// server, lists its mailboxes with check boxes, and on Finish writes the
// choice into the wizard's record (MailboxSelection, PublicFoldersOnly,
// SelectionChanged) and leaves only the database's and the logs' images
// mounted. The list is rebuilt only when the database or log path changed
// since it was last filled, so going Back and Next keeps the user's checks.
#include "CListView.h"
#include "CPropertyPage.h"
#include "CWizardData.h"

#include <memory>
#include <string>
#include <vector>

// The text shown for a failure of the database server: the server's error
// numbers choose one of the page's messages. The error is also logged.
std::wstring GetUIErrorMessage(const _com_error& error);

class CMailboxWizardPage : public ui::CPropertyPageImpl<CMailboxWizardPage>, public CWizardDataRef {
public:
    CMailboxWizardPage();
    ~CMailboxWizardPage() override;

    static const ui::SMessageEntry<CMailboxWizardPage> kMessages[];

protected:
    int OnSetActive() override;
    bool OnWizardFinish() override;
    void OnHelp() override;

private:
    // What an item of the list stands for.
    struct SItemRecord {
        LONGLONG mailboxId = 0;
        int initialState = 0;
    };

    INT_PTR OnInitDialog(WPARAM wParam, LPARAM lParam);
    INT_PTR OnItemChanged(WPARAM wParam, LPARAM lParam);
    INT_PTR OnDestroy(WPARAM wParam, LPARAM lParam);

    // From the database through the server; false after the message.
    bool FillMailboxList();
    void FillFromSelection();
    void ShowPublicFoldersNote();
    void RemountImages(const std::wstring& logFolder);
    void InsertMailbox(const std::wstring& name, LONGLONG id, int state);
    void ClearList();
    bool AnyChecked() const;
    void UpdateButtons() const;
    void CollectSelection();
    void ReleaseImages();
    const SItemRecord* Record(int item) const;

    ui::CListView m_list;
    int m_publicOnly = 0;
    std::wstring m_filledDatabase;
    std::wstring m_filledLog;
    bool m_synchronising = false;
    std::vector<std::unique_ptr<SItemRecord>> m_records;
};
