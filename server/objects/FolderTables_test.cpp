// Folder children over a "Folders" table that has no parent-id index of the
// expected name: none is discovered and the children are still found, by a
// scan that compares the parent ids.
#include "Platform.h"
#include "objects/FolderTables.h"
#include "EseFixture.h"
#include "EseValueMemory.h"
#include "esedb/CInstance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using esefixture::CEseWriter;
using esefixture::CTempFolder;
using esefixture::I64;
using esefixture::Utf16;

TEST(FolderTables, ChildrenWithoutAParentIdIndexAreFoundByScanning)
{
    CTempFolder folder;
    std::string path = folder.File("plain.edb");
    {
        CEseWriter writer("");
        writer.CreateDatabase(path);
        writer.CreateTable("Folders",
                           {{"Q6748", JET_coltypCurrency}, {"Q6749", JET_coltypCurrency}, {"S3001", JET_coltypLongText}},
                           {{"FoldersIndex1", "+Q6748", JET_bitIndexPrimary},
                            {"?T668f+Q6749", "+Q6749", 0}});  // too short a name to qualify
        struct Row {
            int64_t id, parent;
            const wchar_t* name;
        } rows[] = {{1, 0, L"Root"}, {2, 1, L"First"}, {3, 1, L"Second"}, {4, 2, L"Grandchild"}};
        for (const Row& row : rows)
            writer.Insert("Folders", {{"Q6748", {I64(row.id)}}, {"Q6749", {I64(row.parent)}},
                                      {"S3001", {Utf16(row.name)}}});
        writer.Term();
    }
    std::string logs = folder.Folder("logs") + "\\";
    auto instance = NJbFramework::MakeShared<NJbFramework::CInstance>();
    instance->Create();
    instance->SetParameter(2, logs.c_str());
    instance->SetParameter(0, logs.c_str());
    instance->Init(0);
    ContextRef context(new CEseStoreContext(instance, path, std::string(), std::wstring()));

    EXPECT_EQ("", DiscoveredFolderIndex(context));
    TableRef children = OpenChildFolders(context, 1);
    ULONG tag = 0x3001001F;
    children->SetColumns(1, &tag);
    ULONG count = 0;
    _SEseRow* found = nullptr;
    children->GetRows(0x7FFFFFFF, true, &count, &found);
    std::vector<std::wstring> names;
    for (ULONG i = 0; i < count; ++i)
        names.push_back(found[i].m_p_values[0].m_value.m_p_ws);
    FreeEseRows(found, count);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"First", L"Second"}), names);

    EXPECT_EQ(2, FindFolderIdByName(*OpenChildFolders(context, 1), L"FIRST"));
    EXPECT_EQ(0, FindFolderIdByName(*OpenChildFolders(context, 1), L"Firs"));
    children.Reset();
    context.Reset();
}
