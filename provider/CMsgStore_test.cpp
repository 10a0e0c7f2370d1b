// The message store as a MAPI client sees it through the MAPI subsystem:
// its properties, its entry identifiers opened with every flag, the slots it
// refuses, notifications, named properties and its last error, over
// mailbox databases of both schema generations.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "testing/StoreClientTest.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

constexpr ULONG kPrFinderEntryId = 0x35E70102;

class StoreTest : public StoreClientTest {};

TEST_P(StoreTest, AnswersItsPropertiesFromFixedValues)
{
    const std::vector<ULONG> tags = {PR_OBJECT_TYPE, PR_ACCESS, PR_ACCESS_LEVEL, PR_STORE_SUPPORT_MASK,
                                     PR_VALID_FOLDER_MASK, PR_RESOURCE_FLAGS, PR_NULL, 0x0E5C000B, 0x6632000B,
                                     PR_DISPLAY_NAME_W, PR_MDB_PROVIDER, PR_ENTRYID, PR_STORE_ENTRYID,
                                     PR_MAPPING_SIGNATURE, PR_RECORD_KEY, PR_STORE_RECORD_KEY,
                                     PR_IPM_SUBTREE_ENTRYID, kPrFinderEntryId, PR_DISPLAY_NAME_A, 0x12340003};
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values = GetProps(store, tags, hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    ASSERT_NE(nullptr, values);
    const SPropValue* v = values.get();
    EXPECT_EQ(static_cast<LONG>(MAPI_STORE), v[0].Value.l);
    EXPECT_EQ(2, v[1].Value.l);
    EXPECT_EQ(0, v[2].Value.l);
    EXPECT_EQ(0x00050B67, v[3].Value.l);
    EXPECT_EQ(0x81, v[4].Value.l);
    EXPECT_EQ(0, v[5].Value.l);
    EXPECT_EQ(0, v[6].Value.l);
    EXPECT_EQ(1, v[7].Value.b);
    EXPECT_EQ(1, v[8].Value.b);
    EXPECT_EQ(L"Morvane Mail Archive (" + path + L")", Text(&v[9]));
    EXPECT_EQ(std::vector<BYTE>(kProviderUid.ab, kProviderUid.ab + 16), Bytes(&v[10]));
    // The store's own identifier is MAPI's wrapping of the 72 bytes.
    EXPECT_LT(72u, Bytes(&v[11]).size());
    EXPECT_EQ(Bytes(&v[11]), Bytes(&v[12]));
    std::vector<BYTE> listed;
    ASSERT_EQ(S_OK, StoreEntryIdOf(session->Session(), uid, listed));
    EXPECT_EQ(listed, Bytes(&v[11]));
    for (int i = 13; i <= 15; ++i)
        EXPECT_EQ(UidBytes(uid), Bytes(&v[i])) << i;
    EXPECT_EQ(IdBytes(CEntryId(kEntryIpmSubtree, uid)), Bytes(&v[16]));
    EXPECT_EQ(IdBytes(CEntryId(kEntrySearchRoot, uid)), Bytes(&v[17]));
    for (int i = 18; i <= 19; ++i) {
        EXPECT_EQ(CHANGE_PROP_TYPE(tags[i], PT_ERROR), v[i].ulPropTag) << i;
        EXPECT_EQ(MAPI_E_NOT_FOUND, v[i].Value.err) << i;
    }

    values = GetProps(store, {PR_DISPLAY_NAME_W, PR_OBJECT_TYPE}, hr, MAPI_UNICODE);
    EXPECT_EQ(S_OK, hr);

    ULONG count = 1;
    LPSPropValue raw = reinterpret_cast<LPSPropValue>(1);
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->GetProps(nullptr, 0, &count, &raw));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(nullptr, raw);
    SizedSPropTagArray(1, none) = {0, {0}};
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->GetProps(reinterpret_cast<LPSPropTagArray>(&none), 0, &count, &raw));
    EXPECT_EQ(E_INVALIDARG, store->GetProps(reinterpret_cast<LPSPropTagArray>(&none), 0, nullptr, &raw));
}

TEST_P(StoreTest, ListsItsThirteenProperties)
{
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, store->GetPropList(0, &raw));
    ClientBuffer<SPropTagArray> tags(raw);
    EXPECT_EQ((std::vector<ULONG>{0x340D0003, 0x34140102, 0x0FFF0102, 0x0FFB0102, 0x0FF90102, 0x0FFA0102, 0x0FF80102,
                                  0x3001001F, 0x35DF0003, 0x35E00102, 0x0FF40003, 0x0FF70003, 0x0FFE0003}),
              std::vector<ULONG>(tags->aulPropTag, tags->aulPropTag + tags->cValues));
    EXPECT_EQ(E_INVALIDARG, store->GetPropList(0, nullptr));
}

TEST_P(StoreTest, OpensEntryIdentifiersOfEveryKind)
{
    const SMailboxFixture& ids = Ids();
    CEntryId shortId = FolderId(uid, ids.alice.rootId, ids.inbox);
    CEntryId missingMessage = MessageId(uid, ids.alice.rootId, ids.inbox, 0x7777);
    struct Case {
        const char* what;
        const CEntryId* id;
        ULONG length;
        ULONG flags;
        HRESULT hr;
        std::wstring name; // of a folder that opens
    };
    const CEntryId root(kEntryRootFolder, uid);
    const CEntryId ipm(kEntryIpmSubtree, uid);
    const CEntryId own(kEntryMessageStore, uid);
    const CEntryId aliceTop = MailboxTopId(uid, ids.alice.rootId);
    const CEntryId inbox = FolderId(uid, ids.alice.rootId, ids.inbox);
    const CEntryId missingFolder = FolderId(uid, ids.alice.rootId, 0x5555);
    CEntryId unknownKind(static_cast<EEntryKind>(9), uid);
    const Case cases[] = {
        {"no identifier: the root", nullptr, 0, 0, S_OK, L"ROOT"},
        {"the root", &root, 72, 0, S_OK, L"ROOT"},
        {"the IPM subtree", &ipm, 72, 0, S_OK, L"IPM"},
        {"a mailbox's top folder", &aliceTop, 72, 0, S_OK, kAliceName},
        {"a folder", &inbox, 72, 0, S_OK, L"Inbox"},
        {"modify asked with best access opens read-only", &inbox, 72, MAPI_MODIFY | MAPI_BEST_ACCESS, S_OK, L"Inbox"},
        {"modify alone is refused", &inbox, 72, MAPI_MODIFY, E_ACCESSDENIED, L""},
        {"the store's own identifier", &own, 72, 0, MAPI_E_INVALID_ENTRYID, L""},
        {"an unknown kind", &unknownKind, 72, 0, MAPI_E_INVALID_ENTRYID, L""},
        {"a folder the server lacks", &missingFolder, 72, 0, MAPI_E_INVALID_ENTRYID, L""},
        {"a message the server lacks", &missingMessage, 72, 0, MAPI_E_INVALID_ENTRYID, L""},
        {"a cut identifier", &shortId, 40, 0, MAPI_E_INVALID_ENTRYID, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ULONG type = 0;
        ComPtr<IUnknown> object;
        HRESULT hr = store->OpenEntry(c.length, c.id ? const_cast<CEntryId*>(c.id)->AsEntryId() : nullptr, nullptr,
                                      c.flags, &type, object.GetAddressOf());
        EXPECT_EQ(c.hr, hr);
        if (FAILED(hr)) {
            EXPECT_EQ(nullptr, object);
            continue;
        }
        EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), type);
        ComPtr<IMAPIFolder> folder;
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf())));
        HRESULT props = S_OK;
        ClientBuffer<SPropValue> name = GetProps(folder.Get(), {PR_DISPLAY_NAME_W}, props);
        EXPECT_EQ(c.name, Text(name.get()));
    }
    ULONG type = 0;
    ComPtr<IUnknown> object;
    EXPECT_EQ(E_INVALIDARG, store->OpenEntry(0, nullptr, nullptr, 0, nullptr, object.GetAddressOf()));
    EXPECT_EQ(E_INVALIDARG, store->OpenEntry(0, nullptr, nullptr, 0, &type, nullptr));
}

// A folder opened through the store knows its parent: the IPM subtree for a
// mailbox's top folder, the top folder for its children.
TEST_P(StoreTest, FoldersOpenedByTheStoreKnowTheirParents)
{
    const SMailboxFixture& ids = Ids();
    struct Case {
        const char* what;
        CEntryId id;
        CEntryId parent;
    };
    CEntryId projectsParent = FolderId(uid, ids.alice.rootId, ids.inbox);
    const Case cases[] = {
        {"a mailbox top", MailboxTopId(uid, ids.alice.rootId), CEntryId(kEntryIpmSubtree, uid)},
        {"a folder under the top", FolderId(uid, ids.alice.rootId, ids.inbox), MailboxTopId(uid, ids.alice.rootId)},
        {"a folder under a folder", FolderId(uid, ids.alice.rootId, ids.projects), projectsParent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ULONG type = 0;
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, OpenEntry(store, c.id, 0, &type, object.GetAddressOf()));
        ComPtr<IMAPIFolder> folder;
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf())));
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> values = GetProps(folder.Get(), {PR_ENTRYID, PR_PARENT_ENTRYID}, hr);
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(IdBytes(c.id), Bytes(&values.get()[0]));
        EXPECT_EQ(IdBytes(c.parent), Bytes(&values.get()[1]));
    }
}

// A message opened through the store names its folder as the folder names
// itself (here a folder right under the mailbox's top): the identifiers
// compare equal, and opening the parent gives that folder.
TEST_P(StoreTest, AMessageOpenedByTheStoreNamesItsFolder)
{
    const SMailboxFixture& ids = Ids();
    ASSERT_FALSE(ids.inboxMessages.empty());
    const CEntryId folderId = FolderId(uid, ids.alice.rootId, ids.inbox);
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, OpenEntry(store, MessageId(uid, ids.alice.rootId, ids.inbox, ids.inboxMessages[0]), 0, &type,
                              object.GetAddressOf()));
    ComPtr<IMessage> message;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.GetAddressOf())));
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values = GetProps(message.Get(), {PR_PARENT_ENTRYID}, hr);
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ(IdBytes(folderId), Bytes(&values.get()[0]));
    ULONG same = FALSE;
    CEntryId named = folderId;
    EXPECT_EQ(S_OK, store->CompareEntryIDs(values.get()[0].Value.bin.cb,
                                           reinterpret_cast<LPENTRYID>(values.get()[0].Value.bin.lpb),
                                           sizeof(named), named.AsEntryId(), 0, &same));
    EXPECT_EQ(static_cast<ULONG>(TRUE), same);
}

TEST_P(StoreTest, RefusesWritesAndAnswersTheOtherSlots)
{
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->SaveChanges(0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->SetProps(0, nullptr, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->DeleteProps(nullptr, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->CopyTo(0, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(E_NOTIMPL, store->CopyProps(nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr));
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->OpenProperty(PR_DISPLAY_NAME_W, &IID_IStream, 0, 0, unknown.GetAddressOf()));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->SetReceiveFolder(nullptr, 0, 0, nullptr));
    ComPtr<IMAPITable> table;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->GetReceiveFolderTable(0, table.GetAddressOf()));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->GetOutgoingQueue(0, table.GetAddressOf()));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->AbortSubmit(0, nullptr, 0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->SetLockState(nullptr, 0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->FinishedMsg(0, 0, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->NotifyNewMail(nullptr));

    ULONG flags = 7;
    EXPECT_EQ(S_OK, store->StoreLogoff(&flags));
    EXPECT_EQ(0u, flags);
    EXPECT_EQ(E_INVALIDARG, store->StoreLogoff(nullptr));

    // Every message class is received in the root folder.
    ULONG cb = 0;
    LPENTRYID raw = nullptr;
    LPTSTR explicitClass = reinterpret_cast<LPTSTR>(1);
    ASSERT_EQ(S_OK, store->GetReceiveFolder(reinterpret_cast<LPTSTR>(const_cast<char*>("IPM.Note")), 0, &cb, &raw,
                                            &explicitClass));
    ClientBuffer<ENTRYID> receive(raw);
    EXPECT_EQ(72u, cb);
    EXPECT_EQ(IdBytes(CEntryId(kEntryRootFolder, uid)),
              std::vector<BYTE>(reinterpret_cast<BYTE*>(raw), reinterpret_cast<BYTE*>(raw) + cb));
    EXPECT_EQ(nullptr, explicitClass);
    EXPECT_EQ(E_INVALIDARG, store->GetReceiveFolder(nullptr, 0, nullptr, &raw, nullptr));

    ComPtr<IMSLogon> logon;
    EXPECT_EQ(S_OK, store->QueryInterface(IID_IMSLogon, reinterpret_cast<void**>(logon.GetAddressOf())));
    ComPtr<IMAPIProp> prop;
    EXPECT_EQ(S_OK, store->QueryInterface(IID_IMAPIProp, reinterpret_cast<void**>(prop.GetAddressOf())));
    ComPtr<IMAPIFolder> notAFolder;
    EXPECT_EQ(E_NOINTERFACE, store->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(notAFolder.GetAddressOf())));
    EXPECT_EQ(nullptr, notAFolder);
}

TEST_P(StoreTest, ComparesEntryIdentifiersByTheirBytes)
{
    CEntryId a = FolderId(uid, 1, 2);
    CEntryId b = a;
    CEntryId c = a;
    c.reserved = 5; // no part of field equality, but these are bytes
    struct Case {
        const char* what;
        ULONG cb1;
        CEntryId* id1;
        ULONG cb2;
        CEntryId* id2;
        ULONG result;
    };
    const Case cases[] = {
        {"both missing", 0, nullptr, 0, nullptr, TRUE},
        {"equal bytes", 72, &a, 72, &b, TRUE},
        {"a byte apart", 72, &a, 72, &c, FALSE},
        {"one a prefix of the other", 40, &a, 72, &b, FALSE},
        {"one missing", 72, &a, 0, nullptr, FALSE},
    };
    for (const Case& k : cases) {
        ULONG result = 7;
        EXPECT_EQ(S_OK, store->CompareEntryIDs(k.cb1, k.id1 ? k.id1->AsEntryId() : nullptr, k.cb2,
                                               k.id2 ? k.id2->AsEntryId() : nullptr, 0, &result))
            << k.what;
        EXPECT_EQ(k.result, result) << k.what;
    }
    EXPECT_EQ(E_INVALIDARG, store->CompareEntryIDs(0, nullptr, 0, nullptr, 0, nullptr));
}

class CSink : public IMAPIAdviseSink {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMAPIAdviseSink))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    STDMETHODIMP_(ULONG) OnNotify(ULONG, LPNOTIFICATION) override { return 0; }
    LONG refs = 1;
};

TEST_P(StoreTest, AdvisesOnlyOfFinishedSearchesOfAWholeIdentifier)
{
    CSink sink;
    CEntryId folder = FolderId(uid, 1, 2);
    ULONG connection = 99;
    EXPECT_EQ(S_OK, store->Advise(72, folder.AsEntryId(), fnevObjectModified, &sink, &connection));
    EXPECT_EQ(0u, connection);
    connection = 99;
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID, store->Advise(40, folder.AsEntryId(), fnevSearchComplete, &sink, &connection));
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID, store->Advise(0, nullptr, fnevSearchComplete, &sink, &connection));
    ASSERT_EQ(S_OK, store->Advise(72, folder.AsEntryId(), fnevSearchComplete, &sink, &connection));
    EXPECT_NE(0u, connection);
    EXPECT_EQ(S_OK, store->Unadvise(connection));
    EXPECT_EQ(S_OK, store->Unadvise(connection)); // always S_OK
}

TEST_P(StoreTest, LastErrorIsUnicodeOnlyAndNamesTheComponent)
{
    LPMAPIERROR error = reinterpret_cast<LPMAPIERROR>(1);
    EXPECT_EQ(MAPI_E_BAD_CHARWIDTH, store->GetLastError(S_OK, 0, &error));
    ASSERT_EQ(S_OK, store->GetLastError(S_OK, MAPI_UNICODE, &error));
    ClientBuffer<MAPIERROR> owned(error);
    EXPECT_EQ(nullptr, error->lpszError);
    EXPECT_STREQ(L"Morvane Mail Archive", reinterpret_cast<const wchar_t*>(error->lpszComponent));
}

TEST_P(StoreTest, NamedPropertiesComeFromTheDatabasesMap)
{
    static const GUID kPublicStrings = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    MAPINAMEID known = {const_cast<GUID*>(&kPublicStrings), MNID_STRING, {}};
    known.Kind.lpwstrName = const_cast<LPWSTR>(L"Project");
    // Unique per generation and run, so that a re-run does not meet it.
    std::wstring freshName = L"Fresh" + std::to_wstring(static_cast<int>(GetParam()));
    MAPINAMEID fresh = {const_cast<GUID*>(&kPublicStrings), MNID_STRING, {}};
    fresh.Kind.lpwstrName = &freshName[0];
    LPMAPINAMEID names[] = {&known, &fresh};

    LPSPropTagArray raw = nullptr;
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, store->GetIDsFromNames(2, names, 0, &raw));
    ClientBuffer<SPropTagArray> without(raw);
    ASSERT_NE(nullptr, without);
    EXPECT_EQ((std::vector<ULONG>{0x80020000, 0x0000000A}),
              std::vector<ULONG>(without->aulPropTag, without->aulPropTag + without->cValues));

    // The first id made is the next after the database's own.
    ULONG made = 0;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(S_OK, store->GetIDsFromNames(2, names, MAPI_CREATE, &raw));
        ClientBuffer<SPropTagArray> with(raw);
        if (round == 0)
            made = with->aulPropTag[1];
        EXPECT_EQ(made, with->aulPropTag[1]);
    }
    EXPECT_EQ(0x8000u + Ids().namedProps, PROP_ID(made));

    // Every named property of the store: none of its own.
    ASSERT_EQ(S_OK, store->GetIDsFromNames(0, nullptr, 0, &raw));
    ClientBuffer<SPropTagArray> all(raw);
    EXPECT_EQ(0u, all->cValues);

    SizedSPropTagArray(2, ask) = {2, {0x80000000, 0x7F000003}};
    LPSPropTagArray askPtr = reinterpret_cast<LPSPropTagArray>(&ask);
    ULONG count = 0;
    LPMAPINAMEID* found = nullptr;
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, store->GetNamesFromIDs(&askPtr, nullptr, 0, &count, &found));
    ClientBuffer<LPMAPINAMEID> foundOwner(found);
    ASSERT_EQ(2u, count);
    ASSERT_NE(nullptr, found[0]);
    EXPECT_STREQ(L"Keywords", found[0]->Kind.lpwstrName);
    EXPECT_EQ(nullptr, found[1]);
    EXPECT_EQ(0x7F00000Au, ask.aulPropTag[1]);
    LPSPropTagArray nullTags = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, store->GetNamesFromIDs(&nullTags, nullptr, 0, &count, &found));
}

INSTANTIATE_TEST_SUITE_P(Generations, StoreTest,
                         ::testing::Values(EGeneration::Exchange2003, EGeneration::Exchange2007), GenerationName);

} // namespace
