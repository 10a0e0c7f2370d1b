// The "Mailboxes" page as Outlook shows it: created by ProgID in the folder
// Properties dialog after the add-in offered it, filled from the store's
// settings file, ticked by the user (alone or several selected items at
// once), applied into the settings file, and telling the open store once,
// when it goes, that its selection changed. Also the page as a COM object:
// aggregation, error information, its dispatch interface.
#include "ProviderPlatform.h"
#include "AddInTestFixture.h"

#include "CWizardRobot.h"
#include "IProvPropPage.h"
#include "WindowShot.h"
#include "WizardSession.h"

#include <commctrl.h>
#include <ocidl.h>
#include <shlobj.h>
#include <olectl.h>

#include <atomic>
#include <thread>

namespace addintest {
namespace {

constexpr int kMailboxList = 1120;
constexpr wchar_t kDatabase[] = L"C:\\Databases\\Mailbox Store.edb";
constexpr wchar_t kLogs[] = L"C:\\Databases\\Logs";

std::wstring GuidText(const MAPIUID& uid)
{
    GUID guid;
    memcpy(&guid, uid.ab, sizeof(guid));
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// build/screenshots beside build/bin, where the test runs.
std::wstring ScreenshotFolder()
{
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder = program;
    folder = folder.substr(0, folder.find_last_of(L'\\'));
    folder = folder.substr(0, folder.find_last_of(L'\\')) + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

class PageTest : public AddInTest {
protected:
    void SetUp() override
    {
        AddInTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(S_OK, StartHost());
        ASSERT_EQ(S_OK, m_host->ConnectAddIn(kAddInProgId, extensibility::ext_cm_Startup));
        m_uid = FreshUid();
    }
    void TearDown() override
    {
        m_dialog.reset();
        for (const std::wstring& file : m_files)
            DeleteFileW(file.c_str());
        if (m_event)
            CloseHandle(m_event);
        AddInTest::TearDown();
    }

    MAPIUID FreshUid()
    {
        GUID guid;
        CoCreateGuid(&guid);
        MAPIUID uid;
        memcpy(uid.ab, &guid, sizeof(uid.ab));
        return uid;
    }

    void WriteSettings(const std::wstring& selection, LONG publicOnly = 0, const MAPIUID* store = nullptr)
    {
        const std::wstring path = wizardtest::SettingsFilePath(store ? *store : m_uid);
        ASSERT_FALSE(path.empty());
        m_files.push_back(path);
        // The data directory, as the library makes it on its first use.
        SHCreateDirectoryExW(nullptr, path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
        const std::vector<BYTE> bytes = wizardtest::SettingsFileBytes(kDatabase, kLogs, selection, publicOnly);
        FILE* file = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(nullptr, file);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }

    std::vector<BYTE> SettingsBytes(const MAPIUID* store = nullptr) const
    {
        return wizardtest::ReadFileBytes(wizardtest::SettingsFilePath(store ? *store : m_uid));
    }

    // The store's mailbox-changed event, as its watcher waits on it.
    HANDLE Event()
    {
        if (!m_event)
            m_event = CreateEventW(nullptr, FALSE, FALSE, (GuidText(m_uid) + L"MailboxChanged").c_str());
        return m_event;
    }
    bool Signalled() { return WaitForSingleObject(Event(), 0) == WAIT_OBJECT_0; }

    // The user opens the folder's Properties on the Mailboxes page.
    void Open(const MAPIUID* store = nullptr)
    {
        std::vector<olhost::PageEntry> pages;
        ASSERT_EQ(S_OK, m_host->ShowFolderProperties(
                            CFolder::Make(EntryIdHex(kEntryIpmSubtree, kProviderUid, store ? *store : m_uid)).Get(),
                            Title(), &m_dialog, &pages));
        ASSERT_EQ(1u, pages.size());
        m_page = m_dialog->ControlWindow(Title());
        ASSERT_NE(nullptr, m_page);
        m_list = GetDlgItem(m_page, kMailboxList);
        ASSERT_NE(nullptr, m_list);
    }

    static std::wstring Title() { return LibraryText(362); }

    // Outlook's Apply, whether or not the page says it has changes.
    HRESULT ApplyDirectly()
    {
        ComPtr<outlook::PropertyPage> page;
        HRESULT hr = m_dialog->Control(Title()).As(&page);
        return SUCCEEDED(hr) ? page->Apply() : hr;
    }
    const olhost::PageRecord* Record() const { return m_dialog->Record(Title()); }

    int Count() const { return static_cast<int>(SendMessageW(m_list, LVM_GETITEMCOUNT, 0, 0)); }
    std::wstring Text(int item) const
    {
        wchar_t text[256] = {};
        LVITEMW request{};
        request.iSubItem = 0;
        request.pszText = text;
        request.cchTextMax = 256;
        SendMessageW(m_list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&request));
        return text;
    }
    std::vector<std::wstring> Texts() const
    {
        std::vector<std::wstring> texts;
        for (int item = 0; item < Count(); ++item)
            texts.push_back(Text(item));
        return texts;
    }
    int StateImage(int item) const
    {
        return static_cast<int>(SendMessageW(m_list, LVM_GETITEMSTATE, item, LVIS_STATEIMAGEMASK) >> 12);
    }
    std::vector<bool> Checks() const
    {
        std::vector<bool> checks;
        for (int item = 0; item < Count(); ++item)
            checks.push_back(StateImage(item) == 2);
        return checks;
    }
    // A click on the item's check box changes its state image.
    void SetChecked(int item, bool checked)
    {
        LVITEMW state{};
        state.stateMask = LVIS_STATEIMAGEMASK;
        state.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
        SendMessageW(m_list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
        m_dialog->PumpMessages();
    }
    void Select(const std::vector<int>& items)
    {
        LVITEMW none{};
        none.stateMask = LVIS_SELECTED;
        SendMessageW(m_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        for (int item : items) {
            LVITEMW selected{};
            selected.stateMask = LVIS_SELECTED;
            selected.state = LVIS_SELECTED;
            SendMessageW(m_list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&selected));
        }
        m_dialog->PumpMessages();
    }

    MAPIUID m_uid{};
    std::vector<std::wstring> m_files;
    HANDLE m_event = nullptr;
    std::unique_ptr<olhost::CFolderPropertiesDialog> m_dialog;
    HWND m_page = nullptr;
    HWND m_list = nullptr;
};

// Three mailboxes in an order the list sorts, one item without a mailbox.
const std::wstring kSelection = L"101 1 7 Charlie 102 0 5 Alice 0 1 7 Nothing 103 1 5 Bruno";

TEST_F(PageTest, ListShowsTheStoredSelectionSortedWithItsChecks)
{
    WriteSettings(kSelection);
    Open();
    const olhost::PageRecord* record = Record();
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(S_OK, record->createResult);
    EXPECT_TRUE(record->hasPropertyPage);
    EXPECT_EQ(E_NOTIMPL, record->pageInfoResult);
    EXPECT_EQ((std::vector<std::wstring>{L"Alice", L"Bruno", L"Charlie"}), Texts());
    EXPECT_EQ((std::vector<bool>{false, true, true}), Checks());
    EXPECT_TRUE(SendMessageW(m_list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES);
    EXPECT_TRUE(IsWindowEnabled(m_list));
    EXPECT_TRUE(GetWindowLongW(m_list, GWL_STYLE) & LVS_NOCOLUMNHEADER);
    wchar_t text[256] = {};
    GetDlgItemTextW(m_page, 210, text, 256);
    EXPECT_EQ(LibraryText(360), text);
    GetDlgItemTextW(m_page, 211, text, 256);
    EXPECT_EQ(LibraryText(313), text);
    EXPECT_FALSE(m_dialog->IsApplyEnabled());
    EXPECT_EQ(0, record->statusChanges);

    const std::wstring shot = ScreenshotFolder() + L"\\30-mailboxes-page.png";
    EXPECT_TRUE(wizardtest::SaveWindowPng(m_dialog->Window(), shot));
}

TEST_F(PageTest, ACheckThatDiffersFromTheStoredOneMakesThePageDirtyUntilItIsUndone)
{
    WriteSettings(kSelection);
    Open();
    SetChecked(0, true);
    EXPECT_EQ(1, Record()->statusChanges);
    EXPECT_TRUE(Record()->dirty);
    EXPECT_TRUE(m_dialog->IsApplyEnabled());
    SetChecked(2, false);
    EXPECT_TRUE(Record()->dirty);
    SetChecked(0, false);
    EXPECT_TRUE(Record()->dirty);
    SetChecked(2, true);
    EXPECT_EQ(4, Record()->statusChanges);
    EXPECT_FALSE(Record()->dirty);
    EXPECT_FALSE(m_dialog->IsApplyEnabled());
    // Only the check state counts: selecting items changes nothing.
    Select({0, 1});
    EXPECT_EQ(4, Record()->statusChanges);
}

TEST_F(PageTest, ATickOnOneOfSeveralSelectedItemsTicksThemAll)
{
    WriteSettings(kSelection);
    Open();
    struct Case {
        const char* what;
        std::vector<int> selected;
        int item;
        bool checked;
        std::vector<bool> after;
    };
    const Case cases[] = {
        {"unticking one of three selected", {0, 1, 2}, 1, false, {false, false, false}},
        {"ticking one of two selected", {0, 2}, 2, true, {true, false, true}},
        {"an item outside the selection changes alone", {0, 2}, 1, true, {true, true, true}},
        {"one selected item changes alone", {1}, 1, false, {true, false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Select(c.selected);
        SetChecked(c.item, c.checked);
        EXPECT_EQ(c.after, Checks());
    }
    EXPECT_TRUE(Record()->dirty);
}

TEST_F(PageTest, ApplyWritesTheListIntoTheSettingsFileAndTheStoreHearsOnceWhenThePageGoes)
{
    WriteSettings(kSelection);
    ASSERT_NE(nullptr, Event());
    Open();
    SetChecked(0, true);
    SetChecked(2, false);
    ASSERT_EQ(S_OK, m_dialog->PressApply());
    EXPECT_EQ(1, Record()->applyCalls);
    EXPECT_EQ(S_OK, Record()->applyResult);
    // In list order, the last blank trimmed; the rest of the file unchanged.
    EXPECT_EQ(wizardtest::SettingsFileBytes(kDatabase, kLogs, L"102 1 5 Alice 103 1 5 Bruno 101 0 7 Charlie", 0),
              SettingsBytes());
    EXPECT_FALSE(Record()->dirty);
    EXPECT_FALSE(m_dialog->IsApplyEnabled());
    EXPECT_FALSE(Signalled());

    // What was applied is the page's new clean state.
    SetChecked(2, true);
    EXPECT_TRUE(Record()->dirty);
    SetChecked(2, false);
    EXPECT_FALSE(Record()->dirty);
    SetChecked(1, false);
    ASSERT_EQ(S_OK, m_dialog->PressApply());
    EXPECT_EQ(wizardtest::SettingsFileBytes(kDatabase, kLogs, L"102 1 5 Alice 103 0 5 Bruno 101 0 7 Charlie", 0),
              SettingsBytes());
    EXPECT_FALSE(Signalled());

    ASSERT_EQ(S_OK, m_dialog->PressOk());
    EXPECT_TRUE(Record()->released);
    EXPECT_TRUE(Signalled());
    EXPECT_FALSE(Signalled());
}

TEST_F(PageTest, ClosingWithoutApplyWritesNothingAndSignalsNothing)
{
    for (bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK with nothing changed" : "Cancel after a change");
        WriteSettings(kSelection);
        const std::vector<BYTE> before = SettingsBytes();
        ASSERT_NE(nullptr, Event());
        Open();
        if (!ok)
            SetChecked(0, true);
        ASSERT_EQ(S_OK, ok ? m_dialog->PressOk() : m_dialog->PressCancel());
        EXPECT_EQ(0, Record()->applyCalls);
        EXPECT_TRUE(Record()->released);
        EXPECT_EQ(before, SettingsBytes());
        EXPECT_FALSE(Signalled());
        m_dialog.reset();
    }
}

TEST_F(PageTest, APublicFolderStoreShowsItsNoteCheckedInADisabledList)
{
    WriteSettings(L"101 1 7 Charlie 102 1 5 Alice", 1);
    Open();
    ASSERT_EQ(1, Count());
    EXPECT_EQ(LibraryText(365), Text(0));
    EXPECT_EQ(L"Note: Database contains only public folders", Text(0));
    EXPECT_EQ(2, StateImage(0));
    EXPECT_FALSE(IsWindowEnabled(m_list));
    EXPECT_FALSE(SendMessageW(m_list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES);
    // The note is no mailbox choice: an Apply leaves the stored one alone.
    const std::vector<BYTE> before = SettingsBytes();
    EXPECT_EQ(S_OK, ApplyDirectly());
    EXPECT_EQ(before, SettingsBytes());
    EXPECT_EQ(S_OK, m_dialog->PressOk());
}

TEST_F(PageTest, ItemsBeforeAMalformedOneStand)
{
    // The third item's length runs past the end of the text.
    WriteSettings(L"5000000001 1 15 Alice Lindqvist 5000000002 0 13 Bruno Castell 5000000003 1 40 Old");
    Open();
    EXPECT_EQ((std::vector<std::wstring>{L"Alice Lindqvist", L"Bruno Castell"}), Texts());
    EXPECT_EQ((std::vector<bool>{true, false}), Checks());
}

TEST_F(PageTest, WithoutASettingsFileThePageSaysSoAndShowsNothing)
{
    // The message shows while Outlook makes the page; a robot answers it.
    wizardtest::SMessageBox box;
    bool seen = false;
    const DWORD thread = GetCurrentThreadId();
    std::thread robot([&] {
        wizardtest::CWizardRobot answer(thread);
        seen = answer.WaitForMessageBox(box, 30000);
        if (seen)
            answer.Dismiss(box);
    });
    Open();
    robot.join();
    ASSERT_TRUE(seen);
    EXPECT_EQ(LibraryText(312), box.caption);
    EXPECT_EQ(LibraryText(363), box.text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.icon);
    EXPECT_EQ(0, Count());
    // Nothing read, nothing to write: no settings file comes into being.
    EXPECT_EQ(S_OK, ApplyDirectly());
    ASSERT_EQ(S_OK, m_dialog->PressOk());
    EXPECT_TRUE(SettingsBytes().empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(wizardtest::SettingsFilePath(m_uid).c_str()));
}

// The selection text is written exactly: of the trailing blanks only the
// last item's separator goes, so a name that ends in a blank keeps it.
TEST_F(PageTest, ApplyKeepsABlankThatEndsTheLastName)
{
    WriteSettings(L"201 1 4 Adam 202 0 4 Zoe ");
    Open();
    ASSERT_EQ((std::vector<std::wstring>{L"Adam", L"Zoe "}), Texts());
    SetChecked(1, true);
    ASSERT_EQ(S_OK, m_dialog->PressApply());
    EXPECT_EQ(wizardtest::SettingsFileBytes(kDatabase, kLogs, L"201 1 4 Adam 202 1 4 Zoe ", 0), SettingsBytes());
    ASSERT_EQ(S_OK, m_dialog->PressOk());
}

// The page's window goes and comes again (Outlook deactivates a page it
// hides); the second time the settings file cannot be read, so there is no
// mailbox choice to apply and the file must not come back empty.
TEST_F(PageTest, APageShownAgainWithoutItsSettingsAppliesNothing)
{
    WriteSettings(kSelection);
    Open();
    ASSERT_EQ(3, Count());
    const ComPtr<IUnknown> control = m_dialog->Control(Title());
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(S_OK, control.As(&inPlace));
    ASSERT_EQ(S_OK, inPlace->InPlaceDeactivate());
    ASSERT_TRUE(DeleteFileW(wizardtest::SettingsFilePath(m_uid).c_str()));

    wizardtest::SMessageBox box;
    bool seen = false;
    std::atomic<bool> answered{false};
    const DWORD thread = GetCurrentThreadId();
    std::thread robot([&] {
        wizardtest::CWizardRobot answer(thread);
        seen = answer.WaitForMessageBox(box, 30000);
        if (seen)
            answer.Dismiss(box);
        answered = true;
    });
    ComPtr<IOleObject> object;
    HRESULT hr = control.As(&object);
    if (SUCCEEDED(hr))
        hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr);
    // The page fills its list from the host's message loop.
    while (!answered) {
        m_dialog->PumpMessages();
        Sleep(10);
    }
    robot.join();
    ASSERT_EQ(S_OK, hr);
    ASSERT_TRUE(seen);
    EXPECT_EQ(LibraryText(363), box.text);
    EXPECT_EQ(S_OK, ApplyDirectly());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(wizardtest::SettingsFilePath(m_uid).c_str()));
    inPlace->InPlaceDeactivate();
}

TEST_F(PageTest, AChoiceThatCannotBeWrittenIsNotApplied)
{
    WriteSettings(kSelection);
    ASSERT_NE(nullptr, Event());
    Open();
    const std::wstring path = wizardtest::SettingsFilePath(m_uid);
    const std::vector<BYTE> before = SettingsBytes();
    // Another program holds the file open without sharing it.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    SetChecked(0, true);
    ASSERT_EQ(S_OK, m_dialog->PressApply());
    EXPECT_EQ(S_OK, Record()->applyResult);
    CloseHandle(held);
    EXPECT_EQ(before, SettingsBytes());
    // Still dirty, so OK applies it again, and this time it is written.
    EXPECT_TRUE(Record()->dirty);
    EXPECT_FALSE(Signalled());
    ASSERT_EQ(S_OK, m_dialog->PressOk());
    EXPECT_EQ(2, Record()->applyCalls);
    EXPECT_EQ(wizardtest::SettingsFileBytes(kDatabase, kLogs, L"102 1 5 Alice 103 1 5 Bruno 101 1 7 Charlie", 0),
              SettingsBytes());
    EXPECT_TRUE(Signalled());
}

TEST_F(PageTest, APageKeepsTheStoreItWasMadeFor)
{
    WriteSettings(kSelection);
    const MAPIUID other = FreshUid();
    WriteSettings(L"201 1 5 Xenia", 0, &other);
    const std::vector<BYTE> otherBefore = SettingsBytes(&other);
    Open();
    // Meanwhile Outlook offers the page for another store's folder.
    std::unique_ptr<olhost::CFolderPropertiesDialog> second;
    ASSERT_EQ(S_OK, m_host->ShowFolderProperties(
                        CFolder::Make(EntryIdHex(kEntryIpmSubtree, kProviderUid, other)).Get(), L"", &second));
    SetChecked(0, true);
    ASSERT_EQ(S_OK, m_dialog->PressApply());
    EXPECT_EQ(wizardtest::SettingsFileBytes(kDatabase, kLogs, L"102 1 5 Alice 103 1 5 Bruno 101 1 7 Charlie", 0),
              SettingsBytes());
    EXPECT_EQ(otherBefore, SettingsBytes(&other));
    EXPECT_EQ(S_OK, second->PressCancel());
    EXPECT_EQ(S_OK, m_dialog->PressOk());
}

// An object that aggregates the page.
class COuter final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++count; }
    STDMETHODIMP_(ULONG) Release() override { return --count; }
    ComPtr<IUnknown> inner;
    ULONG count = 1;
};

TEST_F(PageTest, ThePageIsAControlObjectThatCanBeAggregated)
{
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(kPageProgId, &clsid));

    {
        COuter outer;
        ComPtr<IUnknown> refused;
        EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                                          reinterpret_cast<void**>(refused.GetAddressOf())));
        ASSERT_EQ(S_OK, CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(outer.inner.GetAddressOf())));
        ComPtr<outlook::PropertyPage> page;
        const ULONG before = outer.count;
        ASSERT_EQ(S_OK, outer.QueryInterface(__uuidof(outlook::PropertyPage), reinterpret_cast<void**>(page.GetAddressOf())));
        EXPECT_EQ(before + 1, outer.count);
        ComPtr<IUnknown> identity;
        ASSERT_EQ(S_OK, page.As(&identity));
        EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.Get());
        identity.Reset();
        page.Reset();
        outer.inner.Reset();
    }

    ComPtr<IUnknown> control;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(control.GetAddressOf())));
    ComPtr<ISupportErrorInfo> errors;
    ASSERT_EQ(S_OK, control.As(&errors));
    EXPECT_EQ(S_OK, errors->InterfaceSupportsErrorInfo(__uuidof(IProvPropPage)));
    EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(__uuidof(outlook::PropertyPage)));
    EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(IID_IDispatch));

    ComPtr<outlook::PropertyPage> page;
    ASSERT_EQ(S_OK, control.As(&page));
    BSTR help = nullptr;
    long context = 0;
    EXPECT_EQ(E_POINTER, page->GetPageInfo(nullptr, &context));
    EXPECT_EQ(E_POINTER, page->GetPageInfo(&help, nullptr));
    EXPECT_EQ(E_NOTIMPL, page->GetPageInfo(&help, &context));
    EXPECT_EQ(E_POINTER, page->get_Dirty(nullptr));
    VARIANT_BOOL dirty = VARIANT_TRUE;
    EXPECT_EQ(S_OK, page->get_Dirty(&dirty));
    EXPECT_EQ(VARIANT_FALSE, dirty);

    // Its dispatch interface is described by the library's type library.
    ComPtr<IProvPropPage> dual;
    ASSERT_EQ(S_OK, control.As(&dual));
    UINT count = 0;
    EXPECT_EQ(S_OK, dual->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, dual->GetTypeInfo(0, LOCALE_NEUTRAL, info.GetAddressOf()));
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(__uuidof(IProvPropPage), attributes->guid));
    info->ReleaseTypeAttr(attributes);
    EXPECT_EQ(DISP_E_BADINDEX, dual->GetTypeInfo(1, LOCALE_NEUTRAL, info.ReleaseAndGetAddressOf()));
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dual->GetIDsOfNames(IID_NULL, names, 1, LOCALE_NEUTRAL, &id));

    // Registered as it describes itself; nothing to persist.
    ComPtr<IOleObject> ole;
    ASSERT_EQ(S_OK, control.As(&ole));
    DWORD misc = 0;
    EXPECT_EQ(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &misc));
    EXPECT_EQ(131473u, misc);
    CLSID own{};
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(S_OK, control.As(&persist));
    EXPECT_EQ(S_OK, persist->GetClassID(&own));
    EXPECT_TRUE(IsEqualCLSID(clsid, own));
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(S_OK, control.As(&inPlace));
    HWND window = nullptr;
    EXPECT_EQ(E_FAIL, inPlace->GetWindow(&window));

}

} // namespace
} // namespace addintest
