// The instance through COM: Init, OpenStore with and without transaction
// logs, shared store contexts, and bad databases and log folders. Every case
// checks that the user's files are left exactly as they were.
#include "Platform.h"
#include "EseFixture.h"
#include "EseValueMemory.h"
#include "testing/ExchangeFixture.h"
#include "Vostrel2007.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using esefixture::CEseWriter;
using esefixture::CTempFolder;

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<std::string> Snapshot(const std::string& folder)
{
    std::vector<std::string> contents;
    for (const std::string& name : esefixture::ListFiles(folder))
        contents.push_back(name + "=" + esefixture::ReadFileBytes(folder + "\\" + name));
    return contents;
}

size_t ReplayFolders(const std::string& workFolder)
{
    size_t count = 0;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((workFolder + "\\replay-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ++count;
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return count;
}

void MakeDatabase(const std::string& dbPath, const std::string& logFolder, bool lastRowsInLogsOnly)
{
    CEseWriter writer(logFolder, "E00");
    writer.CreateDatabase(dbPath);
    writer.CreateTable("Rows", {{"Id", JET_coltypLongLong}}, {{"IdIndex", "+Id"}});
    writer.Insert("Rows", {{"Id", {esefixture::I64(1)}}});
    writer.Term();
    if (lastRowsInLogsOnly) {
        CEseWriter later(logFolder, "E00");
        later.AttachDatabase(dbPath);
        later.Insert("Rows", {{"Id", {esefixture::I64(2)}}});
        later.TermDirty();
    }
}

std::wstring TakeDescription()
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"<none>";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    GUID guid = {};
    info->GetGUID(&guid);
    if (!IsEqualGUID(guid, IID_IEseInstance))
        description += L" <not under IEseInstance>";
    return description;
}

class CEseInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        m_instance = NewInstance();
        ASSERT_NE(nullptr, m_instance.Get());
    }
    void TearDown() override
    {
        m_instance.Reset();
        CoUninitialize();
    }

    ComPtr<IEseInstance> NewInstance()
    {
        ComPtr<IEseInstance> instance;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                         reinterpret_cast<void**>(instance.GetAddressOf())));
        std::wstring work = Wide(m_work.Path()) + L"\\";
        EXPECT_EQ(S_OK, instance->Init(4096, &work[0], &work[0]));
        return instance;
    }

    HRESULT Open(IEseInstance* instance, const std::string& db, const std::string& logs, IEseStore** store)
    {
        std::wstring dbPath = Wide(db), logPath = Wide(logs);
        SetErrorInfo(0, nullptr);
        return instance->OpenStore(&dbPath[0], logs.empty() ? nullptr : &logPath[0], store);
    }

    CTempFolder m_user, m_work;
    ComPtr<IEseInstance> m_instance;
};

TEST_F(CEseInstanceTest, OpensADatabaseWithoutLogs)
{
    std::string logs = m_user.Folder("logs");
    std::string db = m_user.File("priv1.edb");
    MakeDatabase(db, logs, false);
    for (const std::string& name : esefixture::ListFiles(logs))
        DeleteFileA((logs + "\\" + name).c_str());
    std::vector<std::string> before = Snapshot(m_user.Path());

    ComPtr<IEseStore> store;
    ASSERT_EQ(S_OK, Open(m_instance.Get(), db, logs, &store)) << TakeDescription();
    ASSERT_NE(nullptr, store.Get());
    _SEseStoreInfo info = {};
    EXPECT_EQ(S_OK, store->GetStoreInfo(&info));
    EXPECT_EQ(0u, ReplayFolders(m_work.Path())); // nothing to replay, nothing copied
    store.Reset();
    EXPECT_EQ(before, Snapshot(m_user.Path()));
}

TEST_F(CEseInstanceTest, ReplaysIntoACopyAndLeavesTheUsersFilesAlone)
{
    std::string logs = m_user.Folder("logs");
    std::string db = m_user.File("priv1.edb");
    MakeDatabase(db, logs, true);
    std::vector<std::string> before = Snapshot(m_user.Path()), logsBefore = Snapshot(logs);

    ComPtr<IEseStore> store;
    ASSERT_EQ(S_OK, Open(m_instance.Get(), db, logs, &store)) << TakeDescription();
    EXPECT_EQ(1u, ReplayFolders(m_work.Path()));
    EXPECT_EQ(before, Snapshot(m_user.Path()));
    EXPECT_EQ(logsBefore, Snapshot(logs));

    // The same path again, from this and from another instance: one context.
    ComPtr<IEseStore> again, fromOther;
    ASSERT_EQ(S_OK, Open(m_instance.Get(), db, logs, &again));
    ComPtr<IEseInstance> other = NewInstance();
    ASSERT_EQ(S_OK, Open(other.Get(), db, logs, &fromOther));
    EXPECT_EQ(1u, ReplayFolders(m_work.Path()));

    // A path that differs only in case is another context, replayed anew.
    std::string upper = db;
    upper.replace(upper.size() - 9, 9, "PRIV1.EDB");
    ComPtr<IEseStore> byOtherCase;
    ASSERT_EQ(S_OK, Open(m_instance.Get(), upper, logs, &byOtherCase)) << TakeDescription();
    EXPECT_EQ(2u, ReplayFolders(m_work.Path()));

    // The working copies go once their stores and instances are released.
    store.Reset();
    again.Reset();
    fromOther.Reset();
    byOtherCase.Reset();
    other.Reset();
    m_instance.Reset();
    EXPECT_EQ(0u, ReplayFolders(m_work.Path()));
    EXPECT_EQ(before, Snapshot(m_user.Path()));
}

TEST_F(CEseInstanceTest, AMessageThatExistsOnlyInTheLogsIsServed)
{
    std::string logs = m_user.Folder("logs");
    std::string db = m_user.File("priv1.edb");
    exchangefixture::CExchangeDatabase exchange;
    exchangefixture::SMailbox mailbox = exchange.AddMailbox(L"Alice");
    exchangefixture::SMessage stored;
    stored.subject = L"In the database";
    exchange.AddMessage(mailbox.topId, stored);
    exchange.Write(db);
    {
        // A later message, committed but written only to the transaction logs.
        CEseWriter later(logs, "E00");
        later.AttachDatabase(db);
        later.Insert(exchangefixture::CExchangeDatabase::MessageTable(mailbox.topId),
                     {{"Q674A", {esefixture::I64(0x7777)}},
                      {"Q6748", {esefixture::I64(mailbox.topId)}},
                      {"S0037", {esefixture::Utf16(L"Only in the logs")}}});
        later.TermDirty();
    }
    std::vector<std::string> before = Snapshot(m_user.Path()), logsBefore = Snapshot(logs);

    ComPtr<IEseStore> store;
    ASSERT_EQ(S_OK, Open(m_instance.Get(), db, logs, &store)) << TakeDescription();
    ComPtr<IEseFolder> root;
    ASSERT_EQ(S_OK, store->GetFolder(mailbox.rootId, mailbox.rootId, &root));
    ComPtr<IEseTable> messages;
    ASSERT_EQ(S_OK, root->GetMessagesTable(&messages));
    ULONG columns[] = {0x0037001F};
    ASSERT_EQ(S_OK, messages->SetColumns(1, columns));
    ULONG count = 0;
    _SEseRow* rows = nullptr;
    ASSERT_EQ(S_OK, messages->GetRows(0x7FFFFFFF, 1, &count, &rows));
    std::vector<std::wstring> subjects;
    for (ULONG i = 0; i < count; ++i) {
        const _SEsePropertyValue& value = rows[i].m_p_values[0];
        if (value.m_type == ESE_PT_STRING16 && value.m_value.m_p_ws)
            subjects.push_back(value.m_value.m_p_ws);
    }
    FreeEseRows(rows, count);
    std::sort(subjects.begin(), subjects.end()); // rows come in message-id order
    EXPECT_EQ((std::vector<std::wstring>{L"In the database", L"Only in the logs"}), subjects);
    EXPECT_EQ(before, Snapshot(m_user.Path()));
    EXPECT_EQ(logsBefore, Snapshot(logs));
}

TEST_F(CEseInstanceTest, AForeignLogFileIsReportedAndNothingIsOpened)
{
    std::string logs = m_user.Folder("logs");
    std::string db = m_user.File("priv1.edb");
    MakeDatabase(db, logs, true);
    esefixture::WriteFileBytes(logs + "\\E01.log", "other database");
    std::vector<std::string> before = Snapshot(m_user.Path()), logsBefore = Snapshot(logs);

    ComPtr<IEseStore> store;
    EXPECT_EQ(E_FAIL, Open(m_instance.Get(), db, logs, &store));
    EXPECT_EQ(nullptr, store.Get());
    std::wstring description = TakeDescription();
    EXPECT_EQ(0u, description.rfind(L"7 0 0 message=Foreign log file \"", 0)) << description;
    EXPECT_NE(std::wstring::npos, description.find(L"Expected base name is \"E00\".")) << description;
    EXPECT_EQ(0u, ReplayFolders(m_work.Path()));
    EXPECT_EQ(before, Snapshot(m_user.Path()));
    EXPECT_EQ(logsBefore, Snapshot(logs));
}

TEST_F(CEseInstanceTest, AFailureAfterTheCopyWasMadeLeavesNoCopyBehind)
{
    // A log set the engine cannot replay: its generations are damaged.
    std::string brokenLogs = m_user.Folder("broken-logs");
    std::string db = m_user.File("priv1.edb");
    MakeDatabase(db, brokenLogs, true);
    for (const std::string& name : esefixture::ListFiles(brokenLogs)) {
        if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".log") == 0)
            esefixture::WriteFileBytes(brokenLogs + "\\" + name, "not a log file");
    }
    // A log set that replays (into another database, which is not there), in
    // front of a file the engine cannot open: the context fails on the copy.
    std::string otherLogs = m_user.Folder("other-logs");
    MakeDatabase(m_user.Folder("other") + "\\other.edb", otherLogs, true);
    std::string text = m_user.File("text.edb");
    esefixture::WriteFileBytes(text, "this is not a database\r\n");
    std::vector<std::string> before = Snapshot(m_user.Path());

    struct Case {
        const char* what;
        std::string db, logs;
    } cases[] = {
        {"the replay fails", db, brokenLogs},
        {"the replayed copy does not open", text, otherLogs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IEseStore> store;
        EXPECT_EQ(E_FAIL, Open(m_instance.Get(), c.db, c.logs, &store));
        EXPECT_EQ(nullptr, store.Get());
        std::wstring description = TakeDescription();
        EXPECT_EQ(0u, description.rfind(L"0 3 fffff", 0)) << description;
        EXPECT_EQ(0u, ReplayFolders(m_work.Path()));
    }
    EXPECT_EQ(before, Snapshot(m_user.Path()));
}

TEST_F(CEseInstanceTest, BadDatabasesFailWithTheEnginesErrorAndStayUntouched)
{
    std::string good = m_user.File("good.edb");
    MakeDatabase(good, "", false);
    std::string whole = esefixture::ReadFileBytes(good);
    esefixture::WriteFileBytes(m_user.File("truncated.edb"), whole.substr(0, whole.size() / 3));
    esefixture::WriteFileBytes(m_user.File("text.edb"), "this is not a database\r\n");
    esefixture::WriteFileBytes(m_user.File("empty.edb"), "");
    std::string emptyLogs = m_user.Folder("empty-logs");
    std::vector<std::string> before = Snapshot(m_user.Path());

    struct Case {
        const char* file;
        std::string logs;
        bool opens;
    } cases[] = {
        {"missing.edb", emptyLogs, false},
        {"text.edb", emptyLogs, false},
        {"empty.edb", emptyLogs, false},
        {"truncated.edb", emptyLogs, false},
        {"good.edb", emptyLogs, true},                          // an empty log folder: nothing to replay
        {"good.edb", m_user.File("no-such-folder"), true},      // a missing one: the same
    };
    for (const Case& c : cases) {
        ComPtr<IEseStore> store;
        HRESULT hr = Open(m_instance.Get(), m_user.File(c.file), c.logs, &store);
        if (c.opens) {
            EXPECT_EQ(S_OK, hr) << c.file << " " << c.logs;
            continue;
        }
        EXPECT_EQ(E_FAIL, hr) << c.file;
        EXPECT_EQ(nullptr, store.Get()) << c.file;
        std::wstring description = TakeDescription();
        // Code 0, source 3 (the engine), its negative error, the wrapper's text.
        EXPECT_EQ(0u, description.rfind(L"0 3 fffff", 0)) << c.file << ": " << description;
        EXPECT_NE(std::wstring::npos, description.find(L"message=ESE API function=Jet")) << description;
    }
    EXPECT_EQ(before, Snapshot(m_user.Path()));
}

TEST_F(CEseInstanceTest, AnotherInitStartsAFreshEngineInstanceAndLetsTheFirstOneGo)
{
    std::string logs = m_user.Folder("logs");
    std::string db = m_user.File("priv1.edb");
    MakeDatabase(db, logs, true);
    ComPtr<IEseStore> store;
    ASSERT_EQ(S_OK, Open(m_instance.Get(), db, logs, &store)) << TakeDescription();
    store.Reset();

    // Init again, then once with a log folder the engine refuses, then again.
    std::wstring work = Wide(m_work.Path()) + L"\\";
    std::wstring missing = Wide(m_work.Path()) + L"\\no such folder\\";
    EXPECT_EQ(S_OK, m_instance->Init(4096, &work[0], &work[0]));
    EXPECT_EQ(E_FAIL, m_instance->Init(4096, &missing[0], &work[0]));
    ASSERT_EQ(S_OK, m_instance->Init(4096, &work[0], &work[0])) << TakeDescription();
    ASSERT_EQ(S_OK, Open(m_instance.Get(), db, logs, &store)) << TakeDescription();
    store.Reset();

    // Every engine instance it made has ended: nothing holds a copy.
    m_instance.Reset();
    EXPECT_EQ(0u, ReplayFolders(m_work.Path()));
}

TEST_F(CEseInstanceTest, PlayLogFilesOnlyAnswers)
{
    _SEseRstMap map = {const_cast<LPWSTR>(L"a.edb"), const_cast<LPWSTR>(L"b.edb")};
    EXPECT_EQ(static_cast<HRESULT>(0xFFFFFC17), m_instance->PlayLogFiles(nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<HRESULT>(0xFFFFFC17), m_instance->PlayLogFiles(const_cast<LPWSTR>(L"C:\\logs"), 1, &map));
}

} // namespace
