// Folders as a MAPI client sees them: the root and the IPM subtree, folders
// of the database with their properties, hierarchy and contents tables,
// the entries they open, the slots they refuse, their last error after a
// server failure, and copies out into the subsystem's writable store.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "ProviderFiles.h"
#include "testing/ProviderTestSupport.h"
#include "testing/StoreClientTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

class FolderTest : public StoreClientTest {};

constexpr ULONG kPrOwnEntryId = 0x66720102;
constexpr ULONG kPrLongTermEntryIdFromTable = 0x66700102;
constexpr ULONG kPrIpmTaskEntryId = 0x36D40102;

std::vector<std::wstring> Names(const ClientRows& rows, ULONG tag = PR_DISPLAY_NAME_W)
{
    std::vector<std::wstring> names;
    for (ULONG r = 0; rows && r < rows->cRows; ++r)
        names.push_back(Text(FindProp(rows->aRow[r].lpProps, rows->aRow[r].cValues, tag)));
    return names;
}

ComPtr<IMAPITable> Hierarchy(IMAPIFolder* folder)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(S_OK, folder->GetHierarchyTable(0, table.GetAddressOf()));
    return table;
}

ComPtr<IMAPITable> Contents(IMAPIFolder* folder, HRESULT expected = S_OK)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(expected, folder->GetContentsTable(0, table.GetAddressOf()));
    return table;
}

std::vector<BYTE> SwappedKey(LONGLONG id)
{
    const ULONGLONG value = static_cast<ULONGLONG>(id);
    const ULONG low = static_cast<ULONG>(value);
    const ULONG high = static_cast<ULONG>(value >> 32);
    std::vector<BYTE> key(8);
    std::memcpy(key.data(), &high, 4);
    std::memcpy(key.data() + 4, &low, 4);
    return key;
}

TEST_P(FolderTest, RootFolderAnswersFromFixedValues)
{
    ComPtr<IMAPIFolder> root = Folder(CEntryId(kEntryRootFolder, uid));
    ASSERT_NE(nullptr, root);
    const std::vector<ULONG> tags = {PR_DISPLAY_NAME_W, PR_FOLDER_TYPE,        PR_ENTRYID,  PR_PARENT_ENTRYID,
                                     kPrOwnEntryId,     kPrIpmTaskEntryId,     PR_RECORD_KEY, PR_STORE_RECORD_KEY,
                                     PR_MAPPING_SIGNATURE, PR_STORE_SUPPORT_MASK, PR_ACCESS, PR_ACCESS_LEVEL,
                                     PR_MDB_PROVIDER,   PR_STORE_ENTRYID,      PR_NULL};
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values = GetProps(root.Get(), tags, hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    const SPropValue* v = values.get();
    const CEntryId rootId(kEntryRootFolder, uid);
    EXPECT_EQ(L"ROOT", Text(&v[0]));
    EXPECT_EQ(static_cast<LONG>(FOLDER_ROOT), v[1].Value.l);
    EXPECT_EQ(IdBytes(rootId), Bytes(&v[2]));
    EXPECT_EQ(IdBytes(rootId), Bytes(&v[3]));
    EXPECT_EQ(IdBytes(rootId), Bytes(&v[4]));
    EXPECT_EQ(IdBytes(CEntryId(kEntryIpmSubtree, uid)), Bytes(&v[5]));
    EXPECT_EQ(PROP_TAG(PT_ERROR, PROP_ID(PR_RECORD_KEY)), v[6].ulPropTag) << "the root has no record key";
    EXPECT_EQ(UidBytes(uid), Bytes(&v[7]));
    EXPECT_EQ(UidBytes(uid), Bytes(&v[8]));
    EXPECT_EQ(0x00050B67, v[9].Value.l);
    EXPECT_EQ(2, v[10].Value.l);
    EXPECT_EQ(0, v[11].Value.l);
    EXPECT_EQ(16u, Bytes(&v[12]).size());
    EXPECT_LT(72u, Bytes(&v[13]).size());
    EXPECT_EQ(0, v[14].Value.l);

    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, root->GetPropList(0, &raw));
    ClientBuffer<SPropTagArray> list(raw);
    EXPECT_EQ((std::vector<ULONG>{PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER, PR_ENTRYID, PR_PARENT_ENTRYID,
                                  PR_STORE_ENTRYID, PR_DISPLAY_NAME_W, PR_ACCESS, PR_ACCESS_LEVEL, PR_FOLDER_TYPE,
                                  PR_STORE_RECORD_KEY, PR_MAPPING_SIGNATURE}),
              std::vector<ULONG>(list->aulPropTag, list->aulPropTag + list->cValues));

    // One child: the IPM subtree.
    ClientRows rows = AllRows(Hierarchy(root.Get()).Get());
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(1u, rows->cRows);
    const SRow& row = rows->aRow[0];
    EXPECT_EQ(L"IPM", Text(FindProp(row.lpProps, row.cValues, PR_DISPLAY_NAME_W)));
    EXPECT_EQ(IdBytes(CEntryId(kEntryIpmSubtree, uid)), Bytes(FindProp(row.lpProps, row.cValues, PR_ENTRYID)));
    EXPECT_EQ(IdBytes(CEntryId(kEntryIpmSubtree, uid)), Bytes(FindProp(row.lpProps, row.cValues, PR_RECORD_KEY)));
    EXPECT_EQ(1, FindProp(row.lpProps, row.cValues, PR_FOLDER_TYPE)->Value.l);
    EXPECT_EQ(6, FindProp(row.lpProps, row.cValues, PR_DISPLAY_TYPE)->Value.l);
    EXPECT_EQ(static_cast<LONG>(MAPI_FOLDER), FindProp(row.lpProps, row.cValues, PR_OBJECT_TYPE)->Value.l);

    EXPECT_EQ(MAPI_E_NO_SUPPORT, root->GetIDsFromNames(0, nullptr, 0, &raw));
}

TEST_P(FolderTest, RootAndSubtreeOpenOnlyWhatTheyKnow)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> root = Folder(CEntryId(kEntryRootFolder, uid));
    ComPtr<IMAPIFolder> ipm = Folder(CEntryId(kEntryIpmSubtree, uid));
    ASSERT_NE(nullptr, root);
    ASSERT_NE(nullptr, ipm);
    const CEntryId rootId(kEntryRootFolder, uid);
    const CEntryId ipmId(kEntryIpmSubtree, uid);
    const CEntryId top = MailboxTopId(uid, ids.alice.rootId);
    const CEntryId inbox = FolderId(uid, ids.alice.rootId, ids.inbox);
    const CEntryId own(kEntryMessageStore, uid);
    struct Case {
        const char* what;
        IMAPIFolder* container;
        const CEntryId* id;
        ULONG flags;
        HRESULT hr;
    };
    const Case cases[] = {
        {"root: no identifier", root.Get(), nullptr, 0, MAPI_E_INVALID_ENTRYID},
        {"root: itself", root.Get(), &rootId, 0, S_OK},
        {"root: the subtree", root.Get(), &ipmId, 0, S_OK},
        {"root: a mailbox top", root.Get(), &top, 0, S_OK},
        {"root: a folder", root.Get(), &inbox, 0, S_OK},
        {"root: modify, even with best access", root.Get(), &inbox, MAPI_MODIFY | MAPI_BEST_ACCESS, E_ACCESSDENIED},
        {"root: the store", root.Get(), &own, 0, MAPI_E_INVALID_ENTRYID},
        {"subtree: no identifier", ipm.Get(), nullptr, 0, MAPI_E_INVALID_ENTRYID},
        {"subtree: a mailbox top", ipm.Get(), &top, 0, S_OK},
        {"subtree: a folder (kind 5)", ipm.Get(), &inbox, 0, MAPI_E_INVALID_ENTRYID},
        {"subtree: the root", ipm.Get(), &rootId, 0, MAPI_E_INVALID_ENTRYID},
        {"subtree: modify", ipm.Get(), &top, MAPI_MODIFY, E_ACCESSDENIED},
    };
    for (const Case& c : cases) {
        ULONG type = 0;
        ComPtr<IUnknown> object;
        EXPECT_EQ(c.hr, c.container->OpenEntry(c.id ? 72 : 0, c.id ? const_cast<CEntryId*>(c.id)->AsEntryId() : nullptr,
                                               nullptr, c.flags, &type, object.GetAddressOf()))
            << c.what;
        EXPECT_EQ(SUCCEEDED(c.hr), object != nullptr) << c.what;
    }
    // The root opened through itself is the same object.
    ULONG type = 0;
    ComPtr<IUnknown> again;
    ASSERT_EQ(S_OK, OpenEntry(root.Get(), rootId, 0, &type, again.GetAddressOf()));
    ComPtr<IUnknown> self;
    root->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(self.GetAddressOf()));
    EXPECT_EQ(self.Get(), again.Get());
    // A top folder opened through the subtree has it as its parent.
    ComPtr<IUnknown> opened;
    ASSERT_EQ(S_OK, OpenEntry(ipm.Get(), top, 0, &type, opened.GetAddressOf()));
    ComPtr<IMAPIFolder> aliceTop;
    opened->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(aliceTop.GetAddressOf()));
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> parent = GetProps(aliceTop.Get(), {PR_PARENT_ENTRYID}, hr);
    EXPECT_EQ(IdBytes(ipmId), Bytes(parent.get()));
}

TEST_P(FolderTest, SubtreeShowsEveryMailboxAndNoContents)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> ipm = Folder(CEntryId(kEntryIpmSubtree, uid));
    ASSERT_NE(nullptr, ipm);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values =
        GetProps(ipm.Get(), {PR_DISPLAY_NAME_W, PR_FOLDER_TYPE, PR_SUBFOLDERS, 0x663D0003, PR_DISPLAY_TYPE,
                             PR_PARENT_ENTRYID, PR_RECORD_KEY},
                 hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(L"IPM", Text(&values.get()[0]));
    EXPECT_EQ(1, values.get()[1].Value.l);
    EXPECT_EQ(1, values.get()[2].Value.b);
    EXPECT_EQ(1, values.get()[3].Value.l);
    EXPECT_EQ(6, values.get()[4].Value.l);
    EXPECT_EQ(IdBytes(CEntryId(kEntryRootFolder, uid)), Bytes(&values.get()[5]));
    EXPECT_EQ(IdBytes(CEntryId(kEntryIpmSubtree, uid)), Bytes(&values.get()[6]));

    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, ipm->GetPropList(0, &raw));
    ClientBuffer<SPropTagArray> list(raw);
    EXPECT_EQ(14u, list->cValues);

    ClientRows contents = AllRows(Contents(ipm.Get()).Get());
    ASSERT_NE(nullptr, contents);
    EXPECT_EQ(0u, contents->cRows);

    ComPtr<IMAPITable> table = Hierarchy(ipm.Get());
    ClientRows rows = AllRows(table.Get());
    ASSERT_NE(nullptr, rows);
    std::vector<std::wstring> names = Names(rows);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{kAliceName, kBrunoName, kOldName}), names);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        const std::wstring name = Text(FindProp(row.lpProps, row.cValues, PR_DISPLAY_NAME_W));
        const int64_t root = name == kAliceName ? ids.alice.rootId : name == kBrunoName ? ids.bruno.rootId
                                                                                        : ids.old.rootId;
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EXPECT_EQ(24u, row.cValues);
        EXPECT_EQ(IdBytes(MailboxTopId(uid, root)), Bytes(FindProp(row.lpProps, row.cValues, PR_ENTRYID)));
        EXPECT_EQ(IdBytes(MailboxTopId(uid, root)), Bytes(FindProp(row.lpProps, row.cValues, PR_RECORD_KEY)));
        EXPECT_EQ(IdBytes(MailboxTopId(uid, root)),
                  Bytes(FindProp(row.lpProps, row.cValues, kPrLongTermEntryIdFromTable)));
        EXPECT_EQ(IdBytes(CEntryId(kEntryIpmSubtree, uid)),
                  Bytes(FindProp(row.lpProps, row.cValues, PR_PARENT_ENTRYID)));
        EXPECT_EQ(1, FindProp(row.lpProps, row.cValues, PR_DEPTH)->Value.l);
        EXPECT_EQ(6, FindProp(row.lpProps, row.cValues, PR_DISPLAY_TYPE)->Value.l);
        // A 2007 mailbox row carries its own instance key; a 2003 one is
        // keyed by its root id.
        std::vector<BYTE> key = Bytes(FindProp(row.lpProps, row.cValues, PR_INSTANCE_KEY));
        if (GetParam() == EGeneration::Exchange2007)
            EXPECT_EQ(16u, key.size());
        else
            EXPECT_EQ(SwappedKey(root), key);
    }
}

TEST_P(FolderTest, FolderPropertiesAreMadeOrReadFromTheServer)
{
    const SMailboxFixture& ids = Ids();
    const CEntryId inboxId = FolderId(uid, ids.alice.rootId, ids.inbox);
    ComPtr<IMAPIFolder> inbox = Folder(inboxId);
    ASSERT_NE(nullptr, inbox);
    const std::vector<ULONG> tags = {PR_ENTRYID,      PR_RECORD_KEY,     kPrOwnEntryId,       PR_PARENT_ENTRYID,
                                     PR_OBJECT_TYPE,  PR_FOLDER_TYPE,    PR_DISPLAY_TYPE,     PR_ACCESS,
                                     PR_STORE_RECORD_KEY, PR_MAPPING_SIGNATURE, PR_CONTAINER_CONTENTS,
                                     PR_DISPLAY_NAME_W, PR_CONTENT_COUNT,  PR_CONTAINER_CLASS_W, 0x7E7E001F,
                                     PR_STORE_ENTRYID};
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values = GetProps(inbox.Get(), tags, hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    const SPropValue* v = values.get();
    EXPECT_EQ(IdBytes(inboxId), Bytes(&v[0]));
    EXPECT_EQ(IdBytes(inboxId), Bytes(&v[1]));
    EXPECT_EQ(IdBytes(inboxId), Bytes(&v[2]));
    EXPECT_EQ(IdBytes(MailboxTopId(uid, ids.alice.rootId)), Bytes(&v[3]));
    EXPECT_EQ(static_cast<LONG>(MAPI_FOLDER), v[4].Value.l);
    EXPECT_EQ(static_cast<LONG>(FOLDER_GENERIC), v[5].Value.l);
    EXPECT_EQ(static_cast<LONG>(DT_FOLDER), v[6].Value.l);
    EXPECT_EQ(2, v[7].Value.l);
    EXPECT_EQ(UidBytes(uid), Bytes(&v[8]));
    EXPECT_EQ(UidBytes(uid), Bytes(&v[9]));
    EXPECT_EQ(0, v[10].Value.l);
    EXPECT_EQ(L"Inbox", Text(&v[11]));
    EXPECT_EQ(6, v[12].Value.l) << "the database's count, the hidden message included";
    EXPECT_EQ(L"IPF.Note", Text(&v[13]));
    EXPECT_EQ(0x7E7E000Au, v[14].ulPropTag);
    EXPECT_EQ(MAPI_E_NOT_FOUND, v[14].Value.err);
    EXPECT_LT(72u, Bytes(&v[15]).size());

    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, inbox->GetPropList(0, &raw));
    ClientBuffer<SPropTagArray> list(raw);
    ASSERT_LT(14u, list->cValues);
    EXPECT_EQ((std::vector<ULONG>{0x340D0003, 0x34140102, 0x0FF90102, 0x0FFF0102, 0x66720102, 0x0FFB0102, 0x0FF80102,
                                  0x0FFA0102, 0x0E090102, 0x0FF40003, 0x0FF70003, 0x39000003, 0x0FFE0003,
                                  0x36010003}),
              std::vector<ULONG>(list->aulPropTag, list->aulPropTag + 14));
    EXPECT_NE(list->aulPropTag + list->cValues,
              std::find(list->aulPropTag + 14, list->aulPropTag + list->cValues, PR_DISPLAY_NAME_W));

    ULONG count = 0;
    LPSPropValue none = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->GetProps(nullptr, 0, &count, &none));
    EXPECT_EQ(E_INVALIDARG, inbox->GetProps(nullptr, 0, nullptr, &none));
}

TEST_P(FolderTest, HierarchyListsTheChildFoldersWithTheirCounts)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> top = Folder(MailboxTopId(uid, ids.alice.rootId));
    ASSERT_NE(nullptr, top);
    ClientRows rows = AllRows(Hierarchy(top.Get()).Get());
    ASSERT_NE(nullptr, rows);
    std::vector<std::wstring> names = Names(rows);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Archive Tree", L"Damaged", L"Inbox", L"Message Samples", L"Sent Items"}),
              names);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        ASSERT_EQ(24u, row.cValues);
        if (Text(FindProp(row.lpProps, row.cValues, PR_DISPLAY_NAME_W)) != L"Inbox")
            continue;
        const CEntryId inbox = FolderId(uid, ids.alice.rootId, ids.inbox);
        EXPECT_EQ(IdBytes(inbox), Bytes(FindProp(row.lpProps, row.cValues, PR_ENTRYID)));
        EXPECT_EQ(IdBytes(inbox), Bytes(FindProp(row.lpProps, row.cValues, PR_RECORD_KEY)));
        EXPECT_EQ(IdBytes(MailboxTopId(uid, ids.alice.rootId)),
                  Bytes(FindProp(row.lpProps, row.cValues, PR_PARENT_ENTRYID)));
        EXPECT_EQ(SwappedKey(ids.inbox), Bytes(FindProp(row.lpProps, row.cValues, PR_INSTANCE_KEY)));
        EXPECT_EQ(6, FindProp(row.lpProps, row.cValues, PR_CONTENT_COUNT)->Value.l);
        EXPECT_EQ(2, FindProp(row.lpProps, row.cValues, PR_CONTENT_UNREAD)->Value.l);
        EXPECT_EQ(1, FindProp(row.lpProps, row.cValues, PR_SUBFOLDERS)->Value.b);
        EXPECT_EQ(static_cast<LONG>(DT_FOLDER), FindProp(row.lpProps, row.cValues, PR_DISPLAY_TYPE)->Value.l);
    }
    // A mailbox without its top folder shows no children.
    ComPtr<IMAPIFolder> old = Folder(MailboxTopId(uid, ids.old.rootId));
    ASSERT_NE(nullptr, old);
    rows = AllRows(Hierarchy(old.Get()).Get());
    ASSERT_NE(nullptr, rows);
    EXPECT_EQ(0u, rows->cRows);
}

TEST_P(FolderTest, ContentsTablesShowNormalMessagesOnlyWithTheirKeys)
{
    const SMailboxFixture& ids = Ids();
    const CEntryId inboxId = FolderId(uid, ids.alice.rootId, ids.inbox);
    ComPtr<IMAPIFolder> inbox = Folder(inboxId);
    ASSERT_NE(nullptr, inbox);
    ComPtr<IMAPITable> table;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->GetContentsTable(MAPI_ASSOCIATED, table.GetAddressOf()));
    table = Contents(inbox.Get());
    ASSERT_NE(nullptr, table);
    // Without PR_INSTANCE_KEY asked, the rows are still keyed by it (the view
    // shows the columns asked for; a second SetColumns shows the key).
    ClientRows rows = AllRows(table.Get(), {PR_SUBJECT_W, PR_ENTRYID, PR_PARENT_ENTRYID, PR_OBJECT_TYPE,
                                            PR_STORE_RECORD_KEY, PR_MAPPING_SIGNATURE, PR_ACCESS, PR_RECORD_KEY,
                                            kPrLongTermEntryIdFromTable, PR_STORE_ENTRYID, PR_MESSAGE_FLAGS});
    ASSERT_NE(nullptr, rows);
    std::vector<std::wstring> subjects = Names(rows, PR_SUBJECT_W);
    EXPECT_EQ((std::vector<std::wstring>{L"Inbox message 1", L"Inbox message 2", L"Inbox message 3",
                                         L"Inbox message 4", L"Inbox message 5"}),
              subjects);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        SCOPED_TRACE(r);
        ASSERT_EQ(11u, row.cValues);
        const CEntryId message = MessageId(uid, ids.alice.rootId, ids.inbox, ids.inboxMessages[r]);
        EXPECT_EQ(IdBytes(message), Bytes(&row.lpProps[1]));
        EXPECT_EQ(IdBytes(inboxId), Bytes(&row.lpProps[2]));
        EXPECT_EQ(static_cast<LONG>(MAPI_MESSAGE), row.lpProps[3].Value.l);
        EXPECT_EQ(UidBytes(uid), Bytes(&row.lpProps[4]));
        std::vector<BYTE> signature(8);
        std::memcpy(signature.data(), &ids.alice.rootId, 8);
        EXPECT_EQ(signature, Bytes(&row.lpProps[5]));
        EXPECT_EQ(2, row.lpProps[6].Value.l);
        EXPECT_EQ(IdBytes(message), Bytes(&row.lpProps[7]));
        EXPECT_EQ(IdBytes(message), Bytes(&row.lpProps[8]));
        EXPECT_LT(72u, Bytes(&row.lpProps[9]).size());
        EXPECT_EQ(0, row.lpProps[10].Value.l & MSGFLAG_ASSOCIATED);
    }

    // A second SetColumns only changes the view's columns: the rows were
    // keyed by the instance key all along.
    rows = AllRows(table.Get(), {PR_INSTANCE_KEY, PR_SUBJECT_W});
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(5u, rows->cRows);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        EXPECT_EQ(2u, rows->aRow[r].cValues);
        EXPECT_EQ(SwappedKey(ids.inboxMessages[r]), Bytes(&rows->aRow[r].lpProps[0]));
    }

    // A second table of the same folder shares the rows: restricted to none
    // before its first SetColumns it fills nothing twice, and a column the
    // first table never asked for is read for it.
    ComPtr<IMAPITable> other = Contents(inbox.Get());
    const BYTE noKey[8] = {};
    SPropValue noSuchKey = {};
    noSuchKey.ulPropTag = PR_INSTANCE_KEY;
    noSuchKey.Value.bin.cb = sizeof(noKey);
    noSuchKey.Value.bin.lpb = const_cast<BYTE*>(noKey);
    SRestriction none = {};
    none.rt = RES_PROPERTY;
    none.res.resProperty.relop = RELOP_EQ;
    none.res.resProperty.ulPropTag = PR_INSTANCE_KEY;
    none.res.resProperty.lpProp = &noSuchKey;
    ASSERT_EQ(S_OK, other->Restrict(&none, 0));
    rows = AllRows(other.Get(), {PR_INSTANCE_KEY, PR_NORMALIZED_SUBJECT_W});
    ASSERT_NE(nullptr, rows);
    EXPECT_EQ(0u, rows->cRows);
    ASSERT_EQ(S_OK, other->Restrict(nullptr, 0));
    rows = AllRows(other.Get(), {PR_INSTANCE_KEY, PR_NORMALIZED_SUBJECT_W});
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(5u, rows->cRows);
    EXPECT_EQ(subjects, Names(rows, PR_NORMALIZED_SUBJECT_W));
    // The first table sees the same rows, now with that column too.
    rows = AllRows(table.Get(), {PR_SUBJECT_W, PR_NORMALIZED_SUBJECT_W});
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(5u, rows->cRows);
    EXPECT_EQ(subjects, Names(rows, PR_SUBJECT_W));
    EXPECT_EQ(subjects, Names(rows, PR_NORMALIZED_SUBJECT_W));
}

TEST_P(FolderTest, AFolderWithoutAMessageTableHasAnEmptyContentsTable)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> old = Folder(MailboxTopId(uid, ids.old.rootId));
    ASSERT_NE(nullptr, old);
    ComPtr<IMAPITable> table = Contents(old.Get());
    ASSERT_NE(nullptr, table);
    SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_W}};
    EXPECT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    ULONG count = 7;
    EXPECT_EQ(S_OK, table->GetRowCount(0, &count));
    EXPECT_EQ(0u, count);
}

// A server failure reaches the caller as MAPI_E_EXTENDED_ERROR, and the
// object's last error then carries the server's own text.
TEST_P(FolderTest, ServerFailuresAreRecordedWithTheServersText)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> damaged = Folder(FolderId(uid, ids.alice.rootId, ids.broken));
    ASSERT_NE(nullptr, damaged);
    ComPtr<IMAPITable> table;
    HRESULT hr = damaged->GetContentsTable(0, table.GetAddressOf());
    EXPECT_EQ(MAPI_E_EXTENDED_ERROR, hr);
    EXPECT_EQ(nullptr, table);
    const std::wstring text = LastErrorText(damaged.Get(), hr);
    EXPECT_NE(std::wstring::npos, text.find(L"Morvane Technical Support")) << std::string(text.begin(), text.end());
    EXPECT_NE(std::wstring::npos, text.find(L"function=CFolder::GetContentsTable"));
    EXPECT_NE(std::wstring::npos, text.find(L"source=Morvane.Vostrel2007"));
    EXPECT_NE(std::wstring::npos, text.find(L"description=")) << std::string(text.begin(), text.end());
    EXPECT_NE(std::wstring::npos, text.find(L"JetSetCurrentIndex")) << "the server's own description";
    // The next successful call starts clean.
    HRESULT props = S_OK;
    GetProps(damaged.Get(), {PR_DISPLAY_NAME_W}, props);
    EXPECT_EQ(S_OK, props);
    EXPECT_EQ(L"", LastErrorText(damaged.Get(), props));
}

TEST_P(FolderTest, FoldersOpenTheirChildrenAndRefuseTheRest)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> top = Folder(MailboxTopId(uid, ids.alice.rootId));
    ASSERT_NE(nullptr, top);
    const CEntryId inbox = FolderId(uid, ids.alice.rootId, ids.inbox);
    const CEntryId rootId(kEntryRootFolder, uid);
    const CEntryId ipmId(kEntryIpmSubtree, uid);
    const CEntryId own(kEntryMessageStore, uid);
    const CEntryId search(kEntrySearchRoot, uid);
    const CEntryId missing = MessageId(uid, ids.alice.rootId, ids.alice.topId, 0x6666);
    struct Case {
        const char* what;
        const CEntryId* id;
        ULONG flags;
        HRESULT hr;
    };
    const Case cases[] = {
        {"a child folder", &inbox, 0, S_OK},
        {"the root", &rootId, 0, S_OK},
        {"the subtree", &ipmId, 0, S_OK},
        {"the store", &own, 0, MAPI_E_INVALID_ENTRYID},
        {"the search root", &search, 0, MAPI_E_INVALID_ENTRYID},
        {"a message the server lacks", &missing, 0, MAPI_E_INVALID_ENTRYID},
        {"modify", &inbox, MAPI_MODIFY, E_ACCESSDENIED},
        {"no identifier", nullptr, 0, MAPI_E_INVALID_ENTRYID},
    };
    for (const Case& c : cases) {
        ULONG type = 0;
        ComPtr<IUnknown> object;
        EXPECT_EQ(c.hr, top->OpenEntry(c.id ? 72 : 0, c.id ? const_cast<CEntryId*>(c.id)->AsEntryId() : nullptr,
                                       nullptr, c.flags, &type, object.GetAddressOf()))
            << c.what;
    }
}

TEST_P(FolderTest, RefusesWritesButTakesTheExtendedFolderFlags)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> inbox = Folder(FolderId(uid, ids.alice.rootId, ids.inbox));
    ASSERT_NE(nullptr, inbox);
    BYTE flags[6] = {1, 4, 0, 0, 0, 1};
    SPropValue value = {};
    value.ulPropTag = 0x36DA0102;
    value.Value.bin.cb = sizeof(flags);
    value.Value.bin.lpb = flags;
    LPSPropProblemArray problems = reinterpret_cast<LPSPropProblemArray>(1);
    EXPECT_EQ(S_OK, inbox->SetProps(1, &value, &problems));
    EXPECT_EQ(nullptr, problems);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> stored = GetProps(inbox.Get(), {0x36DA0102}, hr);
    EXPECT_NE(std::vector<BYTE>(flags, flags + sizeof(flags)), Bytes(stored.get())) << "nothing is stored";
    value.ulPropTag = PR_DISPLAY_NAME_W;
    value.Value.lpszW = const_cast<LPWSTR>(L"Renamed");
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->SetProps(1, &value, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->SetProps(0, nullptr, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->SaveChanges(0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->DeleteProps(nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, inbox->CopyProps(nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr));
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(E_NOTIMPL, inbox->OpenProperty(PR_DISPLAY_NAME_W, &IID_IStream, 0, 0, unknown.GetAddressOf()));
    LPMESSAGE message = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->CreateMessage(nullptr, 0, &message));
    LPMAPIFOLDER folder = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->CreateFolder(FOLDER_GENERIC, nullptr, nullptr, nullptr, 0, &folder));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->DeleteMessages(nullptr, 0, nullptr, 0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->DeleteFolder(0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->SetMessageStatus(0, nullptr, 0, 0, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->SaveContentsSort(nullptr, 0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->EmptyFolder(0, nullptr, 0));
    EXPECT_EQ(E_NOTIMPL, inbox->SetReadFlags(nullptr, 0, nullptr, 0));
    EXPECT_EQ(E_NOTIMPL, inbox->SetSearchCriteria(nullptr, nullptr, 0));
    EXPECT_EQ(E_NOTIMPL, inbox->GetSearchCriteria(0, nullptr, nullptr, nullptr));
    ULONG status = 7;
    EXPECT_EQ(S_OK, inbox->GetMessageStatus(0, nullptr, 0, &status));
    EXPECT_EQ(0u, status);
    EXPECT_EQ(E_INVALIDARG, inbox->GetMessageStatus(0, nullptr, 0, nullptr));
}

TEST_P(FolderTest, FolderNamedPropertiesUseTheStoresMap)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> inbox = Folder(FolderId(uid, ids.alice.rootId, ids.inbox));
    ASSERT_NE(nullptr, inbox);
    static const GUID kPublicStrings = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    MAPINAMEID keywords = {const_cast<GUID*>(&kPublicStrings), MNID_STRING, {}};
    keywords.Kind.lpwstrName = const_cast<LPWSTR>(L"Keywords");
    LPMAPINAMEID names[] = {&keywords};
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, inbox->GetIDsFromNames(1, names, 0, &raw));
    ClientBuffer<SPropTagArray> tags(raw);
    EXPECT_EQ(0x80000000u, tags->aulPropTag[0]);
    EXPECT_EQ(E_INVALIDARG, inbox->GetIDsFromNames(1, nullptr, 0, &raw));
    ULONG count = 0;
    LPMAPINAMEID* found = nullptr;
    LPSPropTagArray nullTags = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, inbox->GetNamesFromIDs(&nullTags, nullptr, 0, &count, &found));
}

// Copies out go through the MAPI support object of the store, which reads
// the provider's folders; the copies land in the subsystem's writable store.
class FolderCopyTest : public StoreClientTest {
protected:
    void SetUp() override
    {
        StoreClientTest::SetUp();
        if (!writable) {
            ASSERT_EQ(S_OK, session->OpenWritableStore(writable.GetAddressOf()));
        }
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> ipm = GetProps(writable.Get(), {PR_IPM_SUBTREE_ENTRYID}, hr);
        ASSERT_EQ(S_OK, hr);
        ULONG type = 0;
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, writable->OpenEntry(ipm->Value.bin.cb, reinterpret_cast<LPENTRYID>(ipm->Value.bin.lpb),
                                            nullptr, MAPI_MODIFY, &type, object.GetAddressOf()));
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(target.GetAddressOf())));
    }
    void TearDown() override { target.Reset(); }
    static void TearDownTestSuite()
    {
        writable.Reset();
        StoreClientTest::TearDownTestSuite();
    }

    // A new folder under the writable store's subtree.
    ComPtr<IMAPIFolder> NewTarget(const wchar_t* name)
    {
        ComPtr<IMAPIFolder> folder;
        EXPECT_EQ(S_OK, target->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(name)),
                                             nullptr, nullptr, MAPI_UNICODE, folder.GetAddressOf()));
        return folder;
    }

    static ComPtr<IMAPIFolder> ChildNamed(IMAPIFolder* parent, const std::wstring& name)
    {
        ComPtr<IMAPITable> table;
        if (FAILED(parent->GetHierarchyTable(0, table.GetAddressOf())))
            return nullptr;
        ClientRows rows = AllRows(table.Get(), {PR_DISPLAY_NAME_W, PR_ENTRYID});
        for (ULONG r = 0; rows && r < rows->cRows; ++r) {
            if (Text(&rows->aRow[r].lpProps[0]) != name)
                continue;
            const SBinary& id = rows->aRow[r].lpProps[1].Value.bin;
            ULONG type = 0;
            ComPtr<IUnknown> object;
            ComPtr<IMAPIFolder> child;
            if (SUCCEEDED(parent->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0, &type,
                                            object.GetAddressOf())))
                object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(child.GetAddressOf()));
            return child;
        }
        return nullptr;
    }

    // Every property the source lists that a copy carries over is in the
    // copy with the same value; then the same for the sub-folders, by name.
    void ExpectSameFolders(IMAPIFolder* source, IMAPIFolder* copy, const std::wstring& where)
    {
        SCOPED_TRACE(std::string(where.begin(), where.end()));
        const ULONG notCopied[] = {PR_ENTRYID, PR_PARENT_ENTRYID, PR_STORE_ENTRYID, PR_STORE_RECORD_KEY,
                                   PR_STORE_SUPPORT_MASK, PR_MAPPING_SIGNATURE, PR_RECORD_KEY, PR_INSTANCE_KEY,
                                   PR_OBJECT_TYPE, PR_MDB_PROVIDER, PR_ACCESS, PR_ACCESS_LEVEL, PR_CONTENT_COUNT,
                                   PR_CONTENT_UNREAD, PR_ASSOC_CONTENT_COUNT, PR_SUBFOLDERS, PR_DEPTH,
                                   PR_FOLDER_TYPE, PR_CONTAINER_CONTENTS, PR_CONTAINER_HIERARCHY,
                                   PR_FOLDER_ASSOCIATED_CONTENTS};
        LPSPropTagArray raw = nullptr;
        ASSERT_EQ(S_OK, source->GetPropList(0, &raw));
        ClientBuffer<SPropTagArray> list(raw);
        int compared = 0;
        for (ULONG i = 0; i < list->cValues; ++i) {
            const ULONG tag = list->aulPropTag[i];
            if (std::any_of(std::begin(notCopied), std::end(notCopied),
                            [&](ULONG skip) { return PROP_ID(skip) == PROP_ID(tag); }))
                continue;
            HRESULT hr = S_OK;
            ClientBuffer<SPropValue> from = GetProps(source, {tag}, hr);
            if (!from || PROP_TYPE(from->ulPropTag) == PT_ERROR)
                continue;
            ClientBuffer<SPropValue> to = GetProps(copy, {tag}, hr);
            ASSERT_NE(nullptr, to);
            EXPECT_EQ(tag, to->ulPropTag) << std::hex << tag;
            if (tag == to->ulPropTag) {
                EXPECT_TRUE(FPropCompareProp(from.get(), RELOP_EQ, to.get())) << std::hex << tag;
            }
            ++compared;
        }
        EXPECT_LT(0, compared);
        ComPtr<IMAPITable> children;
        ASSERT_EQ(S_OK, source->GetHierarchyTable(0, children.GetAddressOf()));
        ClientRows rows = AllRows(children.Get(), {PR_DISPLAY_NAME_W});
        ASSERT_NE(nullptr, rows);
        for (ULONG r = 0; r < rows->cRows; ++r) {
            const std::wstring name = Text(&rows->aRow[r].lpProps[0]);
            ComPtr<IMAPIFolder> from = ChildNamed(source, name);
            ComPtr<IMAPIFolder> to = ChildNamed(copy, name);
            ASSERT_NE(nullptr, from);
            ASSERT_NE(nullptr, to) << "sub-folder " << std::string(name.begin(), name.end()) << " copied";
            ExpectSameFolders(from.Get(), to.Get(), where + L"/" + name);
        }
    }

    static std::vector<std::wstring> LogLinesWith(const std::wstring& text)
    {
        std::wstring directory;
        GetDataDirectory(directory);
        std::vector<std::wstring> found;
        for (const std::wstring& line : ReadLogLines(directory + L"\\KOLWEN32.log"))
            if (line.find(text) != std::wstring::npos)
                found.push_back(line);
        return found;
    }

    static ComPtr<IMsgStore> writable;
    ComPtr<IMAPIFolder> target;
};

ComPtr<IMsgStore> FolderCopyTest::writable;

TEST_P(FolderCopyTest, AFolderTreeIsCopiedPropertyByProperty)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> top = Folder(MailboxTopId(uid, ids.alice.rootId));
    ComPtr<IMAPIFolder> tree = Folder(FolderId(uid, ids.alice.rootId, ids.tree));
    ASSERT_NE(nullptr, top);
    ASSERT_NE(nullptr, tree);
    ComPtr<IMAPIFolder> destination = NewTarget(GetParam() == EGeneration::Exchange2003 ? L"copies 2003" : L"copies 2007");
    ASSERT_NE(nullptr, destination);
    CEntryId treeId = FolderId(uid, ids.alice.rootId, ids.tree);
    EXPECT_EQ(S_OK, top->CopyFolder(72, treeId.AsEntryId(), nullptr, destination.Get(), nullptr, 0, nullptr,
                                    COPY_SUBFOLDERS));
    ComPtr<IMAPIFolder> copy = ChildNamed(destination.Get(), L"Archive Tree");
    ASSERT_NE(nullptr, copy);
    ExpectSameFolders(tree.Get(), copy.Get(), L"Archive Tree");
    EXPECT_EQ(L"", LastErrorText(top.Get())) << "a successful copy clears the last error";

    // CopyTo of the folder into another folder: its properties and
    // sub-folders.
    ComPtr<IMAPIFolder> second = NewTarget(GetParam() == EGeneration::Exchange2003 ? L"copy to 2003" : L"copy to 2007");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(S_OK, tree->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMAPIFolder, second.Get(), 0, nullptr));
    ExpectSameFolders(tree.Get(), second.Get(), L"CopyTo");
}

TEST_P(FolderCopyTest, MovesAreRefusedAndLogged)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> inbox = Folder(FolderId(uid, ids.alice.rootId, ids.inbox));
    ASSERT_NE(nullptr, inbox);
    const size_t before = LogLinesWith(L"Method CFolder::CopyMessages failed.  HRESULT 0x80070005.").size();
    CEntryId message = MessageId(uid, ids.alice.rootId, ids.inbox, ids.inboxMessages[0]);
    SBinary entry = {72, reinterpret_cast<LPBYTE>(&message)};
    ENTRYLIST list = {1, &entry};
    EXPECT_EQ(E_ACCESSDENIED, inbox->CopyMessages(&list, nullptr, target.Get(), 0, nullptr, MESSAGE_MOVE));
    EXPECT_EQ(before + 1, LogLinesWith(L"Method CFolder::CopyMessages failed.  HRESULT 0x80070005.").size());

    const size_t folderBefore = LogLinesWith(L"Method CFolder::CopyFolder failed.  HRESULT 0x80070005.").size();
    CEntryId projects = FolderId(uid, ids.alice.rootId, ids.projects);
    EXPECT_EQ(E_ACCESSDENIED,
              inbox->CopyFolder(72, projects.AsEntryId(), nullptr, target.Get(), nullptr, 0, nullptr, FOLDER_MOVE));
    EXPECT_EQ(folderBefore + 1, LogLinesWith(L"Method CFolder::CopyFolder failed.  HRESULT 0x80070005.").size());
}

// Copies of messages are made by the support object from the messages the
// folder opens: they arrive in the destination; a list with a message the
// folder lacks is a partial copy, and one of such messages only is the
// support object's failure, logged under the folder's method.
TEST_P(FolderCopyTest, MessageCopiesArriveThroughTheSupportObject)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> inbox = Folder(FolderId(uid, ids.alice.rootId, ids.inbox));
    ASSERT_NE(nullptr, inbox);
    ComPtr<IMAPIFolder> destination = NewTarget(GetParam() == EGeneration::Exchange2003 ? L"messages 2003"
                                                                                        : L"messages 2007");
    ASSERT_NE(nullptr, destination);
    CEntryId first = MessageId(uid, ids.alice.rootId, ids.inbox, ids.inboxMessages[0]);
    CEntryId second = MessageId(uid, ids.alice.rootId, ids.inbox, ids.inboxMessages[1]);
    CEntryId missing = MessageId(uid, ids.alice.rootId, ids.inbox, 0x4242);
    SBinary both[] = {{72, reinterpret_cast<LPBYTE>(&first)}, {72, reinterpret_cast<LPBYTE>(&second)}};
    ENTRYLIST list = {2, both};
    EXPECT_EQ(S_OK, inbox->CopyMessages(&list, nullptr, destination.Get(), 0, nullptr, 0));
    ComPtr<IMAPITable> contents;
    ASSERT_EQ(S_OK, destination->GetContentsTable(0, contents.GetAddressOf()));
    ClientRows rows = AllRows(contents.Get(), {PR_SUBJECT_W});
    ASSERT_NE(nullptr, rows);
    std::set<std::wstring> subjects;
    for (ULONG r = 0; r < rows->cRows; ++r)
        subjects.insert(Text(&rows->aRow[r].lpProps[0]));
    EXPECT_EQ((std::set<std::wstring>{L"Inbox message 1", L"Inbox message 2"}), subjects);

    SBinary partly[] = {{72, reinterpret_cast<LPBYTE>(&first)}, {72, reinterpret_cast<LPBYTE>(&missing)}};
    list = {2, partly};
    EXPECT_EQ(MAPI_W_PARTIAL_COMPLETION, inbox->CopyMessages(&list, nullptr, destination.Get(), 0, nullptr, 0));

    SBinary none[] = {{72, reinterpret_cast<LPBYTE>(&missing)}};
    list = {1, none};
    const HRESULT hr = inbox->CopyMessages(&list, nullptr, destination.Get(), 0, nullptr, 0);
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID, hr) << "the message is none of the folder's";
    wchar_t frame[64];
    swprintf(frame, 64, L"Method CFolder::CopyMessages failed.  HRESULT 0x%08x.", static_cast<unsigned>(hr));
    EXPECT_FALSE(LogLinesWith(frame).empty());
}

// An integer division by zero inside the support object's folder copy (the
// fault Outlook's progress dialog is known for) does not take the process
// down: the copy returns what it had, the Outlook dialog is closed.
class CDividingProgress : public IMAPIProgress {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMAPIProgress))
            return E_NOINTERFACE;
        *ppv = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Progress(ULONG ulValue, ULONG ulCount, ULONG ulTotal) override
    {
        ++calls;
        if (ulCount == 0)
            return S_OK;
        volatile int zero = 0;
        volatile int percent = static_cast<int>(ulValue) / zero;
        (void)percent;
        (void)ulTotal;
        return S_OK;
    }
    STDMETHODIMP GetFlags(ULONG* flags) override
    {
        *flags = MAPI_TOP_LEVEL;
        return S_OK;
    }
    STDMETHODIMP GetMax(ULONG* max) override
    {
        *max = 1000;
        return S_OK;
    }
    STDMETHODIMP GetMin(ULONG* min) override
    {
        *min = 0;
        return S_OK;
    }
    STDMETHODIMP SetLimits(LPULONG, LPULONG, LPULONG) override { return S_OK; }
    int calls = 0;
};

// A modal dialog of Outlook's title on a thread of its own; Ended() is
// what it was ended with.
class COutlookDialog {
public:
    COutlookDialog()
    {
        m_thread = std::thread([this] {
            struct {
                DLGTEMPLATE header;
                WORD menu, windowClass;
                wchar_t title[25];
            } dialog = {};
            dialog.header.style = WS_POPUP | WS_CAPTION;
            dialog.header.cx = 100;
            dialog.header.cy = 40;
            wcscpy(dialog.title, L"Microsoft Office Outlook");
            m_result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &dialog.header, nullptr, &Procedure, 0);
        });
        for (int i = 0; i < 1000 && !FindWindowW(L"#32770", L"Microsoft Office Outlook"); ++i)
            Sleep(10);
    }
    ~COutlookDialog()
    {
        if (HWND open = FindWindowW(L"#32770", L"Microsoft Office Outlook"))
            PostMessageW(open, WM_CLOSE, 0, 0);
        if (m_thread.joinable())
            m_thread.join();
    }
    bool Open() const { return FindWindowW(L"#32770", L"Microsoft Office Outlook") != nullptr; }
    INT_PTR Ended()
    {
        // The dialog's thread ends it when it next runs: allow for a loaded
        // machine.
        for (int i = 0; i < 1000 && Open(); ++i)
            Sleep(10);
        if (Open())
            return -2;
        // The window is gone before the dialog's call returns its result.
        if (m_thread.joinable())
            m_thread.join();
        return m_result;
    }

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM, LPARAM)
    {
        if (message == WM_CLOSE) {
            EndDialog(window, 9);
            return TRUE;
        }
        return message == WM_INITDIALOG;
    }

    std::thread m_thread;
    INT_PTR m_result = -1;
};

TEST_P(FolderCopyTest, AFaultInsideTheCopyEndsItAndClosesOutlooksDialog)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> top = Folder(MailboxTopId(uid, ids.alice.rootId));
    ASSERT_NE(nullptr, top);
    ComPtr<IMAPIFolder> destination = NewTarget(GetParam() == EGeneration::Exchange2003 ? L"faulting 2003"
                                                                                        : L"faulting 2007");
    ASSERT_NE(nullptr, destination);
    COutlookDialog dialog;
    ASSERT_TRUE(dialog.Open());
    CDividingProgress progress;
    const size_t before = LogLinesWith(L"Method CFolder::CopyFolder failed.  HRESULT 0xc0000094.").size();
    CEntryId treeId = FolderId(uid, ids.alice.rootId, ids.tree);
    EXPECT_EQ(S_OK, top->CopyFolder(72, treeId.AsEntryId(), nullptr, destination.Get(), nullptr, 0, &progress,
                                    COPY_SUBFOLDERS));
    EXPECT_LT(0, progress.calls);
    EXPECT_EQ(2, dialog.Ended());
    EXPECT_EQ(before + 1, LogLinesWith(L"Method CFolder::CopyFolder failed.  HRESULT 0xc0000094.").size());
    // The copy had begun: the folder is there with its first sub-folder.
    ComPtr<IMAPIFolder> copy = ChildNamed(destination.Get(), L"Archive Tree");
    ASSERT_NE(nullptr, copy);
    // The thread goes on working, and a fault outside a copy is no
    // business of the guard.
    HRESULT hr = S_OK;
    GetProps(top.Get(), {PR_DISPLAY_NAME_W}, hr);
    EXPECT_EQ(S_OK, hr);
}

// Outlook's progress dialog faulting under a provider method that MAPI's
// copy called back into: here the folder copy's progress copies a message
// of the store, whose own copy reports to the faulting progress. The
// message's copy ends there and returns through its own frames, so it
// leaves no copying flag set and no reference held; the folder copy still
// ends Outlook's dialog and logs the fault.
class CCallingBackProgress : public CDividingProgress {
public:
    CCallingBackProgress(IMessage* message, IMessage* copy) : m_message(message), m_copy(copy) {}
    STDMETHODIMP Progress(ULONG, ULONG ulCount, ULONG) override
    {
        ++calls;
        if (ulCount != 0 && !calledBack) {
            calledBack = true;
            nested = m_message->CopyTo(0, nullptr, nullptr, 0, &m_dividing, &IID_IMessage, m_copy, 0, nullptr);
        }
        return S_OK;
    }
    bool calledBack = false;
    HRESULT nested = S_OK;

private:
    IMessage* m_message;
    IMessage* m_copy;
    CDividingProgress m_dividing;
};

TEST_P(FolderCopyTest, AFaultUnderAMethodTheCopyCalledBackLeavesThatMethodWhole)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> top = Folder(MailboxTopId(uid, ids.alice.rootId));
    ASSERT_NE(nullptr, top);
    ComPtr<IMAPIFolder> destination = NewTarget(GetParam() == EGeneration::Exchange2003 ? L"called back 2003"
                                                                                        : L"called back 2007");
    ASSERT_NE(nullptr, destination);
    CEntryId messageId = MessageId(uid, ids.alice.rootId, ids.inbox, ids.inboxMessages[0]);
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, OpenEntry(store, messageId, 0, &type, object.GetAddressOf()));
    ComPtr<IMessage> message;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.GetAddressOf())));
    object.Reset();
    ComPtr<IMessage> copy;
    ASSERT_EQ(S_OK, destination->CreateMessage(nullptr, 0, copy.GetAddressOf()));
    HRESULT hr = S_OK;
    const ULONG mask = static_cast<ULONG>(GetProps(message.Get(), {PR_STORE_SUPPORT_MASK}, hr)->Value.l);
    ASSERT_EQ(S_OK, hr);
    message->AddRef();
    const ULONG refs = message->Release();

    COutlookDialog dialog;
    ASSERT_TRUE(dialog.Open());
    CCallingBackProgress progress(message.Get(), copy.Get());
    const size_t before = LogLinesWith(L"Method CFolder::CopyFolder failed.  HRESULT 0xc0000094.").size();
    CEntryId treeId = FolderId(uid, ids.alice.rootId, ids.tree);
    EXPECT_EQ(S_OK, top->CopyFolder(72, treeId.AsEntryId(), nullptr, destination.Get(), nullptr, 0, &progress,
                                    COPY_SUBFOLDERS));
    ASSERT_TRUE(progress.calledBack);
    EXPECT_EQ(MAPI_E_USER_CANCEL, progress.nested) << "the message's copy returned, ended at the fault";
    EXPECT_EQ(2, dialog.Ended());
    EXPECT_EQ(before + 1, LogLinesWith(L"Method CFolder::CopyFolder failed.  HRESULT 0xc0000094.").size());

    EXPECT_EQ(mask, static_cast<ULONG>(GetProps(message.Get(), {PR_STORE_SUPPORT_MASK}, hr)->Value.l))
        << "the message no longer reports a copy under way";
    message->AddRef();
    EXPECT_EQ(refs, message->Release());
    // The message copies again, now outside any guard.
    ComPtr<IMessage> again;
    ASSERT_EQ(S_OK, destination->CreateMessage(nullptr, 0, again.GetAddressOf()));
    EXPECT_EQ(S_OK, message->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, again.Get(), 0, nullptr));
}

INSTANTIATE_TEST_SUITE_P(Generations, FolderCopyTest,
                         ::testing::Values(EGeneration::Exchange2003, EGeneration::Exchange2007), GenerationName);

INSTANTIATE_TEST_SUITE_P(Generations, FolderTest,
                         ::testing::Values(EGeneration::Exchange2003, EGeneration::Exchange2007), GenerationName);

} // namespace
