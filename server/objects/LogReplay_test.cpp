#include "Platform.h"
#include "objects/LogReplay.h"
#include "CException.h"
#include "EseFixture.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <string>
#include <vector>

using esefixture::CEseWriter;
using esefixture::CTempFolder;

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

void Touch(const std::string& path) { esefixture::WriteFileBytes(path, "x"); }

TEST(FindLogBase, NamesTheLogSetOrRejectsAForeignOne)
{
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> folders;
        const wchar_t* base; // nullptr: the foreign-log error
    } cases[] = {
        {{}, {}, L""},
        {{"res1.log", "res2.log", "RES1.LOG"}, {}, L""},
        {{"E00.log", "E0000A1B.log"}, {}, L"E00"},
        {{"e00.LOG", "E0000001.log", "E00.chk"}, {}, L"e00"},
        {{"ab.log", "x.txt", "E00tmp.log"}, {}, L"E00"},
        {{"E00.log"}, {"E01.log"}, L"E00"},          // a folder is no log file
        {{"E00.log", "E0000A1B.log", "E01.log"}, {}, nullptr},
        {{"E00.log", "R00.log"}, {}, nullptr},
    };
    for (const Case& c : cases) {
        CTempFolder folder;
        for (const std::string& name : c.files)
            Touch(folder.File(name));
        for (const std::string& name : c.folders)
            folder.Folder(name);
        std::wstring where = Wide(folder.Path());
        if (c.base) {
            EXPECT_EQ(c.base, FindLogBase(where)) << c.files.size();
            continue;
        }
        try {
            FindLogBase(where);
            ADD_FAILURE() << "no foreign-log error";
        } catch (CException& error) {
            unsigned long code = 0;
            error.GetCodes(&code, nullptr, nullptr);
            EXPECT_EQ(7u, code);
            ASSERT_NE(nullptr, error.GetMessage());
            std::wstring message = error.GetMessage();
            EXPECT_NE(std::wstring::npos, message.find(L"Foreign log file \"")) << message;
            EXPECT_NE(std::wstring::npos, message.find(L"Expected base name is \"E00\".")) << message;
        }
    }
    // A folder that does not exist holds no log set.
    EXPECT_EQ(L"", FindLogBase(L"C:\\no such folder\\logs"));
}

std::vector<std::string> Snapshot(const std::string& folder)
{
    std::vector<std::string> contents;
    for (const std::string& name : esefixture::ListFiles(folder))
        contents.push_back(name + "=" + esefixture::ReadFileBytes(folder + "\\" + name));
    return contents;
}

long CountRows(const std::string& dbPath)
{
    JET_INSTANCE instance = JET_instanceNil;
    JetCreateInstanceA(&instance, "count");
    JetSetSystemParameterA(&instance, JET_sesidNil, JET_paramRecovery, 0, "Off");
    struct Term {
        JET_INSTANCE instance;
        ~Term() { JetTerm(instance); }
    } term{instance};
    esefixture::Check(JetInit(&instance), "JetInit");
    term.instance = instance;
    JET_SESID session = JET_sesidNil;
    JetBeginSessionA(instance, &session, nullptr, nullptr);
    esefixture::Check(JetAttachDatabaseA(session, dbPath.c_str(), JET_bitDbReadOnly), "JetAttachDatabase");
    JET_DBID db = JET_dbidNil;
    esefixture::Check(JetOpenDatabaseA(session, dbPath.c_str(), nullptr, &db, JET_bitDbReadOnly), "JetOpenDatabase");
    JET_TABLEID table = JET_tableidNil;
    esefixture::Check(JetOpenTableA(session, db, "Rows", nullptr, 0, JET_bitTableReadOnly, &table), "JetOpenTable");
    long rows = 0;
    for (JET_ERR err = JetMove(session, table, JET_MoveFirst, 0); err >= 0; err = JetMove(session, table, JET_MoveNext, 0))
        ++rows;
    return rows;
}

// A database whose last two rows exist only in its transaction logs.
void MakeDatabaseWithLoggedRows(const std::string& dbPath, const std::string& logFolder)
{
    CEseWriter writer(logFolder, "E00");
    writer.CreateDatabase(dbPath);
    writer.CreateTable("Rows", {{"Id", JET_coltypLongLong}}, {{"IdIndex", "+Id"}});
    for (int64_t id = 1; id <= 3; ++id)
        writer.Insert("Rows", {{"Id", {esefixture::I64(id)}}});
    writer.Term();
    CEseWriter later(logFolder, "E00");
    later.AttachDatabase(dbPath);
    for (int64_t id = 4; id <= 5; ++id)
        later.Insert("Rows", {{"Id", {esefixture::I64(id)}}});
    later.TermDirty();
}

TEST(ReplayIntoCopy, TheCopyHasTheLoggedRowsAndTheUsersFilesStayAsTheyWere)
{
    CTempFolder user, work;
    std::string logs = user.Folder("logs");
    std::string db = user.File("priv1.edb");
    MakeDatabaseWithLoggedRows(db, logs);
    std::vector<std::string> before = Snapshot(user.Path()), logsBefore = Snapshot(logs);
    ASSERT_EQ(L"E00", FindLogBase(Wide(logs)));
    // Dirty until its logs are replayed: the engine will not open it as it is.
    EXPECT_THROW(CountRows(db), std::runtime_error);

    std::wstring workFolder;
    std::wstring copy = ReplayIntoCopy(Wide(logs), L"E00", Wide(db), Wide(work.Path()), &workFolder);
    EXPECT_EQ(0u, copy.rfind(workFolder, 0));
    EXPECT_EQ(5, CountRows(ToAnsi(copy)));

    EXPECT_EQ(before, Snapshot(user.Path()));
    EXPECT_EQ(logsBefore, Snapshot(logs));
    RemoveFolderTree(workFolder);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(workFolder.c_str()));
}

TEST(ReplayIntoCopy, AReplayThatFailsLeavesNoCopyBehind)
{
    CTempFolder user, work;
    std::string logs = user.Folder("logs");
    std::string db = user.File("priv1.edb");
    MakeDatabaseWithLoggedRows(db, logs);
    // A generation the engine cannot read.
    esefixture::WriteFileBytes(logs + "\\E00.log", "not a log file");
    std::vector<std::string> before = Snapshot(user.Path()), logsBefore = Snapshot(logs);

    std::wstring workFolder = L"unchanged";
    EXPECT_THROW(ReplayIntoCopy(Wide(logs), L"E00", Wide(db), Wide(work.Path()), &workFolder), CException);
    EXPECT_EQ(L"", workFolder);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((work.Path() + "\\*").c_str(), &data);
    size_t entries = 0;
    if (find != INVALID_HANDLE_VALUE) {
        do
            entries += std::string(data.cFileName) != "." && std::string(data.cFileName) != "..";
        while (FindNextFileA(find, &data));
        FindClose(find);
    }
    EXPECT_EQ(0u, entries) << "the working folder is empty";
    EXPECT_EQ(before, Snapshot(user.Path()));
    EXPECT_EQ(logsBefore, Snapshot(logs));
}

} // namespace
