// The IPM subtree's children follow the store's settings: the mailboxes the
// mailbox selection checks (all of them when every item is checked, none
// when none is), or the top-level public folders of a public-folder store;
// and an open subtree is rebuilt when the store's "MailboxChanged" event is
// signalled.
#include "ProviderPlatform.h"
#include "CMsgStore.h"
#include "CEntryId.h"
#include "testing/StoreClientTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

class SubtreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_client = new CMapiClient(); }
    static void TearDownTestSuite()
    {
        delete s_client;
        s_client = nullptr;
    }

    // A store over a copy of the mailbox fixture of its own.
    std::unique_ptr<CStoreSession> MailboxStore(const std::wstring& selection)
    {
        static int copies = 0;
        SStoreSettings settings;
        settings.databasePath = CFixtureFiles::Instance().MailboxCopy(EGeneration::Exchange2007,
                                                                      L"selection" + std::to_wstring(++copies));
        settings.logFolder = CFixtureFiles::Instance().LogFolder();
        settings.mailboxSelection = selection;
        return std::make_unique<CStoreSession>(settings, L"SubtreeTest");
    }

    static ComPtr<IMAPIFolder> Subtree(CStoreSession& session)
    {
        ULONG type = 0;
        ComPtr<IUnknown> object;
        ComPtr<IMAPIFolder> folder;
        if (SUCCEEDED(OpenEntry(session.Store(), CEntryId(kEntryIpmSubtree, session.Uid()), 0, &type,
                                object.GetAddressOf())))
            object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf()));
        return folder;
    }

    static std::vector<std::wstring> ChildNames(IMAPITable* table)
    {
        std::vector<std::wstring> names;
        ClientRows rows = AllRows(table, {PR_DISPLAY_NAME_W});
        for (ULONG r = 0; rows && r < rows->cRows; ++r)
            names.push_back(Text(&rows->aRow[r].lpProps[0]));
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::vector<std::wstring> ChildNames(IMAPIFolder* folder)
    {
        ComPtr<IMAPITable> table;
        if (FAILED(folder->GetHierarchyTable(0, table.GetAddressOf())))
            return {L"<no table>"};
        return ChildNames(table.Get());
    }

    const SMailboxFixture& Ids() const { return CFixtureFiles::Instance().MailboxIds(); }

    static CMapiClient* s_client;
};

CMapiClient* SubtreeTest::s_client = nullptr;

TEST_F(SubtreeTest, ChildrenFollowTheMailboxSelection)
{
    CFixtureFiles::Instance().Mailbox(EGeneration::Exchange2007);
    const SMailboxFixture& ids = Ids();
    const auto alice = std::make_pair(ids.alice.rootId, std::wstring(kAliceName));
    const auto bruno = std::make_pair(ids.bruno.rootId, std::wstring(kBrunoName));
    const auto old = std::make_pair(ids.old.rootId, std::wstring(kOldName));
    struct Case {
        const char* what;
        std::wstring selection;
        std::vector<std::wstring> children;
    };
    const Case cases[] = {
        {"no selection: every mailbox", L"", {kAliceName, kBrunoName, kOldName}},
        {"every item checked: every mailbox", MailboxSelectionText({alice, bruno}), {kAliceName, kBrunoName, kOldName}},
        {"some checked", MailboxSelectionText({alice, old}, {bruno}), {kAliceName, kOldName}},
        {"none checked", MailboxSelectionText({}, {alice, bruno, old}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<CStoreSession> session = MailboxStore(c.selection);
        ASSERT_EQ(S_OK, session->Status());
        ComPtr<IMAPIFolder> ipm = Subtree(*session);
        ASSERT_NE(nullptr, ipm);
        EXPECT_EQ(c.children, ChildNames(ipm.Get()));
    }
}

TEST_F(SubtreeTest, PublicFolderStoreShowsTheTopLevelPublicFolders)
{
    SStoreSettings settings;
    settings.databasePath = CFixtureFiles::Instance().Public();
    settings.logFolder = CFixtureFiles::Instance().LogFolder();
    settings.publicFoldersOnly = true;
    CStoreSession session(settings, L"SubtreeTest");
    ASSERT_EQ(S_OK, session.Status());
    const SPublicFixture& ids = CFixtureFiles::Instance().PublicIds();
    ComPtr<IMAPIFolder> ipm = Subtree(session);
    ASSERT_NE(nullptr, ipm);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, ipm->GetHierarchyTable(0, table.GetAddressOf()));
    ClientRows rows = AllRows(table.Get(), {PR_DISPLAY_NAME_W, PR_ENTRYID, PR_INSTANCE_KEY, PR_SUBFOLDERS});
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(2u, rows->cRows);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        const bool projects = Text(&row.lpProps[0]) == L"Projects";
        EXPECT_TRUE(projects || Text(&row.lpProps[0]) == L"Announcements");
        CEntryId id;
        std::vector<BYTE> bytes = Bytes(&row.lpProps[1]);
        ASSERT_EQ(72u, bytes.size());
        std::memcpy(static_cast<void*>(&id), bytes.data(), 72);
        EXPECT_EQ(static_cast<ULONG>(kEntryFolder), id.kind);
        EXPECT_EQ(projects ? ids.projects : ids.announcements, id.fid);
        EXPECT_EQ(projects, row.lpProps[3].Value.b != 0);
        // A top-level public folder is not opened through the subtree (it
        // takes mailbox tops only), but through the store.
        ULONG type = 0;
        ComPtr<IUnknown> object;
        EXPECT_EQ(MAPI_E_INVALID_ENTRYID, OpenEntry(ipm.Get(), id, 0, &type, object.GetAddressOf()));
        EXPECT_EQ(S_OK, OpenEntry(session.Store(), id, 0, &type, object.GetAddressOf()));
    }
}

// The selection changes while the subtree's hierarchy table is open: the
// store's watcher rebuilds it once the event is signalled.
TEST_F(SubtreeTest, AnOpenSubtreeIsRebuiltWhenTheSelectionChanges)
{
    CFixtureFiles::Instance().Mailbox(EGeneration::Exchange2007);
    const SMailboxFixture& ids = Ids();
    std::unique_ptr<CStoreSession> session = MailboxStore(L"");
    ASSERT_EQ(S_OK, session->Status());
    ComPtr<IMAPIFolder> ipm = Subtree(*session);
    ASSERT_NE(nullptr, ipm);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, ipm->GetHierarchyTable(0, table.GetAddressOf()));
    ASSERT_EQ(3u, ChildNames(table.Get()).size());

    ASSERT_EQ(S_OK, session->Profile().SetMailboxSelection(
                        session->Uid(), MailboxSelectionText({{ids.bruno.rootId, kBrunoName}},
                                                             {{ids.alice.rootId, kAliceName}, {ids.old.rootId, kOldName}})));
    // Signalling a service whose store is not open does nothing.
    MAPIUID other = session->Uid();
    other.ab[0] ^= 0xFF;
    GUID otherGuid;
    std::memcpy(&otherGuid, other.ab, sizeof(otherGuid));
    wchar_t otherName[40];
    StringFromGUID2(otherGuid, otherName, 40);
    EXPECT_EQ(nullptr, OpenEventW(EVENT_MODIFY_STATE, FALSE, (std::wstring(otherName) + L"MailboxChanged").c_str()));

    CMsgStore::SignalMailboxChanged(other);

    // The open store's event is signalled as the property page signals it.
    CMsgStore::SignalMailboxChanged(session->Uid());

    std::vector<std::wstring> names;
    for (int i = 0; i < 100; ++i) {
        names = ChildNames(table.Get());
        if (names.size() == 1)
            break;
        Sleep(50);
    }
    EXPECT_EQ(std::vector<std::wstring>{kBrunoName}, names);
}

// Two stores open, each with its subtree's hierarchy table: a signal to one
// store rebuilds only that store's subtree. The other store's subtree is
// opened first, so its folder comes first in the list the watcher walks and
// would be rebuilt before the signalled one if the walk took every subtree.
TEST_F(SubtreeTest, ASignalRebuildsOnlyItsOwnStoresSubtree)
{
    CFixtureFiles::Instance().Mailbox(EGeneration::Exchange2007);
    const SMailboxFixture& ids = Ids();
    std::unique_ptr<CStoreSession> quiet = MailboxStore(L"");
    std::unique_ptr<CStoreSession> signalled = MailboxStore(L"");
    ASSERT_EQ(S_OK, quiet->Status());
    ASSERT_EQ(S_OK, signalled->Status());
    ComPtr<IMAPIFolder> quietIpm = Subtree(*quiet);
    ComPtr<IMAPIFolder> signalledIpm = Subtree(*signalled);
    ASSERT_NE(nullptr, quietIpm);
    ASSERT_NE(nullptr, signalledIpm);
    ComPtr<IMAPITable> quietTable;
    ComPtr<IMAPITable> signalledTable;
    ASSERT_EQ(S_OK, quietIpm->GetHierarchyTable(0, quietTable.GetAddressOf()));
    ASSERT_EQ(S_OK, signalledIpm->GetHierarchyTable(0, signalledTable.GetAddressOf()));
    const std::vector<std::wstring> all = ChildNames(quietTable.Get());
    ASSERT_EQ(3u, all.size());
    ASSERT_EQ(all, ChildNames(signalledTable.Get()));

    // Both selections change; only one store is told.
    const std::wstring onlyBruno = MailboxSelectionText({{ids.bruno.rootId, kBrunoName}},
                                                        {{ids.alice.rootId, kAliceName}, {ids.old.rootId, kOldName}});
    ASSERT_EQ(S_OK, quiet->Profile().SetMailboxSelection(quiet->Uid(), onlyBruno));
    ASSERT_EQ(S_OK, signalled->Profile().SetMailboxSelection(signalled->Uid(), onlyBruno));
    CMsgStore::SignalMailboxChanged(signalled->Uid());

    std::vector<std::wstring> names;
    for (int i = 0; i < 100; ++i) {
        names = ChildNames(signalledTable.Get());
        if (names.size() == 1)
            break;
        Sleep(50);
    }
    ASSERT_EQ(std::vector<std::wstring>{kBrunoName}, names);
    EXPECT_EQ(all, ChildNames(quietTable.Get())) << "the store that was not told keeps its rows";
}

} // namespace
