#include "ProviderPlatform.h"
#include "CProvPropPage.h"

#include "AddInResources.h"
#include "CAddInModule.h"
#include "CStoreConfig.h"
#include "MailboxSelection.h"
#include "PageStoreUid.h"
#include "ProviderFiles.h"
#include "ResourceStrings.h"

#include "CMsgStore.h"

#include <commctrl.h>

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace setup {

namespace {

// The header's state-icon click (HDN_ITEMSTATEICONCLICK): the list has no
// visible header, and a click there must not check every item.
constexpr UINT kHeaderStateIconClick = static_cast<UINT>(-316);

constexpr int kUnchecked = 1;
constexpr int kChecked = 2;

int StateImageOf(UINT state)
{
    return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12);
}

bool IsCheckState(int image)
{
    return image == kUnchecked || image == kChecked;
}

void SignalStoreChanged(const std::wstring& storeUidHex)
{
    MAPIUID uid{};
    if (storeUidHex.size() != 2 * sizeof(uid.ab) || !HexToBytes(storeUidHex.c_str(), uid.ab, sizeof(uid.ab)))
        return;
    CMsgStore::SignalMailboxChanged(uid);
}

} // namespace

// clang-format off
const ui::SMessageEntry<CProvPropPage> CProvPropPage::kMessages[] = {
    {WM_INITDIALOG, ui::kAny, ui::kAny, &CProvPropPage::OnInitDialog},
    {WM_NOTIFY, IDC_MAILBOX_LIST, LVN_ITEMCHANGED, &CProvPropPage::OnItemChanged},
    {WM_NOTIFY, IDC_MAILBOX_LIST, kHeaderStateIconClick, &CProvPropPage::OnHeaderStateIconClick},
    {WM_DESTROY, ui::kAny, ui::kAny, &CProvPropPage::OnDestroy},
    {0, 0, 0, nullptr},
};
// clang-format on

const CLSID& CProvPropPage::ControlClsid()
{
    return kClsidProvPropPage;
}

CProvPropPage::CProvPropPage(IUnknown* outer) : CAggregatableUnknownImpl(outer), m_storeUid(GetPageStoreUid()) {}

CProvPropPage::~CProvPropPage()
{
    DestroyControlWindow();
    // However often Apply ran, the open store hears of it once, now.
    if (m_applied)
        SignalStoreChanged(m_storeUid);
    m_pageSite.Reset();
}

HWND CProvPropPage::CreateControlWindow(HWND parent)
{
    if (!CreateModeless(IDD_PROVPROPPAGE, parent))
        return nullptr;
    return Window();
}

void CProvPropPage::DestroyControlWindow()
{
    DestroyWindowNow();
}

STDMETHODIMP CProvPropPage::GetPageInfo(BSTR* HelpFile, long* HelpContext)
{
    if (!HelpFile || !HelpContext)
        return E_POINTER;
    return E_NOTIMPL;
}

STDMETHODIMP CProvPropPage::get_Dirty(VARIANT_BOOL* Dirty)
{
    if (!Dirty)
        return E_POINTER;
    *Dirty = m_dirty ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CProvPropPage::Apply()
{
    try {
        // Only a selection that was read from the settings file is written
        // back: the public-folders note and an empty list after a failed read
        // are no mailbox choice, and must not replace the one on disk.
        if (m_selectionShown && m_list) {
            std::wstring selection;
            std::vector<std::pair<SMailboxRecord*, bool>> applied;
            const int count = m_list.ItemCount();
            for (int item = 0; item < count; ++item) {
                SMailboxRecord* record = RecordOf(item);
                if (!record)
                    continue;
                MailboxSelectionItem entry;
                entry.id = record->id;
                entry.checked = m_list.IsChecked(item);
                entry.name = m_list.ItemText(item);
                selection += FormatMailboxSelectionItem(entry);
                applied.emplace_back(record, entry.checked);
            }
            // Only the last item's separator goes: a name may end in a
            // blank, and its stated length counts it.
            if (!selection.empty() && selection.back() == L' ')
                selection.pop_back();
            // A choice that did not reach the file is not applied: the page
            // stays dirty and the store hears nothing.
            CStoreConfig config;
            if (!config.SetMailboxSelectionByName(m_storeUid, selection))
                throw _com_error(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
            for (const auto& entry : applied)
                entry.first->checked = entry.second ? 1 : 0;
        }
        m_dirty = false;
        NotifySite();
        m_applied = true;
    } catch (const _com_error& error) {
        const _bstr_t source = error.Source();
        const _bstr_t description = error.Description();
        const wchar_t* message = error.ErrorMessage();
        wchar_t text[1024];
        swprintf(text, 1024, L"Apply() Error: Code = %08lx, Code meaning = %s, Source = %s, Description = %s\n",
                 static_cast<unsigned long>(error.Error()), message ? message : L"",
                 source.length() ? static_cast<const wchar_t*>(source) : L"",
                 description.length() ? static_cast<const wchar_t*>(description) : L"");
        OutputDebugStringW(text);
    } catch (...) {
        OutputDebugStringW(L"Apply() Error: unexpected failure\n");
    }
    return S_OK;
}

INT_PTR CProvPropPage::OnInitDialog(WPARAM, LPARAM)
{
    FillMailboxList();
    return TRUE;
}

void CProvPropPage::FillMailboxList()
{
    if (IOleClientSite* site = ClientSite())
        site->QueryInterface(__uuidof(outlook::PropertyPageSite), reinterpret_cast<void**>(m_pageSite.ReleaseAndGetAddressOf()));
    m_list = ui::CListView(Item(IDC_MAILBOX_LIST));
    m_list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    m_list.InsertColumn(0, L"Column", m_list.ClientWidth());
    SetItemText(IDC_MAILBOXES_LABEL, LoadResString(IDS_MAILBOXES_LABEL));
    SetItemText(IDC_MAILBOXES_NOTE, LoadResString(IDS_SELECT_MAILBOXES));

    m_list.DeleteAllItems();
    m_records.clear();
    // A window made again shows only what this read finds.
    m_selectionShown = false;
    CStoreConfig config;
    m_publicFoldersOnly = 0;
    config.GetPublicFoldersOnlyByName(m_storeUid, m_publicFoldersOnly);
    if (m_publicFoldersOnly) {
        m_list.SetExtendedStyle(m_list.ExtendedStyle() & ~static_cast<DWORD>(LVS_EX_CHECKBOXES));
        AddItem(LoadResString(IDS_PUBLIC_FOLDERS_ONLY), 0, true);
        EnableWindow(m_list.Window(), FALSE);
    } else {
        std::wstring selection;
        if (config.GetMailboxSelectionByName(m_storeUid, selection)) {
            std::wstring_view rest(selection);
            MailboxSelectionItem entry;
            for (;;) {
                const size_t next = ParseMailboxSelectionItem(rest, entry);
                if (next == std::wstring_view::npos)
                    break;
                if (entry.id != 0)
                    AddItem(entry.name, entry.id, entry.checked);
                rest.remove_prefix(std::min(next, rest.size()));
            }
            m_selectionShown = true;
        } else {
            MessageBoxW(Window(), LoadResString(IDS_NO_MAILBOX_LIST).c_str(),
                        LoadResString(IDS_MAILBOX_SELECTION).c_str(), MB_OK | MB_ICONERROR);
        }
    }
    m_initialised = true;
}

void CProvPropPage::AddItem(const std::wstring& text, LONGLONG id, bool checked)
{
    auto record = std::make_unique<SMailboxRecord>();
    record->id = id;
    record->checked = checked ? 1 : 0;
    const int item = m_list.InsertItem(text, reinterpret_cast<LPARAM>(record.get()));
    if (item < 0)
        return;
    m_records.push_back(std::move(record));
    m_list.SetChecked(item, checked);
}

CProvPropPage::SMailboxRecord* CProvPropPage::RecordOf(int item) const
{
    return reinterpret_cast<SMailboxRecord*>(m_list.ItemParam(item));
}

INT_PTR CProvPropPage::OnItemChanged(WPARAM, LPARAM lParam)
{
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
    if (!m_initialised || !(change->uChanged & LVIF_STATE) || change->iItem < 0)
        return 0;
    const int before = StateImageOf(change->uOldState);
    const int after = StateImageOf(change->uNewState);
    if (before == after || !IsCheckState(before) || !IsCheckState(after))
        return 0;

    // A tick on one of several selected items ticks them all alike.
    if (!m_propagating) {
        const std::vector<int> selected = m_list.ItemsWithState(LVIS_SELECTED);
        if (std::find(selected.begin(), selected.end(), change->iItem) != selected.end()) {
            m_propagating = true;
            try {
                for (int item : selected) {
                    if (item != change->iItem)
                        m_list.SetStateImage(item, after);
                }
            } catch (...) {
                m_propagating = false;
                throw;
            }
            m_propagating = false;
        }
    }
    m_dirty = ComputeDirty();
    NotifySite();
    return 0;
}

bool CProvPropPage::ComputeDirty() const
{
    const int count = m_list.ItemCount();
    for (int item = 0; item < count; ++item) {
        const SMailboxRecord* record = RecordOf(item);
        if (record && (m_list.IsChecked(item) ? 1 : 0) != record->checked)
            return true;
    }
    return false;
}

void CProvPropPage::NotifySite()
{
    if (m_pageSite)
        m_pageSite->OnStatusChange();
}

INT_PTR CProvPropPage::OnHeaderStateIconClick(WPARAM, LPARAM)
{
    return 0;
}

INT_PTR CProvPropPage::OnDestroy(WPARAM, LPARAM)
{
    m_initialised = false;
    m_list.DeleteAllItems();
    m_records.clear();
    m_list = ui::CListView();
    return 0;
}

} // namespace setup
