#include "ProviderPlatform.h"
#include "CMailboxWizardPage.h"

#include "CLastError.h"
#include "CWaitDialog.h"
#include "ComErrorRaise.h"
#include "EseValueMemory.h"
#include "ImageMount.h"
#include "MailboxSelection.h"
#include "Messages.h"
#include "Pickers.h"
#include "ProviderFiles.h"
#include "ResourceStrings.h"
#include "ServerErrorDescription.h"
#include "Vostrel2007.h"
#include "WizardHelp.h"
#include "WizardResources.h"

#include <ole2.h>

#include <cwctype>

namespace {

constexpr UINT kIdsLogBaseNames = 302;
constexpr UINT kIdsHeaderTitle = 312;
constexpr UINT kIdsHeaderSubtitle = 313;
constexpr UINT kIdsAccessDenied = 318;
constexpr UINT kIdsCorrupted = 319;
constexpr UINT kIdsErrorCode = 320;
constexpr UINT kIdsCannotOpen = 322;
constexpr UINT kIdsFileNotFound = 323;
constexpr UINT kIdsInUse = 324;
constexpr UINT kIdsMailboxesLabel = 360;
constexpr UINT kIdsFinishNote = 361;
constexpr UINT kIdsPublicFoldersOnly = 365;

constexpr ULONG kPageSize = 4096;
constexpr ULONG kTagMailboxRootFid = 0x67640014;
constexpr ULONG kTagDisplayName = 0x3001001F;
constexpr ULONG kTagComment = 0x3004001F;
// The mailboxes table of a database that holds only public folders.
constexpr HRESULT kNoMailboxes = static_cast<HRESULT>(0x80070002);

constexpr UINT kUnchecked = 0x1000;
constexpr UINT kChecked = 0x2000;

// The folder part of a path, up to and including its last "\".
std::wstring FolderOf(const std::wstring& path)
{
    const size_t last = path.rfind(L'\\');
    return last == std::wstring::npos ? std::wstring() : path.substr(0, last + 1);
}

// COM on the wizard's thread for the time of one fill (MAPI's caller has
// normally initialised it already).
class CComScope {
public:
    CComScope() : m_initialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~CComScope()
    {
        if (m_initialised)
            CoUninitialize();
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

private:
    bool m_initialised;
};

// The rows the server handed out, freed with their values.
class CServerRows {
public:
    ~CServerRows() { FreeEseRows(rows, count); }
    ULONG count = 0;
    _SEseRow* rows = nullptr;
};

const _SEsePropertyValue* FindValue(const _SEseRow& row, ULONG tag)
{
    for (ULONG i = 0; i < row.m_valueCount; ++i) {
        if (row.m_p_values[i].m_tag == tag)
            return &row.m_p_values[i];
    }
    return nullptr;
}

} // namespace

std::wstring GetUIErrorMessage(const _com_error& error)
{
    {
        CLastError record;
        record.SetFromComError("GetUIErrorMessage", error);
    }
    ULONG code = 0;
    ULONG source = 0;
    ULONG sourceCode = 0;
    std::wstring text;
    const _bstr_t description = error.Description();
    if (description.length() == 0 || !ParseServerErrorDescription(error, code, source, sourceCode, text)) {
        const wchar_t* system = error.ErrorMessage();
        return LoadResString(kIdsCannotOpen) + L" " + (system ? system : L"");
    }
    if (code == 7)
        return LoadResString(kIdsLogBaseNames);
    if (code != 0 || source != 3)
        return ui::FormatResource(kIdsErrorCode, sourceCode);
    switch (static_cast<LONG>(sourceCode)) {
    case -1206:
    case -4001:
    case -1022:
    case -327:
        return LoadResString(kIdsCorrupted);
    case -1811:
        return LoadResString(kIdsFileNotFound);
    case -1215:
        return LoadResString(kIdsInUse);
    case -1032:
        return LoadResString(kIdsAccessDenied);
    default:
        return ui::FormatResource(kIdsErrorCode, sourceCode);
    }
}

const ui::SMessageEntry<CMailboxWizardPage> CMailboxWizardPage::kMessages[] = {
    {WM_INITDIALOG, ui::kAny, ui::kAny, &CMailboxWizardPage::OnInitDialog},
    {WM_NOTIFY, IDC_MAILBOX_LIST, LVN_ITEMCHANGED, &CMailboxWizardPage::OnItemChanged},
    {WM_DESTROY, ui::kAny, ui::kAny, &CMailboxWizardPage::OnDestroy},
    {0, 0, 0, nullptr},
};

CMailboxWizardPage::CMailboxWizardPage() : CPropertyPageImpl(IDD_MAILBOX_PAGE)
{
    SetHeader(LoadResString(kIdsHeaderTitle), LoadResString(kIdsHeaderSubtitle));
}

CMailboxWizardPage::~CMailboxWizardPage() = default;

INT_PTR CMailboxWizardPage::OnInitDialog(WPARAM, LPARAM)
{
    ui::CWaitCursor cursor;
    SetItemText(IDC_MAILBOX_LABEL, LoadResString(kIdsMailboxesLabel));
    SetItemText(IDC_MAILBOX_FINISH_NOTE, LoadResString(kIdsFinishNote));
    m_list = ui::CListView(Item(IDC_MAILBOX_LIST));
    m_list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    m_list.InsertColumn(0, L"Column", m_list.ClientWidth());
    m_publicOnly = Data().PublicFoldersOnly;
    return TRUE;
}

INT_PTR CMailboxWizardPage::OnDestroy(WPARAM, LPARAM)
{
    m_records.clear();
    return 0;
}

const CMailboxWizardPage::SItemRecord* CMailboxWizardPage::Record(int item) const
{
    return reinterpret_cast<const SItemRecord*>(m_list.ItemParam(item));
}

void CMailboxWizardPage::ClearList()
{
    m_list.DeleteAllItems();
    m_records.clear();
}

void CMailboxWizardPage::InsertMailbox(const std::wstring& name, LONGLONG id, int state)
{
    auto record = std::make_unique<SItemRecord>();
    record->mailboxId = id;
    record->initialState = state;
    const int item = m_list.InsertItem(name, reinterpret_cast<LPARAM>(record.get()));
    if (item < 0)
        return;
    m_records.push_back(std::move(record));
    m_list.SetChecked(item, state != 0);
}

bool CMailboxWizardPage::AnyChecked() const
{
    const int count = m_list.ItemCount();
    for (int item = 0; item < count; ++item) {
        if (m_list.IsChecked(item))
            return true;
    }
    return false;
}

void CMailboxWizardPage::UpdateButtons() const
{
    SetWizardButtons(PSWIZB_BACK | (AnyChecked() ? PSWIZB_FINISH : PSWIZB_DISABLEDFINISH));
}

int CMailboxWizardPage::OnSetActive()
{
    ui::CWaitDialog wait(Window());
    ui::CWaitCursor cursor;
    const CWizardData& data = Data();
    if (data.DatabasePath != m_filledDatabase || data.LogPath != m_filledLog) {
        ClearList();
        bool filled = true;
        if (!data.Reconfigure || data.MailboxSelection.empty())
            filled = FillMailboxList();
        else
            FillFromSelection();
        if (filled) {
            m_filledDatabase = data.DatabasePath;
            m_filledLog = data.LogPath;
        }
    }
    UpdateButtons();
    if (m_list.ItemCount() > 0)
        m_list.SetItemState(0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    return 0;
}

INT_PTR CMailboxWizardPage::OnItemChanged(WPARAM, LPARAM lParam)
{
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
    if (!(change->uChanged & LVIF_STATE))
        return 0;

    // A check box toggled, and nothing else about the item changed. Some
    // list views report only the bits that changed (0x2000 against 0x1000),
    // others the item's whole state (a selected item's bits on both sides):
    // what counts is that the check state went from one box to the other
    // and no other bit moved.
    const UINT oldImage = change->uOldState & LVIS_STATEIMAGEMASK;
    const UINT newImage = change->uNewState & LVIS_STATEIMAGEMASK;
    const bool toggled = ((newImage == kChecked && oldImage == kUnchecked) ||
                          (newImage == kUnchecked && oldImage == kChecked)) &&
                         ((change->uNewState ^ change->uOldState) & ~LVIS_STATEIMAGEMASK) == 0;
    if (!toggled)
        return 0;
    if (!m_synchronising &&
        (ListView_GetItemState(m_list.Window(), change->iItem, LVIS_SELECTED) & LVIS_SELECTED)) {
        // The other selected items follow; their own notifications come
        // back here and must not spread again.
        m_synchronising = true;
        const bool checked = m_list.IsChecked(change->iItem);
        for (int item : m_list.ItemsWithState(LVIS_SELECTED)) {
            if (item != change->iItem && m_list.IsChecked(item) != checked)
                m_list.SetChecked(item, checked);
        }
        m_synchronising = false;
    }
    if (!m_publicOnly)
        UpdateButtons();
    return 0;
}

bool CMailboxWizardPage::FillMailboxList()
{
    CWizardData& data = Data();
    m_publicOnly = 0;
    SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);

    std::wstring work;
    const bool madeWork = CreateTempDirectory(work);
    if (!madeWork)
        work = FolderOf(data.DatabasePath);
    const std::wstring logs = data.LogPath.empty() ? FolderOf(data.DatabasePath) : data.LogPath;
    RemountImages(logs);

    CComScope com;
    bool publicFoldersOnly = false;
    try {
        ComPtr<IUnknown> unknown;
        HRESULT hr = CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(unknown.GetAddressOf()));
        if (FAILED(hr))
            throw _com_error(hr);
        hr = OleRun(unknown.Get());
        if (FAILED(hr))
            throw _com_error(hr);
        ComPtr<IEseInstance> instance;
        hr = unknown.As(&instance);
        if (FAILED(hr))
            throw _com_error(hr);

        // A database path without a folder leaves the engine in the current folder.
        std::wstring workPath = work.empty() ? work : ui::WithOneTrailingBackslash(work);
        hr = instance->Init(kPageSize, &workPath[0], &workPath[0]);
        if (FAILED(hr))
            RaiseComError(hr, instance.Get(), IID_IEseInstance);

        std::wstring databasePath = data.DatabasePath;
        std::wstring logPath = logs;
        ComPtr<IEseStore> store;
        hr = instance->OpenStore(&databasePath[0], &logPath[0], store.GetAddressOf());
        if (FAILED(hr))
            RaiseComError(hr, instance.Get(), IID_IEseInstance);
        if (!store)
            throw _com_error(E_POINTER);

        ComPtr<IEseTable> table;
        hr = store->GetMailboxesTable(0, nullptr, 1, table.GetAddressOf());
        if (hr == kNoMailboxes) {
            publicFoldersOnly = true;
        } else {
            if (FAILED(hr))
                RaiseComError(hr, store.Get(), IID_IEseStore);
            if (!table)
                throw _com_error(E_POINTER);
            m_list.SetExtendedStyle(LVS_EX_CHECKBOXES);
            EnableWindow(m_list.Window(), TRUE);
            SetWizardButtons(PSWIZB_BACK | PSWIZB_DISABLEDFINISH);

            ULONG columns[] = {kTagMailboxRootFid, kTagDisplayName, kTagComment};
            hr = table->SetColumns(3, columns);
            if (FAILED(hr))
                RaiseComError(hr, table.Get(), IID_IEseTable);
            CServerRows rows;
            hr = table->GetRows(0xFFFFFFFF, 1, &rows.count, &rows.rows);
            if (FAILED(hr))
                RaiseComError(hr, table.Get(), IID_IEseTable);
            for (ULONG r = 0; r < rows.count; ++r) {
                const _SEsePropertyValue* name = FindValue(rows.rows[r], kTagDisplayName);
                const _SEsePropertyValue* id = FindValue(rows.rows[r], kTagMailboxRootFid);
                const std::wstring text =
                    name && name->m_type == ESE_PT_STRING16 && name->m_value.m_p_ws ? name->m_value.m_p_ws : L"";
                const LONGLONG mailboxId = id && id->m_type == ESE_PT_INT64 ? id->m_value.m_i64 : 0;
                InsertMailbox(text, mailboxId, 0);
            }
        }
    } catch (const _com_error& error) {
        // The server's objects are gone by now; the working folder can go.
        ui::ShowMessage(Window(), GetUIErrorMessage(error), MB_ICONERROR);
        m_filledDatabase.clear();
        if (madeWork)
            DeleteDirectoryTree(work.c_str());
        return false;
    }
    if (publicFoldersOnly)
        ShowPublicFoldersNote();
    if (madeWork)
        DeleteDirectoryTree(work.c_str());
    return true;
}

void CMailboxWizardPage::ShowPublicFoldersNote()
{
    m_publicOnly = 1;
    m_list.SetExtendedStyle(m_list.ExtendedStyle() & ~LVS_EX_CHECKBOXES);
    InsertMailbox(LoadResString(kIdsPublicFoldersOnly), 0, 1);
    EnableWindow(m_list.Window(), FALSE);
}

void CMailboxWizardPage::FillFromSelection()
{
    if (m_publicOnly) {
        ShowPublicFoldersNote();
        return;
    }
    const std::wstring& selection = Data().MailboxSelection;
    size_t at = 0;
    while (at < selection.size()) {
        MailboxSelectionItem item;
        const size_t used = ParseMailboxSelectionItem(std::wstring_view(selection).substr(at), item);
        if (used == std::wstring_view::npos || used == 0)
            break;
        at += used;
        if (item.id != 0)
            InsertMailbox(item.name, item.id, item.checked ? 1 : 0);
    }
}

void CMailboxWizardPage::RemountImages(const std::wstring& logFolder)
{
    CWizardData& data = Data();
    if (!data.Reconfigure || (data.SourceKind != 1 && data.SourceKind != 2) || data.DatabasePath.size() <= 3 ||
        logFolder.size() <= 2 || data.DatabaseImage.empty() || data.LogImage.empty())
        return;
    const GUID* type = data.SourceKind == 1 ? &GUID_QOR_IMAGE_ARCHIVE : &GUID_QOR_IMAGE_VHD;
    // The roots are kept with upper-case letters, as a dismount wants them.
    std::wstring databaseRoot = data.DatabasePath.substr(0, 3);
    databaseRoot[0] = static_cast<wchar_t>(std::towupper(databaseRoot[0]));
    if (GetDriveTypeW(databaseRoot.c_str()) != DRIVE_NO_ROOT_DIR)
        return;
    uint32_t index = 0;
    if (!MountImage(LogOwner(), data.DatabaseImage.c_str(), databaseRoot.c_str(), type, MountEvent(), &index))
        return;
    data.VolumeMounts[data.DatabaseImage] = SImageMount{databaseRoot, index};
    std::wstring logRoot = logFolder.substr(0, 3);
    logRoot[0] = static_cast<wchar_t>(std::towupper(logRoot[0]));
    if (GetDriveTypeW(logRoot.c_str()) != DRIVE_NO_ROOT_DIR)
        return;
    if (MountImage(LogOwner(), data.LogImage.c_str(), logRoot.c_str(), type, MountEvent(), &index))
        data.VolumeMounts[data.LogImage] = SImageMount{logRoot, index};
}

void CMailboxWizardPage::CollectSelection()
{
    CWizardData& data = Data();
    data.MailboxSelection.clear();
    bool changed = false;
    if (!m_publicOnly) {
        const int count = m_list.ItemCount();
        for (int item = 0; item < count; ++item) {
            const SItemRecord* record = Record(item);
            if (!record)
                continue;
            MailboxSelectionItem entry;
            entry.id = record->mailboxId;
            entry.checked = m_list.IsChecked(item);
            entry.name = m_list.ItemText(item);
            data.MailboxSelection += FormatMailboxSelectionItem(entry);
            if ((entry.checked ? 1 : 0) != record->initialState)
                changed = true;
        }
    }
    data.PublicFoldersOnly = m_publicOnly;
    data.SelectionChanged = changed ? 1 : 0;
}

void CMailboxWizardPage::ReleaseImages()
{
    CWizardData& data = Data();
    ui::CWaitDialog wait(Window());
    ui::CWaitCursor cursor;
    for (const auto* mounts : {&data.VolumeMounts, &data.VersionMounts}) {
        for (const auto& [image, mount] : *mounts) {
            if (_wcsicmp(image.c_str(), data.DatabaseImage.c_str()) == 0 ||
                _wcsicmp(image.c_str(), data.LogImage.c_str()) == 0) {
                FlushImage(Window(), mount.imageIndex);
            } else if (!mount.shownBefore) {
                uint32_t index = 0;
                DismountImage(Window(), mount.root.c_str(), &index);
                DeleteFileW((image + L".chunk.dat").c_str());
            }
        }
    }
}

bool CMailboxWizardPage::OnWizardFinish()
{
    CollectSelection();
    ReleaseImages();
    return true;
}

void CMailboxWizardPage::OnHelp()
{
    ShowWizardHelp(IDD_MAILBOX_PAGE, 0);
}
