// Files that are no good database: each attach fails with an ESE error, and
// the file is left as it was.
#include "EseTestSupport.h"

using esefixture::Bytes;
using esefixture::ColumnSpec;
using esefixture::I64;
using esefixture::IndexSpec;

namespace {

TEST(EseFiles, BadDatabaseFilesFailWithTheirErrors)
{
    esefixture::CTempFolder folder;
    std::string good = folder.File("good.edb");
    {
        esefixture::CEseWriter writer("");
        writer.CreateDatabase(good);
        writer.CreateTable("T", {ColumnSpec{"Id", JET_coltypCurrency}, ColumnSpec{"Data", JET_coltypLongBinary}},
                           {IndexSpec{"Primary", "+Id", JET_bitIndexPrimary}});
        for (int64_t id = 1; id <= 40; ++id)
            writer.Insert("T", {{"Id", {I64(id)}}, {"Data", {Bytes(3000, 'x')}}});
        writer.Term();
    }
    Bytes content = esefixture::ReadFileBytes(good);
    ASSERT_GT(content.size(), 40000u);
    {
        esetest::CReadSession reader(good);
        ASSERT_EQ(JET_errSuccess, reader.AttachResult());
    }
    Bytes damaged = content;
    for (size_t i = content.size() / 2; i < content.size() / 2 + 4096; ++i)
        damaged[i] = static_cast<char>(0xA5);

    struct Case {
        const char* name;
        const char* file;
        bool write;
        Bytes data;
        JET_ERR expected;
    } cases[] = {
        {"missing file", "missing.edb", false, "", JET_errFileNotFound},
        {"empty file", "empty.edb", true, "", JET_errInvalidDatabase},
        {"text file", "text.edb", true, "This is not a database at all.\r\n", JET_errInvalidDatabase},
        {"short header", "short.edb", true, content.substr(0, 40), JET_errDatabaseCorrupted},
        {"truncated", "truncated.edb", true, content.substr(0, content.size() / 2), JET_errDatabaseCorrupted},
        {"cut mid-page", "cut.edb", true, content.substr(0, content.size() - 100), JET_errDatabaseCorrupted},
        {"overwritten pages", "damaged.edb", true, damaged, JET_errDatabaseCorrupted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = folder.File(c.file);
        if (c.write)
            esefixture::WriteFileBytes(path, c.data);
        esetest::CReadSession reader(path);
        EXPECT_EQ(c.expected, reader.AttachResult());
        if (c.write) {
            EXPECT_EQ(c.data, esefixture::ReadFileBytes(path));
        }
    }
    // A folder where the file should be.
    esetest::CReadSession reader(folder.Folder("folder.edb"));
    EXPECT_EQ(JET_errDatabaseInvalidPath, reader.AttachResult());
}

TEST(EseFiles, ReadOnlyAttachLeavesTheFileUnchanged)
{
    esefixture::CTempFolder folder;
    std::string path = folder.File("db.edb");
    {
        esefixture::CEseWriter writer("");
        writer.CreateDatabase(path);
        writer.CreateTable("T", {ColumnSpec{"Id", JET_coltypLong}}, {});
        writer.Insert("T", {{"Id", {esefixture::I32(5)}}});
        writer.Term();
    }
    Bytes before = esefixture::ReadFileBytes(path);
    {
        esetest::CReadSession reader(path);
        ASSERT_EQ(JET_errSuccess, reader.AttachResult());
        JET_TABLEID table = reader.Open("T");
        EXPECT_EQ(JET_errSuccess, JetMove(reader.Session(), table, JET_MoveFirst, 0));
        EXPECT_EQ(JET_errPermissionDenied, JetPrepareUpdate(reader.Session(), table, JET_prepInsert));
        EXPECT_EQ(JET_wrnDatabaseAttached, JetAttachDatabaseA(reader.Session(), path.c_str(), JET_bitDbReadOnly));
    }
    EXPECT_EQ(before, esefixture::ReadFileBytes(path));
    EXPECT_EQ(1u, esefixture::ListFiles(folder.Path()).size());
}

TEST(EseFiles, CreateRefusesAnExistingFile)
{
    esefixture::CTempFolder folder;
    esefixture::WriteFileBytes(folder.File("x.edb"), "data");
    esefixture::CEseWriter writer("");
    JET_DBID dbid = 0;
    EXPECT_EQ(JET_errDatabaseDuplicate,
              JetCreateDatabaseA(writer.Session(), folder.File("x.edb").c_str(), nullptr, &dbid, 0));
    EXPECT_EQ("data", esefixture::ReadFileBytes(folder.File("x.edb")));
}

} // namespace
