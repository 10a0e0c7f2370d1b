// The search root and search folders as a MAPI client meets them: their
// properties, the folders made under the root and opened again by their
// identifiers, the criteria they keep, their contents and hierarchy tables,
// and the slots they refuse.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "testing/SearchFixture.h"
#include "testing/StoreClientTest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace searchtest;
using namespace providertest;

namespace {

constexpr ULONG kPrFinderEntryId = 0x35E70102;
constexpr ULONG kPrExtendedFolderFlags = 0x36DA0102;
constexpr ULONG kPrFolderGuid = 0x68420102;
constexpr ULONG kPrOwnEntryId = 0x66720102;

class SearchFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CSearchStore::Instance().Status());
        store = CSearchStore::Instance().Store();
        uid = CSearchStore::Instance().Uid();
        ULONG type = 0;
        ComPtr<IUnknown> object;
        const CEntryId rootId(kEntrySearchRoot, uid);
        ASSERT_EQ(S_OK, OpenEntry(store, rootId, 0, &type, object.GetAddressOf()));
        EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), type);
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(root.GetAddressOf())));
    }

    ComPtr<IMAPIFolder> Make(const wchar_t* name, LPCIID iid = nullptr)
    {
        ComPtr<IMAPIFolder> folder;
        EXPECT_EQ(S_OK, root->CreateFolder(FOLDER_SEARCH, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(name)), nullptr,
                                           iid, MAPI_UNICODE, folder.GetAddressOf()));
        return folder;
    }

    static CEntryId IdOf(IMAPIProp* object)
    {
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> value = GetProps(object, {PR_ENTRYID}, hr);
        CEntryId id;
        if (SUCCEEDED(hr) && value && value->Value.bin.cb == sizeof(CEntryId))
            std::memcpy(static_cast<void*>(&id), value->Value.bin.lpb, sizeof(CEntryId));
        return id;
    }

    IMsgStore* store = nullptr;
    MAPIUID uid = {};
    ComPtr<IMAPIFolder> root;
};

TEST_F(SearchFolderTest, TheSearchRootAnswersItsPropertiesFromItsOwnValues)
{
    const CEntryId rootId(kEntrySearchRoot, uid);
    const std::vector<ULONG> tags = {PR_ENTRYID,         PR_RECORD_KEY,        PR_PARENT_ENTRYID,   kPrOwnEntryId,
                                     PR_MAPPING_SIGNATURE, PR_STORE_RECORD_KEY, kPrFinderEntryId,   PR_STORE_ENTRYID,
                                     PR_MDB_PROVIDER,    PR_DISPLAY_NAME_W,    PR_CONTAINER_CLASS_W, kPrExtendedFolderFlags,
                                     kPrFolderGuid,      PR_FOLDER_TYPE,       PR_ACCESS,           PR_ACCESS_LEVEL,
                                     PR_NULL,            PR_STORE_SUPPORT_MASK, PR_SUBFOLDERS,      PR_CONTENT_COUNT,
                                     0x36D00102,         0x672D0003};
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values = GetProps(root.Get(), tags, hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    ASSERT_NE(nullptr, values);
    const SPropValue* v = values.get();
    for (int i = 0; i <= 3; ++i)
        EXPECT_EQ(IdBytes(rootId), Bytes(&v[i])) << i;
    for (int i = 4; i <= 6; ++i)
        EXPECT_EQ(UidBytes(uid), Bytes(&v[i])) << i;
    ClientBuffer<SPropValue> storeIds = GetProps(store, {PR_STORE_ENTRYID}, hr);
    EXPECT_EQ(Bytes(storeIds.get()), Bytes(&v[7]));
    EXPECT_EQ(std::vector<BYTE>(kProviderUid.ab, kProviderUid.ab + 16), Bytes(&v[8]));
    EXPECT_EQ(L"Search Folders", Text(&v[9]));
    EXPECT_EQ(L"IPF.Note", Text(&v[10]));
    const std::vector<BYTE> blob = Bytes(&v[11]);
    ASSERT_EQ(30u, blob.size());
    EXPECT_EQ((std::vector<BYTE>{0x01, 0x04, 0, 0, 0, 0x01, 0x03, 0x04}), std::vector<BYTE>(blob.begin(), blob.begin() + 8));
    EXPECT_EQ(0x02, blob[12]);
    EXPECT_EQ(0x10, blob[13]);
    EXPECT_EQ(std::vector<BYTE>(blob.begin() + 14, blob.end()), Bytes(&v[12])) << "the folder's GUID";
    EXPECT_EQ(static_cast<LONG>(FOLDER_SEARCH), v[13].Value.l);
    EXPECT_EQ(MAPI_ACCESS_READ, v[14].Value.l);
    EXPECT_EQ(0, v[15].Value.l);
    EXPECT_EQ(0, v[16].Value.l);
    EXPECT_EQ(0x00050B67, v[17].Value.l);
    for (int i = 18; i <= 19; ++i) {
        EXPECT_EQ(CHANGE_PROP_TYPE(tags[i], PT_ERROR), v[i].ulPropTag) << i;
        EXPECT_EQ(MAPI_E_NO_SUPPORT, v[i].Value.err) << i;
    }
    for (int i = 20; i <= 21; ++i) {
        EXPECT_EQ(CHANGE_PROP_TYPE(tags[i], PT_ERROR), v[i].ulPropTag) << i;
        EXPECT_EQ(MAPI_E_NOT_FOUND, v[i].Value.err) << i;
    }

    // What the folder does not support is no warning; what it lacks is.
    values = GetProps(root.Get(), {PR_SUBFOLDERS}, hr);
    EXPECT_EQ(S_OK, hr);
    values = GetProps(root.Get(), {PR_FOLDER_TYPE, PR_CONTAINER_CLASS_W}, hr);
    EXPECT_EQ(S_OK, hr);

    ULONG count = 1;
    LPSPropValue raw = reinterpret_cast<LPSPropValue>(1);
    EXPECT_EQ(MAPI_E_NO_SUPPORT, root->GetProps(nullptr, 0, &count, &raw));
    SizedSPropTagArray(1, none) = {0, {0}};
    EXPECT_EQ(MAPI_E_NO_SUPPORT, root->GetProps(reinterpret_cast<LPSPropTagArray>(&none), 0, &count, &raw));
    SizedSPropTagArray(1, one) = {1, {PR_FOLDER_TYPE}};
    EXPECT_EQ(E_INVALIDARG, root->GetProps(reinterpret_cast<LPSPropTagArray>(&one), 0, nullptr, &raw));
    EXPECT_EQ(E_INVALIDARG, root->GetProps(reinterpret_cast<LPSPropTagArray>(&one), 0, &count, nullptr));
}

TEST_F(SearchFolderTest, ListsItsFourteenProperties)
{
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, root->GetPropList(0, &raw));
    ClientBuffer<SPropTagArray> tags(raw);
    EXPECT_EQ((std::vector<ULONG>{PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER, PR_ENTRYID, PR_PARENT_ENTRYID,
                                  PR_STORE_ENTRYID, PR_DISPLAY_NAME_W, PR_ACCESS, PR_ACCESS_LEVEL, PR_FOLDER_TYPE,
                                  PR_STORE_RECORD_KEY, PR_MAPPING_SIGNATURE, kPrFinderEntryId, kPrFolderGuid,
                                  kPrExtendedFolderFlags}),
              std::vector<ULONG>(tags->aulPropTag, tags->aulPropTag + tags->cValues));
    EXPECT_EQ(E_INVALIDARG, root->GetPropList(0, nullptr));
}

TEST_F(SearchFolderTest, KeepsTheExtendedFlagsAClientSets)
{
    ComPtr<IMAPIFolder> folder = Make(L"Flags");
    ASSERT_NE(nullptr, folder);
    BYTE bytes[] = {0x01, 0x04, 0, 0, 0, 0x02, 0x07, 0x02, 0xAB, 0xCD};
    SPropValue values[2] = {};
    values[0].ulPropTag = PR_SUBJECT_W;
    values[0].Value.lpszW = const_cast<LPWSTR>(L"ignored");
    values[1].ulPropTag = kPrExtendedFolderFlags;
    values[1].Value.bin.cb = sizeof(bytes);
    values[1].Value.bin.lpb = bytes;
    LPSPropProblemArray problems = reinterpret_cast<LPSPropProblemArray>(1);
    EXPECT_EQ(S_OK, folder->SetProps(2, values, &problems));
    EXPECT_EQ(nullptr, problems);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> read = GetProps(folder.Get(), {kPrExtendedFolderFlags, PR_DISPLAY_NAME_W}, hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + sizeof(bytes)), Bytes(&read.get()[0]));
    EXPECT_EQ(L"Flags", Text(&read.get()[1]));
}

TEST_F(SearchFolderTest, MakesSearchFoldersWithSerialsOfTheirOwn)
{
    ComPtr<IMAPIFolder> folder;
    EXPECT_EQ(MAPI_E_NO_SUPPORT,
              root->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"Generic")), nullptr,
                                 nullptr, MAPI_UNICODE, folder.GetAddressOf()));
    EXPECT_EQ(MAPI_E_NO_SUPPORT,
              root->CreateFolder(FOLDER_SEARCH, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"Message")), nullptr,
                                 &IID_IMessage, MAPI_UNICODE, folder.GetAddressOf()));
    ComPtr<IMAPIFolder> first = Make(L"First");
    ComPtr<IMAPIFolder> second = Make(L"Second", &IID_IMAPIFolder);
    ComPtr<IMAPIFolder> third = Make(L"Third", &IID_IMAPIContainer);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    ASSERT_NE(nullptr, third);
    const CEntryId a = IdOf(first.Get()), b = IdOf(second.Get()), c = IdOf(third.Get());
    EXPECT_GE(a.serial, 1u);
    EXPECT_EQ(a.serial + 1, b.serial);
    EXPECT_EQ(b.serial + 1, c.serial);
    CEntryId expected(kEntrySearchRoot, uid);
    expected.serial = a.serial;
    EXPECT_EQ(IdBytes(expected), IdBytes(a));

    // An ANSI name is read as one.
    ComPtr<IMAPIFolder> ansi;
    ASSERT_EQ(S_OK, root->CreateFolder(FOLDER_SEARCH, reinterpret_cast<LPTSTR>(const_cast<char*>("Narrow name")),
                                       nullptr, nullptr, 0, ansi.GetAddressOf()));
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> name = GetProps(ansi.Get(), {PR_DISPLAY_NAME_W}, hr);
    EXPECT_EQ(L"Narrow name", Text(name.get()));
}

TEST_F(SearchFolderTest, AFolderOpenedAgainHasItsNameButNoCriteria)
{
    CRestrictionBuilder b;
    ComPtr<IMAPIFolder> made = Make(L"Reopened");
    ASSERT_NE(nullptr, made);
    const CEntryId id = IdOf(made.Get());
    const CEntryId inbox = FolderId(uid, SearchIds().owner.rootId, SearchIds().inbox);
    SBinary entry = {sizeof(CEntryId), reinterpret_cast<LPBYTE>(const_cast<CEntryId*>(&inbox))};
    ENTRYLIST list = {1, &entry};
    ASSERT_EQ(S_OK, made->SetSearchCriteria(b.Content(PR_SUBJECT_W, L"x"), &list, 0));

    for (IMAPIContainer* opener : {static_cast<IMAPIContainer*>(root.Get()), static_cast<IMAPIContainer*>(nullptr)}) {
        ULONG type = 0;
        ComPtr<IUnknown> object;
        if (opener)
            ASSERT_EQ(S_OK, OpenEntry(opener, id, 0, &type, object.GetAddressOf()));
        else
            ASSERT_EQ(S_OK, OpenEntry(store, id, 0, &type, object.GetAddressOf()));
        EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), type);
        ComPtr<IMAPIFolder> again;
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(again.GetAddressOf())));
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> values = GetProps(again.Get(), {PR_DISPLAY_NAME_W, PR_ENTRYID}, hr);
        EXPECT_EQ(L"Reopened", Text(&values.get()[0]));
        EXPECT_EQ(IdBytes(id), Bytes(&values.get()[1]));
        LPSRestriction restriction = reinterpret_cast<LPSRestriction>(1);
        LPENTRYLIST containers = reinterpret_cast<LPENTRYLIST>(1);
        ULONG state = 0;
        ASSERT_EQ(S_OK, again->GetSearchCriteria(0, &restriction, &containers, &state));
        EXPECT_EQ(nullptr, restriction);
        EXPECT_EQ(nullptr, containers);
        EXPECT_EQ(1u, state);
    }
}

TEST_F(SearchFolderTest, OpensOnlyMessagesAndSearchFolders)
{
    const CEntryId unknownSearchFolder = [&] {
        CEntryId id(kEntrySearchRoot, uid);
        id.serial = 0x7FFFFFF0;
        return id;
    }();
    const CEntryId folder = FolderId(uid, SearchIds().owner.rootId, SearchIds().inbox);
    const CEntryId message =
        MessageId(uid, SearchIds().owner.rootId, SearchIds().inbox, SearchIds().messages.at(L"Quarterly report"));
    const CEntryId missingMessage = MessageId(uid, SearchIds().owner.rootId, SearchIds().inbox, 0x7777);
    struct Case {
        const char* what;
        CEntryId id;
        ULONG flags;
        HRESULT hr;
    };
    const Case cases[] = {
        {"a search folder never made: the root's name", unknownSearchFolder, 0, S_OK},
        {"a message", message, 0, S_OK},
        {"a message the server lacks", missingMessage, 0, MAPI_E_EXTENDED_ERROR},
        {"modify, a message", message, MAPI_MODIFY, E_ACCESSDENIED},
        {"a folder", folder, 0, MAPI_E_NOT_FOUND},
        {"the store", CEntryId(kEntryMessageStore, uid), 0, MAPI_E_NOT_FOUND},
        {"modify, a search folder", unknownSearchFolder, MAPI_MODIFY, E_ACCESSDENIED},
        {"modify, a folder", folder, MAPI_MODIFY, E_ACCESSDENIED},
    };
    for (const Case& c : cases) {
        ULONG type = 0;
        ComPtr<IUnknown> object;
        EXPECT_EQ(c.hr, OpenEntry(root.Get(), c.id, c.flags, &type, object.GetAddressOf())) << c.what;
        EXPECT_EQ(SUCCEEDED(c.hr), object != nullptr) << c.what;
    }
    ULONG type = 0;
    ComPtr<IUnknown> object;
    // A message found by a search opens with the search folder as its parent.
    ASSERT_EQ(S_OK, OpenEntry(root.Get(), message, 0, &type, object.GetAddressOf()));
    EXPECT_EQ(static_cast<ULONG>(MAPI_MESSAGE), type);
    {
        ComPtr<IMessage> opened;
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IMessage, reinterpret_cast<void**>(opened.GetAddressOf())));
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> values = GetProps(opened.Get(), {PR_SUBJECT_W, PR_PARENT_ENTRYID, PR_ENTRYID}, hr);
        EXPECT_EQ(L"Quarterly report", Text(&values.get()[0]));
        EXPECT_EQ(IdBytes(CEntryId(kEntrySearchRoot, uid)), Bytes(&values.get()[1]));
        EXPECT_EQ(IdBytes(message), Bytes(&values.get()[2]));
    }
    object.Reset();
    ASSERT_EQ(S_OK, OpenEntry(root.Get(), unknownSearchFolder, 0, &type, object.GetAddressOf()));
    ComPtr<IMAPIProp> opened;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIProp, reinterpret_cast<void**>(opened.GetAddressOf())));
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> name = GetProps(opened.Get(), {PR_DISPLAY_NAME_W}, hr);
    EXPECT_EQ(L"Search Folders", Text(name.get()));

    // A search folder made without a name cannot be opened again.
    ComPtr<IMAPIFolder> nameless;
    ASSERT_EQ(S_OK, root->CreateFolder(FOLDER_SEARCH, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"")), nullptr,
                                       nullptr, MAPI_UNICODE, nameless.GetAddressOf()));
    object.Reset();
    EXPECT_EQ(MAPI_E_NOT_FOUND, OpenEntry(root.Get(), IdOf(nameless.Get()), 0, &type, object.GetAddressOf()));
    EXPECT_EQ(E_INVALIDARG, root->OpenEntry(0, nullptr, nullptr, 0, nullptr, object.GetAddressOf()));
    EXPECT_EQ(MAPI_E_NOT_FOUND, root->OpenEntry(0, nullptr, nullptr, 0, &type, object.GetAddressOf()));
}

TEST_F(SearchFolderTest, KeepsTheCriteriaItIsGiven)
{
    CRestrictionBuilder b;
    ComPtr<IMAPIFolder> folder = Make(L"Criteria");
    ASSERT_NE(nullptr, folder);
    LPSRestriction restriction = reinterpret_cast<LPSRestriction>(1);
    LPENTRYLIST containers = reinterpret_cast<LPENTRYLIST>(1);
    ULONG state = 0;
    ASSERT_EQ(S_OK, folder->GetSearchCriteria(0, &restriction, &containers, &state));
    EXPECT_EQ(nullptr, restriction);
    EXPECT_EQ(nullptr, containers);
    EXPECT_EQ(1u, state);

    const CEntryId inbox = FolderId(uid, SearchIds().owner.rootId, SearchIds().inbox);
    SBinary entry = {sizeof(CEntryId), reinterpret_cast<LPBYTE>(const_cast<CEntryId*>(&inbox))};
    ENTRYLIST list = {1, &entry};
    ASSERT_EQ(S_OK, folder->SetSearchCriteria(b.Content(PR_SUBJECT_W, L"kept"), &list, RECURSIVE_SEARCH));
    ASSERT_EQ(S_OK, folder->GetSearchCriteria(0, &restriction, &containers, &state));
    ClientBuffer<SRestriction> ownedRestriction(restriction);
    ClientBuffer<ENTRYLIST> ownedList(containers);
    ASSERT_NE(nullptr, restriction);
    EXPECT_EQ(static_cast<ULONG>(RES_CONTENT), restriction->rt);
    EXPECT_STREQ(L"kept", restriction->res.resContent.lpProp->Value.lpszW);
    ASSERT_NE(nullptr, containers);
    ASSERT_EQ(1u, containers->cValues);
    EXPECT_EQ(IdBytes(inbox), std::vector<BYTE>(containers->lpbin[0].lpb, containers->lpbin[0].lpb + 72));
    EXPECT_EQ(static_cast<ULONG>(RECURSIVE_SEARCH), state);
    // Any of the outputs may be left out.
    EXPECT_EQ(S_OK, folder->GetSearchCriteria(0, nullptr, nullptr, nullptr));

    // A null list drops the list; a null restriction drops the restriction.
    ASSERT_EQ(S_OK, folder->SetSearchCriteria(b.Content(PR_SUBJECT_W, L"kept"), nullptr, 0));
    ASSERT_EQ(S_OK, folder->GetSearchCriteria(0, &restriction, &containers, &state));
    ClientBuffer<SRestriction> second(restriction);
    EXPECT_NE(nullptr, restriction);
    EXPECT_EQ(nullptr, containers);
    ASSERT_EQ(S_OK, folder->SetSearchCriteria(nullptr, &list, 0));
    ASSERT_EQ(S_OK, folder->GetSearchCriteria(0, &restriction, &containers, &state));
    ClientBuffer<ENTRYLIST> third(containers);
    EXPECT_EQ(nullptr, restriction);
    EXPECT_NE(nullptr, containers);
}

TEST_F(SearchFolderTest, ContentsBeforeCriteriaAreEmptyAndEachAskReplacesThem)
{
    CRestrictionBuilder b;
    CSearchFolder folder(store, L"Before criteria");
    ASSERT_EQ(S_OK, folder.Status());
    ComPtr<IMAPITable> first = folder.Contents();
    ComPtr<IMAPITable> second = folder.Contents();
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_TRUE(Subjects(first.Get()).empty());
    // Criteria with a list restart the search into the latest table.
    const CEntryId inbox = FolderId(uid, SearchIds().owner.rootId, SearchIds().inbox);
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_SUBJECT_W, L"RTF only"), {inbox}, 0));
    ASSERT_TRUE(folder.Sink().Wait(1));
    EXPECT_TRUE(Subjects(first.Get()).empty());
    EXPECT_EQ(std::set<std::wstring>{L"RTF only"}, Subjects(second.Get()));
    // With criteria and results, the same table again.
    ComPtr<IMAPITable> third = folder.Contents();
    EXPECT_EQ(std::set<std::wstring>{L"RTF only"}, Subjects(third.Get()));
    Sleep(200);
    EXPECT_EQ(1, folder.Sink().Count());
}

TEST_F(SearchFolderTest, HasAnEmptyHierarchyAndRefusesWhatItCannotDo)
{
    ComPtr<IMAPITable> hierarchy;
    ASSERT_EQ(S_OK, root->GetHierarchyTable(0, hierarchy.GetAddressOf()));
    ULONG count = 7;
    EXPECT_EQ(S_OK, hierarchy->GetRowCount(0, &count));
    EXPECT_EQ(0u, count);
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, hierarchy->QueryColumns(0, &raw));
    ClientBuffer<SPropTagArray> columns(raw);
    EXPECT_EQ(23u, columns->cValues);
    EXPECT_EQ(0x0FF60102u, columns->aulPropTag[0]);
    EXPECT_EQ(0x36E7101Fu, columns->aulPropTag[22]);

    ComPtr<IMessage> message;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, root->CreateMessage(nullptr, 0, message.GetAddressOf()));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, root->CopyFolder(0, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0));
    EXPECT_EQ(S_OK, root->DeleteFolder(0, nullptr, 0, nullptr, 0));
}

} // namespace
