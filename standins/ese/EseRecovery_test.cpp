// Transaction logs and their replay; system parameters.
#include "EseTestSupport.h"

#include <algorithm>
#include <vector>

using esefixture::Bytes;
using esefixture::ColumnSpec;
using esefixture::I64;
using esefixture::IndexSpec;

namespace {

// Replays the log set of a base the way the server does: log and
// system path = the log folder, the base, the alternate recovery path = the
// database's folder, JetInit2 with the given grbit.
JET_ERR Replay(const std::string& logFolder, const std::string& base, const std::string& dbFolder, JET_GRBIT grbit)
{
    JET_INSTANCE instance = JET_instanceNil;
    JetCreateInstanceA(&instance, "replay");
    JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramLogFilePath, 0, logFolder.c_str());
    JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramSystemPath, 0, logFolder.c_str());
    JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramBaseName, 0, base.c_str());
    JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramAlternateDatabaseRecoveryPath, 0, dbFolder.c_str());
    JET_ERR err = JetInit2(&instance, grbit);
    JetTerm(instance);
    return err;
}

std::vector<int64_t> Ids(const std::string& dbPath, JET_ERR* attach = nullptr)
{
    esetest::CReadSession reader(dbPath);
    if (attach)
        *attach = reader.AttachResult();
    std::vector<int64_t> ids;
    if (reader.AttachResult() < 0)
        return ids;
    JET_TABLEID table = reader.Open("Rows");
    JET_COLUMNDEF def = {};
    def.cbStruct = sizeof(def);
    esefixture::Check(JetGetTableColumnInfoA(reader.Session(), table, "Id", &def, sizeof(def), JET_ColInfo), "info");
    for (JET_ERR err = JetMove(reader.Session(), table, JET_MoveFirst, 0); err == JET_errSuccess;
         err = JetMove(reader.Session(), table, JET_MoveNext, 0))
        ids.push_back(esetest::RetrieveI64(reader.Session(), table, def.columnid));
    return ids;
}

void CreateRows(esefixture::CEseWriter& writer)
{
    writer.CreateTable("Rows", {ColumnSpec{"Id", JET_coltypCurrency}, ColumnSpec{"Data", JET_coltypLongBinary}},
                       {IndexSpec{"Primary", "+Id", JET_bitIndexPrimary}});
}

void InsertRows(esefixture::CEseWriter& writer, int64_t from, int64_t to, size_t dataSize = 8)
{
    for (int64_t id = from; id <= to; ++id)
        writer.Insert("Rows", {{"Id", {I64(id)}}, {"Data", {Bytes(dataSize, static_cast<char>('a' + id % 26))}}});
}

bool Has(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(EseRecovery, RowsOnlyInTheLogsAppearAfterReplay)
{
    esefixture::CTempFolder folder;
    std::string logs = folder.Folder("logs");
    std::string dbPath = folder.Folder("db") + "\\priv1.edb";
    {
        esefixture::CEseWriter writer(logs, "E00");
        writer.CreateDatabase(dbPath);
        CreateRows(writer);
        InsertRows(writer, 1, 2);
        writer.Term();
    }
    EXPECT_EQ((std::vector<int64_t>{1, 2}), Ids(dbPath));
    {
        esefixture::CEseWriter writer(logs, "E00");
        writer.AttachDatabase(dbPath);
        InsertRows(writer, 3, 5);
        writer.TermDirty();
    }
    std::vector<std::string> files = esefixture::ListFiles(logs);
    EXPECT_TRUE(Has(files, "E00.log"));
    EXPECT_TRUE(Has(files, "E00.chk"));

    // Left dirty, the database cannot be attached until its logs are replayed.
    JET_ERR attach = 0;
    Ids(dbPath, &attach);
    EXPECT_EQ(JET_errDatabaseDirtyShutdown, attach);

    Bytes original = esefixture::ReadFileBytes(dbPath);
    std::string replayFolder = folder.Folder("replay");
    esefixture::WriteFileBytes(replayFolder + "\\priv1.edb", original);
    EXPECT_EQ(JET_errSuccess, Replay(logs, "E00", replayFolder, JET_bitReplayIgnoreMissingDB));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4, 5}), Ids(replayFolder + "\\priv1.edb"));
    EXPECT_EQ(original, esefixture::ReadFileBytes(dbPath));

    // A second replay finds everything applied already.
    EXPECT_EQ(JET_errSuccess, Replay(logs, "E00", replayFolder, JET_bitReplayIgnoreMissingDB));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4, 5}), Ids(replayFolder + "\\priv1.edb"));
}

TEST(EseRecovery, RolledGenerationsAreReplayedInOrderWhateverTheirNames)
{
    esefixture::CTempFolder folder;
    std::string logs = folder.Folder("logs");
    std::string dbPath = folder.Folder("db") + "\\priv1.edb";
    {
        esefixture::CEseWriter writer(logs, "E00", 1);
        writer.CreateDatabase(dbPath);
        CreateRows(writer);
        InsertRows(writer, 1, 6, 700);
        writer.TermDirty();
    }
    std::vector<std::string> files = esefixture::ListFiles(logs);
    ASSERT_TRUE(Has(files, "E00.log"));
    ASSERT_TRUE(Has(files, "E0000001.log"));
    ASSERT_TRUE(Has(files, "E0000002.log"));
    // The oldest generation under an Exchange-like name of another number.
    ASSERT_TRUE(MoveFileA((logs + "\\E0000001.log").c_str(), (logs + "\\E0000A1B.log").c_str()));
    EXPECT_EQ(JET_errSuccess, Replay(logs, "E00", folder.Path() + "\\db", 0));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4, 5, 6}), Ids(dbPath));
}

TEST(EseRecovery, FailuresAndOtherBases)
{
    esefixture::CTempFolder folder;
    std::string logs = folder.Folder("logs");
    std::string dbPath = folder.Folder("db") + "\\priv1.edb";
    {
        esefixture::CEseWriter writer(logs, "E00", 1);
        writer.CreateDatabase(dbPath);
        CreateRows(writer);
        InsertRows(writer, 1, 4, 700);
        writer.TermDirty();
    }
    std::string empty = folder.Folder("empty");
    struct Case {
        const char* name;
        std::string base;
        std::string dbFolder;
        JET_GRBIT grbit;
        JET_ERR expected;
    } cases[] = {
        {"missing database", "E00", empty, 0, JET_errAttachedDatabaseMismatch},
        {"missing database ignored", "E00", empty, JET_bitReplayIgnoreMissingDB, JET_errSuccess},
        {"no logs of that base", "E01", empty, 0, JET_errSuccess},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, Replay(logs, c.base, c.dbFolder, c.grbit));
    }

    // A generation in the middle that is damaged stops the replay.
    std::string copyFolder = folder.Folder("copy");
    Bytes middle = esefixture::ReadFileBytes(logs + "\\E0000002.log");
    Bytes damaged = middle;
    damaged[damaged.size() - 3] ^= 0x55;
    esefixture::WriteFileBytes(logs + "\\E0000002.log", damaged);
    esefixture::WriteFileBytes(copyFolder + "\\priv1.edb", esefixture::ReadFileBytes(dbPath));
    EXPECT_EQ(JET_errLogFileCorrupt, Replay(logs, "E00", copyFolder, 0));
    esefixture::WriteFileBytes(logs + "\\E0000002.log", middle);

    // A missing generation too.
    Bytes first = esefixture::ReadFileBytes(logs + "\\E0000002.log");
    ASSERT_TRUE(DeleteFileA((logs + "\\E0000002.log").c_str()));
    EXPECT_EQ(JET_errMissingLogFile, Replay(logs, "E00", copyFolder, 0));
    esefixture::WriteFileBytes(logs + "\\E0000002.log", first);

    // A torn end of the newest generation only loses its last record.
    Bytes current = esefixture::ReadFileBytes(logs + "\\E00.log");
    esefixture::WriteFileBytes(logs + "\\E00.log", current.substr(0, current.size() - 5));
    EXPECT_EQ(JET_errSuccess, Replay(logs, "E00", copyFolder, 0));
    std::vector<int64_t> ids = Ids(copyFolder + "\\priv1.edb");
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3}), ids);
}

TEST(EseSystemParameters, GlobalAndInstanceSettings)
{
    JET_API_PTR pageSize = 0;
    ASSERT_EQ(JET_errSuccess,
              JetGetSystemParameterA(JET_instanceNil, JET_sesidNil, JET_paramDatabasePageSize, &pageSize, nullptr, 0));
    EXPECT_EQ(4096u, pageSize);
    JET_INSTANCE none = JET_instanceNil;
    EXPECT_EQ(JET_errSuccess, JetSetSystemParameterA(&none, JET_sesidNil, JET_paramDatabasePageSize, 4096, nullptr));
    EXPECT_EQ(JET_errInvalidParameter,
              JetSetSystemParameterA(&none, JET_sesidNil, JET_paramDatabasePageSize, 4000, nullptr));

    JET_INSTANCE instance = JET_instanceNil;
    ASSERT_EQ(JET_errSuccess, JetCreateInstanceA(&instance, "{parameters}"));
    JET_INSTANCE twin = JET_instanceNil;
    EXPECT_EQ(JET_errInstanceNameInUse, JetCreateInstanceA(&twin, "{parameters}"));
    char text[64] = {};
    ASSERT_EQ(JET_errSuccess,
              JetGetSystemParameterA(instance, JET_sesidNil, JET_paramBaseName, nullptr, text, sizeof(text)));
    EXPECT_STREQ("edb", text);
    EXPECT_EQ(JET_errSuccess, JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramBaseName, 0, "E00"));
    ASSERT_EQ(JET_errSuccess,
              JetGetSystemParameterA(instance, JET_sesidNil, JET_paramBaseName, nullptr, text, sizeof(text)));
    EXPECT_STREQ("E00", text);
    EXPECT_EQ(JET_errBufferTooSmall,
              JetGetSystemParameterA(instance, JET_sesidNil, JET_paramBaseName, nullptr, text, 2));
    EXPECT_EQ(JET_errInvalidParameter, JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramBaseName, 0, "E0"));
    ASSERT_EQ(JET_errSuccess, JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramRecovery, 0, "Off"));
    ASSERT_EQ(JET_errSuccess, JetInit2(&instance, 0));
    EXPECT_EQ(JET_errAlreadyInitialized, JetInit2(&instance, 0));
    EXPECT_EQ(JET_errAlreadyInitialized,
              JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramLogFilePath, 0, "C:\\"));
    EXPECT_EQ(JET_errAlreadyInitialized,
              JetSetSystemParameterA(&none, JET_sesidNil, JET_paramDatabasePageSize, 8192, nullptr));
    EXPECT_EQ(JET_errSuccess, JetTerm(instance));
    EXPECT_EQ(JET_errInvalidInstance, JetTerm(instance));
}

TEST(EseSystemParameters, LogFolderMustExist)
{
    esefixture::CTempFolder folder;
    JET_INSTANCE instance = JET_instanceNil;
    ASSERT_EQ(JET_errSuccess, JetCreateInstanceA(&instance, nullptr));
    std::string missing = folder.Path() + "\\missing\\";
    JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramLogFilePath, 0, missing.c_str());
    EXPECT_EQ(JET_errInvalidLogDirectory, JetInit2(&instance, 0));
    JetTerm(instance);
}

} // namespace
