// The property engine over fixture databases: finding the object's row, raw
// property bytes, the tags a row holds, and named-property translation.
#include "Platform.h"
#include "objects/CEsePropImpl.h"
#include "CException.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"
#include "objects/FolderTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace exchangefixture;
using NJbFramework::CSharedRef;

namespace {

const GUID kSetA = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kSetB = {0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// A message whose folder-table row has named columns 0x8001 (string name
// "Keywords" in set A) and 0x8002 (numeric 0x8510 in set B); 0x8003 is
// mapped (numeric 7 in set A) but no table has a column for it; 0x8004 is a
// column without a mapping.
class PropertyEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CExchangeDatabase database;
        SMailbox box = database.AddMailbox(L"Owner");
        s_folder = database.AddFolder(box.topId, L"Inbox");
        SMessage message;
        message.subject = L"Stored";
        message.body = std::wstring(5000, L'b');  // 10000 bytes: too large for a row
        message.folderRow = {Text("S8001", L"red"), Int32("L8002", 5), Int32("L8004", 9)};
        s_message = database.AddMessage(s_folder, message);
        database.AddNamedProp({0x8001, kSetA, true, 0, L"Keywords"});
        database.AddNamedProp({0x8002, kSetB, false, 0x8510, L""});
        database.AddNamedProp({0x8003, kSetA, false, 7, L""});
        s_attachments = database.AttachmentsFolderId();
        s_store = new CFixtureStore(database);
    }
    static void TearDownTestSuite()
    {
        delete s_store;
        s_store = nullptr;
    }

    // The message's row joined with its "Msg" row.
    CSharedRef<CEsePropImpl> Message() const
    {
        CSharedRef<CEsePropImpl> row(new CEsePropImpl(0x674A, s_message, s_store->Context(),
                                                      FormatEseId(s_folder).c_str(), kKindFolderMessages));
        row->AddLinkedTable(0x67B0, TableRef(new CEseTableImpl(0x67B0, s_store->Context(), "Msg", kKindMsg)));
        return row;
    }

    static CFixtureStore* s_store;
    static int64_t s_folder;
    static int64_t s_message;
    static int64_t s_attachments;
};

CFixtureStore* PropertyEngine::s_store = nullptr;
int64_t PropertyEngine::s_folder = 0;
int64_t PropertyEngine::s_message = 0;
int64_t PropertyEngine::s_attachments = 0;

template <typename Call>
CException Thrown(Call&& call)
{
    try {
        call();
    } catch (CException& error) {
        return error;
    }
    ADD_FAILURE() << "no exception";
    return CException();
}

unsigned long CodeOf(const CException& error)
{
    unsigned long code = 0, source = 0;
    long sourceCode = 0;
    error.GetCodes(&code, &source, &sourceCode);
    return code;
}

std::vector<ULONG> Take(ULONG* tags, ULONG count)
{
    std::vector<ULONG> copy(tags, tags + count);
    CoTaskMemFree(tags);
    return copy;
}

_SEseNamedPropertyId Numeric(const GUID* set, long id)
{
    _SEseNamedPropertyId name = {};
    name.lpguid = const_cast<GUID*>(set);
    name.ulKind = 0;
    name.Kind.lID = id;
    return name;
}

_SEseNamedPropertyId Named(const GUID* set, const wchar_t* text)
{
    _SEseNamedPropertyId name = {};
    name.lpguid = const_cast<GUID*>(set);
    name.ulKind = 1;
    name.Kind.lpwstrName = const_cast<wchar_t*>(text);
    return name;
}

} // namespace

TEST_F(PropertyEngine, AMissingRowIsNotFound)
{
    CException error = Thrown([&] {
        CEsePropImpl row(0x674A, 0x0123456789, s_store->Context(), FormatEseId(s_folder).c_str(), kKindFolderMessages);
    });
    EXPECT_EQ(1u, CodeOf(error));
    EXPECT_STREQ(L"cannot find object by tag=674a; value=123456789", error.GetMessage());
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), error.GetHResult());
}

TEST_F(PropertyEngine, GetPropertyGivesTheSizeAndOnRequestTheBytes)
{
    CSharedRef<CEsePropImpl> row = Message();
    ULONG size = 0;
    row->GetProperty(0x1000001F, &size, nullptr);
    EXPECT_EQ(10000u, size);

    BYTE* data = nullptr;
    row->GetProperty(0x1000001F, &size, &data);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(10000u, size);
    EXPECT_EQ(std::wstring(5000, L'b'), std::wstring(reinterpret_cast<wchar_t*>(data), 5000));
    CoTaskMemFree(data);

    for (ULONG tag : {0x0E1D001Fu, 0x7777001Fu}) {
        SCOPED_TRACE(tag);
        data = reinterpret_cast<BYTE*>(1);
        CException error = Thrown([&] { row->GetProperty(tag, &size, &data); });
        EXPECT_EQ(2u, CodeOf(error));
        EXPECT_EQ(nullptr, data);
        EXPECT_EQ(0u, size);
    }
}

TEST_F(PropertyEngine, PropertyTagsNamePresentAndTooLargeValuesOnly)
{
    CSharedRef<CEsePropImpl> row = Message();
    ULONG count = 0;
    ULONG* tags = nullptr;
    row->GetPropertyTags(&count, &tags);
    std::vector<ULONG> listed = Take(tags, count);
    auto has = [&](ULONG tag) { return std::find(listed.begin(), listed.end(), tag) != listed.end(); };
    EXPECT_TRUE(has(0x0037001F)) << "stored subject";
    EXPECT_TRUE(has(0x1000001F)) << "too-large body";
    EXPECT_TRUE(has(0x674A0014));
    EXPECT_TRUE(has(0x8001001F));
    EXPECT_FALSE(has(0x003D001F)) << "null prefix";
    EXPECT_FALSE(has(0x0042001F)) << "null sender name";
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
}

TEST_F(PropertyEngine, TagsFromNames)
{
    CSharedRef<CEsePropImpl> row = Message();
    struct Case {
        const char* name;
        _SEseNamedPropertyId id;
        ULONG expected;
    } cases[] = {
        {"string name", Named(&kSetA, L"Keywords"), 0x80010000},
        {"string name in other case", Named(&kSetA, L"KEYWORDS"), 0x80010000},
        {"string name of other length", Named(&kSetA, L"Keyword"), 0x0000000A},
        {"string name in another set", Named(&kSetB, L"Keywords"), 0x0000000A},
        {"numeric name", Numeric(&kSetB, 0x8510), 0x80020000},
        {"numeric name in another set", Numeric(&kSetA, 0x8510), 0x0000000A},
        {"mapped, but no column of the row", Numeric(&kSetA, 7), 0x0000000A},
        {"unknown name", Numeric(&kSetA, 99), 0x0000000A},
        {"name without a set", Named(nullptr, L"Keywords"), 0x0000000A},
    };
    std::vector<_SEseNamedPropertyId*> names;
    for (Case& c : cases)
        names.push_back(&c.id);
    ULONG count = 0;
    ULONG* tags = nullptr;
    row->GetTagsFromPropNames(static_cast<ULONG>(names.size()), names.data(), &count, &tags);
    std::vector<ULONG> found = Take(tags, count);
    ASSERT_EQ(names.size(), found.size());
    for (size_t i = 0; i < found.size(); ++i)
        EXPECT_EQ(cases[i].expected, found[i]) << cases[i].name;
}

TEST_F(PropertyEngine, NoNamesGiveEveryNamedColumnOfTheRow)
{
    // The row's own table only: 0x8001 and 0x8002 are mapped, 0x8004 is not.
    CSharedRef<CEsePropImpl> row = Message();
    ULONG count = 0;
    ULONG* tags = nullptr;
    row->GetTagsFromPropNames(0, nullptr, &count, &tags);
    // In the order the engine lists the columns, which is its own.
    std::vector<ULONG> found = Take(tags, count);
    std::sort(found.begin(), found.end());
    EXPECT_EQ((std::vector<ULONG>{0x80010000, 0x80020000}), found);
}

TEST_F(PropertyEngine, NamesFromTags)
{
    CSharedRef<CEsePropImpl> row = Message();
    struct Case {
        const char* name;
        const GUID* set;
        ULONG flags;
        std::vector<ULONG> expectedTags;
    } cases[] = {
        {"no set: every named property of the row", nullptr, 0, {0x80010000, 0x80020000}},
        {"all-zero set: every named property", &GUID_NULL, 0, {0x80010000, 0x80020000}},
        {"one set", &kSetB, 0, {0x80020000}},
        {"numeric names only", nullptr, 0x1, {0x80020000}},
        {"string names only", nullptr, 0x2, {0x80010000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ULONG tagCount = 0;
        ULONG* tags = nullptr;
        ULONG nameCount = 0;
        _SEseNamedPropertyId* names = nullptr;
        row->GetPropNamesFromTags(&tagCount, &tags, c.set, c.flags, &nameCount, &names);
        EXPECT_EQ(tagCount, nameCount);
        for (ULONG i = 0; i < nameCount; ++i) {
            ASSERT_NE(nullptr, names[i].lpguid);
            if (tags[i] == 0x80010000) {
                EXPECT_EQ(1u, names[i].ulKind);
                EXPECT_STREQ(L"Keywords", names[i].Kind.lpwstrName);
                EXPECT_TRUE(IsEqualGUID(kSetA, *names[i].lpguid));
            } else {
                EXPECT_EQ(0u, names[i].ulKind);
                EXPECT_EQ(0x8510, names[i].Kind.lID);
            }
        }
        FreeEseNameIds(names, nameCount);
        EXPECT_EQ(c.expectedTags, Take(tags, tagCount));
    }

    // A given list: names in its order; a tag without a name is marked.
    ULONG list[] = {0x8002001F, 0x8004001F, 0x80010000};
    ULONG* listPointer = list;
    ULONG tagCount = 3;
    ULONG nameCount = 0;
    _SEseNamedPropertyId* names = nullptr;
    row->GetPropNamesFromTags(&tagCount, &listPointer, nullptr, 0, &nameCount, &names);
    ASSERT_EQ(3u, nameCount);
    EXPECT_EQ(0x8510, names[0].Kind.lID);
    EXPECT_EQ(nullptr, names[1].lpguid);
    EXPECT_STREQ(L"Keywords", names[2].Kind.lpwstrName);
    EXPECT_EQ(0x8002001Fu, list[0]);
    EXPECT_EQ(0x8004000Au, list[1]);
    EXPECT_EQ(0x80010000u, list[2]);
    FreeEseNameIds(names, nameCount);
}

TEST_F(PropertyEngine, NullParametersAreBadParameters)
{
    CSharedRef<CEsePropImpl> row = Message();
    ULONG count = 0, tagCount = 1, zero = 0;
    ULONG* tags = nullptr;
    _SEseNamedPropertyId* names = nullptr;
    struct Case {
        const wchar_t* message;
        std::function<void()> call;
    } cases[] = {
        {L"parameter propNamesCount != 0, but pPropNames is null",
         [&] { row->GetTagsFromPropNames(1, nullptr, &count, &tags); }},
        {L"parameter pTagCount is null", [&] { row->GetTagsFromPropNames(0, nullptr, nullptr, &tags); }},
        {L"parameter ppTags is null", [&] { row->GetTagsFromPropNames(0, nullptr, &count, nullptr); }},
        {L"parameter pPropNamesCount is null",
         [&] { row->GetPropNamesFromTags(&zero, &tags, nullptr, 0, nullptr, &names); }},
        {L"parameter ppPropNames is null", [&] { row->GetPropNamesFromTags(&zero, &tags, nullptr, 0, &count, nullptr); }},
        {L"parameter pTagCount is null", [&] { row->GetPropNamesFromTags(nullptr, &tags, nullptr, 0, &count, &names); }},
        {L"parameter *pTagCount != 0 but ppTags is null",
         [&] { row->GetPropNamesFromTags(&tagCount, nullptr, nullptr, 0, &count, &names); }},
    };
    for (const Case& c : cases) {
        CException error = Thrown(c.call);
        EXPECT_EQ(3u, CodeOf(error)) << c.message;
        EXPECT_STREQ(c.message, error.GetMessage());
        EXPECT_EQ(E_FAIL, error.GetHResult());
    }
}

TEST_F(PropertyEngine, TheParentIdIndexWithMoreEntriesIsDiscovered)
{
    // The fixture's first parent-id index leaves out the roots, the second
    // holds every folder.
    EXPECT_EQ("?T668F+Q6749+S3001+Q6748+2", DiscoveredFolderIndex(s_store->Context()));
}

TEST_F(PropertyEngine, TheAttachmentsFolderTableIsFoundByTheFolderName)
{
    EXPECT_EQ(FormatEseId(s_attachments), s_store->Context()->AttachmentsFolderTable());
    EXPECT_EQ(FormatEseId(s_attachments), s_store->Context()->AttachmentsFolderTable()) << "cached";
}
