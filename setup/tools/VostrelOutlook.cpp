// The main job's Outlook run, done the way a user does it in Outlook: the
// library is registered and the add-in registered with Outlook; the stand-in
// Outlook starts on a fresh profile and loads the add-in; a click on the
// add-in's toolbar button adds the database as a store through the wizard (a
// robot thread fills in the pages); the store's folder list is printed; on
// the "Mailboxes" page of the store's top folder one mailbox is unticked and
// applied; once the store has rebuilt its folder list it is printed again.
// Screenshots of the wizard's pages and of the page go into the folder given.
//
// VostrelOutlook <database.edb> [log folder] [--screenshots <folder>]
#include "ProviderPlatform.h"

#include "CEntryId.h"
#include "COutlookHost.h"
#include "ProviderFiles.h"
#include "WindowShot.h"
#include "WizardSession.h"

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace wizardtest;

namespace {

constexpr wchar_t kAddInKey[] = L"Software\\Microsoft\\Office\\Outlook\\AddIns\\KOLVEN32.Connect";
constexpr wchar_t kButtonTag[] = L"ORMEL_TOOLBAR_ITEM";
constexpr int kDatabasePage = 202;
constexpr int kMailboxPage = 203;
constexpr int kDatabaseEdit = 207;
constexpr int kLogEdit = 208;
constexpr int kMailboxList = 1120;

// The terminal reading the output takes UTF-8.
std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::wstring Take(BSTR text)
{
    std::wstring value(text ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return value;
}

int Fail(const char* what, HRESULT hr)
{
    std::fprintf(stderr, "%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

struct SFolderLine {
    int depth;
    std::wstring name;
    LONG messages;
};

// The folder tree under a folder, depth first, children in the table's order.
void CollectTree(IMAPIFolder* folder, int depth, std::vector<SFolderLine>& lines)
{
    ComPtr<IMAPITable> table;
    if (FAILED(folder->GetHierarchyTable(0, table.GetAddressOf())))
        return;
    SizedSPropTagArray(3, columns) = {3, {PR_DISPLAY_NAME_W, PR_CONTENT_COUNT, PR_ENTRYID}};
    if (FAILED(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0)))
        return;
    for (;;) {
        LPSRowSet rows = nullptr;
        if (FAILED(table->QueryRows(50, 0, &rows)) || !rows)
            return;
        if (rows->cRows == 0) {
            FreeProws(rows);
            return;
        }
        for (ULONG r = 0; r < rows->cRows; ++r) {
            const SPropValue* values = rows->aRow[r].lpProps;
            SFolderLine line{depth, PROP_TYPE(values[0].ulPropTag) == PT_UNICODE ? values[0].Value.lpszW : L"?",
                             PROP_TYPE(values[1].ulPropTag) == PT_LONG ? values[1].Value.l : 0};
            lines.push_back(line);
            if (PROP_TYPE(values[2].ulPropTag) != PT_BINARY)
                continue;
            ULONG type = 0;
            ComPtr<IMAPIFolder> child;
            if (SUCCEEDED(folder->OpenEntry(values[2].Value.bin.cb, reinterpret_cast<LPENTRYID>(values[2].Value.bin.lpb),
                                            &IID_IMAPIFolder, 0, &type,
                                            reinterpret_cast<LPUNKNOWN*>(child.GetAddressOf()))))
                CollectTree(child.Get(), depth + 1, lines);
        }
        FreeProws(rows);
    }
}

std::vector<SFolderLine> FolderList(IMAPIFolder* subtree)
{
    std::vector<SFolderLine> lines;
    CollectTree(subtree, 0, lines);
    return lines;
}

void PrintFolders(const char* heading, const std::vector<SFolderLine>& lines)
{
    std::printf("%s (%u folders):\n", heading, static_cast<unsigned>(lines.size()));
    for (const SFolderLine& line : lines)
        std::printf("  %*s%s (%ld)\n", 2 * line.depth, "", Narrow(line.name).c_str(), static_cast<long>(line.messages));
}

bool SameLines(const std::vector<SFolderLine>& a, const std::vector<SFolderLine>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].depth != b[i].depth || a[i].name != b[i].name || a[i].messages != b[i].messages)
            return false;
    }
    return true;
}

// The store of this provider that Outlook shows: its top folder and the
// store UID its EntryID carries.
ComPtr<outlook::MAPIFolder> FindStoreTop(olhost::COutlookHost& host, MAPIUID& storeUid)
{
    ComPtr<outlook::_NameSpace> nameSpace;
    ComPtr<outlook::_Folders> folders;
    if (FAILED(host.Application()->get_Session(nameSpace.GetAddressOf())) ||
        FAILED(nameSpace->get_Folders(folders.GetAddressOf())))
        return nullptr;
    long count = 0;
    folders->get_Count(&count);
    for (long i = 1; i <= count; ++i) {
        VARIANT index;
        VariantInit(&index);
        index.vt = VT_I4;
        index.lVal = i;
        ComPtr<outlook::MAPIFolder> folder;
        BSTR text = nullptr;
        if (FAILED(folders->Item(index, folder.GetAddressOf())) || FAILED(folder->get_EntryID(&text)))
            continue;
        const std::wstring hex = Take(text);
        CEntryId id;
        if (hex.size() == 2 * sizeof(id) && HexToBytes(hex.c_str(), reinterpret_cast<BYTE*>(&id), sizeof(id)) &&
            memcmp(id.providerUid.ab, kProviderUid.ab, sizeof(kProviderUid.ab)) == 0 && id.kind == kEntryIpmSubtree) {
            storeUid = id.storeUid;
            return folder;
        }
    }
    return nullptr;
}

// The IPM subtree of the store, opened through Outlook's MAPI session.
HRESULT OpenSubtree(IMAPISession* session, const MAPIUID& storeUid, ComPtr<IMsgStore>& store,
                    ComPtr<IMAPIFolder>& subtree)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = session->GetMsgStoresTable(0, table.GetAddressOf());
    if (FAILED(hr))
        return hr;
    SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_MDB_PROVIDER}};
    LPSRowSet rows = nullptr;
    hr = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows);
    if (FAILED(hr))
        return hr;
    hr = MAPI_E_NOT_FOUND;
    for (ULONG r = 0; r < rows->cRows && !store; ++r) {
        const SPropValue* values = rows->aRow[r].lpProps;
        if (PROP_TYPE(values[1].ulPropTag) != PT_BINARY || values[1].Value.bin.cb != sizeof(kProviderUid.ab) ||
            memcmp(values[1].Value.bin.lpb, kProviderUid.ab, sizeof(kProviderUid.ab)) != 0)
            continue;
        hr = session->OpenMsgStore(0, values[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb),
                                   nullptr, MDB_NO_DIALOG, store.GetAddressOf());
    }
    FreeProws(rows);
    if (FAILED(hr))
        return hr;
    CEntryId id(kEntryIpmSubtree, storeUid);
    ULONG type = 0;
    return store->OpenEntry(sizeof(id), id.AsEntryId(), &IID_IMAPIFolder, 0, &type,
                            reinterpret_cast<LPUNKNOWN*>(subtree.GetAddressOf()));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> paths;
    std::wstring screenshots;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--screenshots" && i + 1 < argc)
            screenshots = argv[++i];
        else
            paths.push_back(arg);
    }
    if (paths.empty() || paths.size() > 2) {
        std::fprintf(stderr, "usage: VostrelOutlook <database.edb> [log folder] [--screenshots <folder>]\n");
        return 2;
    }
    const std::wstring database = paths[0];
    const std::wstring logs = paths.size() > 1 ? paths[1] : std::wstring();
    if (!screenshots.empty())
        CreateDirectoryW(screenshots.c_str(), nullptr);
    auto shotPath = [&](const wchar_t* name) { return screenshots + L"\\" + name; };

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return Fail("CoInitializeEx", E_FAIL);
    HRESULT hr = RegisterLibrary(true);
    if (FAILED(hr))
        return Fail("registering KOLVEN32.dll", hr);
    // The add-in as its installer registers it with Outlook: loaded at start-up.
    HKEY key = nullptr;
    DWORD loadBehavior = 3;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kAddInKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return Fail("registering the add-in with Outlook", E_FAIL);
    RegSetValueExW(key, L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&loadBehavior),
                   sizeof(loadBehavior));
    RegCloseKey(key);

    CMapiProfile profile(L"VostrelOutlook");
    if (!profile.Ready())
        return Fail("making a MAPI profile", E_FAIL);
    std::unique_ptr<olhost::COutlookHost> host;
    hr = olhost::COutlookHost::Start(profile.Name(), olhost::HostOptions(), &host);
    if (FAILED(hr))
        return Fail("starting Outlook", hr);
    hr = host->LoadRegisteredAddIns();
    if (FAILED(hr) || !host->IsConnected(L"KOLVEN32.Connect"))
        return Fail("loading the add-in", FAILED(hr) ? hr : E_FAIL);
    host->CompleteStartup();
    const std::wstring barName = LibraryText(314);
    std::printf("Outlook started with profile %s; the add-in's toolbar \"%s\" is there\n",
                Narrow(profile.Name()).c_str(), Narrow(barName).c_str());

    // The toolbar button: the wizard adds the database as a store.
    CScriptLog log;
    hr = RunWithRobot([&] { return host->ClickButton(barName, kButtonTag); },
                      [&](CWizardRobot& robot, CScriptLog& script) {
                          auto shot = [&](const wchar_t* name) {
                              if (!screenshots.empty())
                                  robot.Screenshot(robot.Sheet(), shotPath(name));
                          };
                          ROBOT_CHECK(script, robot.WaitForSheet());
                          ROBOT_CHECK(script, robot.PageId() == kDatabasePage);
                          ROBOT_CHECK(script, robot.SetText(kDatabaseEdit, database));
                          ROBOT_CHECK(script, robot.SetText(kLogEdit, logs));
                          shot(L"outlook-1-database-page.png");
                          ROBOT_CHECK(script, robot.Press(EButton::Next));
                          SMessageBox box;
                          if (robot.FindMessageBox(box)) {
                              script.Note("the wizard says: " + Narrow(box.text));
                              return;
                          }
                          ROBOT_CHECK(script, robot.PageId() == kMailboxPage);
                          const int mailboxes = robot.ListCount(kMailboxList);
                          for (int item = 0; item < mailboxes; ++item)
                              robot.ListSetChecked(kMailboxList, item, true);
                          shot(L"outlook-2-mailbox-page.png");
                          ROBOT_CHECK(script, robot.Press(EButton::Finish));
                      },
                      log);
    if (FAILED(hr) || !log.Failures().empty()) {
        std::fprintf(stderr, "the toolbar button's wizard did not add the store (0x%08lX):\n%s",
                     static_cast<unsigned long>(hr), log.Joined().c_str());
        return 1;
    }
    MAPIUID storeUid{};
    ComPtr<outlook::MAPIFolder> top = FindStoreTop(*host, storeUid);
    if (!top)
        return Fail("finding the new store in Outlook", MAPI_E_NOT_FOUND);
    BSTR name = nullptr;
    top->get_Name(&name);
    std::printf("the button added the store \"%s\"\n", Narrow(Take(name)).c_str());

    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> subtree;
    hr = OpenSubtree(host->Session(), storeUid, store, subtree);
    if (FAILED(hr))
        return Fail("opening the store", hr);
    const std::vector<SFolderLine> before = FolderList(subtree.Get());
    PrintFolders("folders before", before);

    // The store's Properties, "Mailboxes" page: the first ticked mailbox is
    // unticked, applied, and the dialog closed with OK.
    const std::wstring title = LibraryText(362);
    std::unique_ptr<olhost::CFolderPropertiesDialog> dialog;
    hr = host->ShowFolderProperties(top.Get(), title, &dialog);
    HWND page = SUCCEEDED(hr) ? dialog->ControlWindow(title) : nullptr;
    HWND list = page ? GetDlgItem(page, kMailboxList) : nullptr;
    if (!list)
        return Fail("showing the Mailboxes page", FAILED(hr) ? hr : E_FAIL);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    int unticked = -1;
    for (int item = 0; item < count && unticked < 0; ++item) {
        if ((SendMessageW(list, LVM_GETITEMSTATE, item, LVIS_STATEIMAGEMASK) >> 12) == 2)
            unticked = item;
    }
    if (unticked < 0)
        return Fail("finding a ticked mailbox on the page", E_FAIL);
    wchar_t text[256] = {};
    LVITEMW request{};
    request.pszText = text;
    request.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, unticked, reinterpret_cast<LPARAM>(&request));
    LVITEMW state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(1);
    SendMessageW(list, LVM_SETITEMSTATE, unticked, reinterpret_cast<LPARAM>(&state));
    dialog->PumpMessages();
    if (!screenshots.empty())
        SaveWindowPng(dialog->Window(), shotPath(L"outlook-3-mailboxes-page.png"));
    std::printf("unticked \"%s\" of %d mailboxes on the \"%s\" page\n", Narrow(text).c_str(), count,
                Narrow(title).c_str());
    if (FAILED(hr = dialog->PressApply()) || FAILED(hr = dialog->PressOk()))
        return Fail("applying the page", hr);
    dialog.reset();

    // The store hears of the change when the page goes and rebuilds its list.
    std::vector<SFolderLine> after;
    for (int i = 0; i < 200; ++i) {
        after = FolderList(subtree.Get());
        if (!SameLines(before, after))
            break;
        Sleep(50);
    }
    PrintFolders("folders after", after);
    subtree.Reset();
    store.Reset();
    top.Reset();
    host->Shutdown();
    host.reset();
    return SameLines(before, after) ? 1 : 0;
}
