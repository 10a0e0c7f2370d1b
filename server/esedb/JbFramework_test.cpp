// The ESE wrappers against the stand-in engine.
#include "Platform.h"
#include "esedb/CColumnInfo.h"
#include "esedb/CColumnSet.h"
#include "esedb/CTable.h"

#include "EseFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace NJbFramework;
using esefixture::Bytes;
using esefixture::ColumnSpec;
using esefixture::I32;
using esefixture::I64;
using esefixture::IndexSpec;

// The import address slots of the close calls, through which this
// executable (the wrappers included) calls ese.dll; a spy takes their place
// to see the order of the calls.
// Their symbols: __imp__Name@N for stdcall on i686, __imp_Name on x64.
#ifdef _WIN64
#define VOSTREL_IMPORT_SLOT(name, bytes) "__imp_" #name
#else
#define VOSTREL_IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif
extern "C" {
extern JET_ERR(JET_API* g_impJetTerm)(JET_INSTANCE) __asm__(VOSTREL_IMPORT_SLOT(JetTerm, 4));
extern JET_ERR(JET_API* g_impJetEndSession)(JET_SESID, JET_GRBIT) __asm__(VOSTREL_IMPORT_SLOT(JetEndSession, 8));
extern JET_ERR(JET_API* g_impJetCloseDatabase)(JET_SESID, JET_DBID, JET_GRBIT)
    __asm__(VOSTREL_IMPORT_SLOT(JetCloseDatabase, 12));
extern JET_ERR(JET_API* g_impJetCloseTable)(JET_SESID, JET_TABLEID) __asm__(VOSTREL_IMPORT_SLOT(JetCloseTable, 8));
}

namespace {

std::vector<std::string>* g_calls = nullptr;
decltype(g_impJetTerm) g_realTerm;
decltype(g_impJetEndSession) g_realEndSession;
decltype(g_impJetCloseDatabase) g_realCloseDatabase;
decltype(g_impJetCloseTable) g_realCloseTable;

void Record(const char* call, JET_ERR err)
{
    if (g_calls)
        g_calls->push_back(std::string(call) + (err == JET_errSuccess ? "" : " failed " + std::to_string(err)));
}

JET_ERR JET_API SpyTerm(JET_INSTANCE instance)
{
    JET_ERR err = g_realTerm(instance);
    Record("JetTerm", err);
    return err;
}
JET_ERR JET_API SpyEndSession(JET_SESID session, JET_GRBIT grbit)
{
    JET_ERR err = g_realEndSession(session, grbit);
    Record("JetEndSession", err);
    return err;
}
JET_ERR JET_API SpyCloseDatabase(JET_SESID session, JET_DBID database, JET_GRBIT grbit)
{
    JET_ERR err = g_realCloseDatabase(session, database, grbit);
    Record("JetCloseDatabase", err);
    return err;
}
JET_ERR JET_API SpyCloseTable(JET_SESID session, JET_TABLEID table)
{
    JET_ERR err = g_realCloseTable(session, table);
    Record("JetCloseTable", err);
    return err;
}

template <typename F>
void Patch(F& slot, F value)
{
    DWORD old = 0;
    VirtualProtect(&slot, sizeof(slot), PAGE_READWRITE, &old);
    slot = value;
    VirtualProtect(&slot, sizeof(slot), old, &old);
}

// Records the close calls made while it lives.
class CCloseSpy {
public:
    CCloseSpy()
    {
        g_realTerm = g_impJetTerm;
        g_realEndSession = g_impJetEndSession;
        g_realCloseDatabase = g_impJetCloseDatabase;
        g_realCloseTable = g_impJetCloseTable;
        Patch(g_impJetTerm, &SpyTerm);
        Patch(g_impJetEndSession, &SpyEndSession);
        Patch(g_impJetCloseDatabase, &SpyCloseDatabase);
        Patch(g_impJetCloseTable, &SpyCloseTable);
        g_calls = &calls;
    }
    ~CCloseSpy()
    {
        g_calls = nullptr;
        Patch(g_impJetTerm, g_realTerm);
        Patch(g_impJetEndSession, g_realEndSession);
        Patch(g_impJetCloseDatabase, g_realCloseDatabase);
        Patch(g_impJetCloseTable, g_realCloseTable);
    }
    std::vector<std::string> calls;
};

// "Msg": Id (primary MsgIndex1), Parent (ParentIndex: Parent, Id), Body (long
// binary), Subject (text), Count (escrow). Rows: ids 1..4 with parents
// 10 10 30 30 and bodies of 50, 9000, 100 bytes and none.
class JbFramework : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = new esefixture::CTempFolder();
        esefixture::CEseWriter writer("");
        writer.CreateDatabase(DbPath());
        writer.CreateTable("Msg",
                           {ColumnSpec{"Id", JET_coltypCurrency}, ColumnSpec{"Parent", JET_coltypCurrency},
                            ColumnSpec{"Body", JET_coltypLongBinary}, ColumnSpec{"Subject", JET_coltypText, 0, 255},
                            ColumnSpec{"Count", JET_coltypLong, JET_bitColumnEscrowUpdate}},
                           {IndexSpec{"MsgIndex1", "+Id", JET_bitIndexPrimary}, IndexSpec{"ParentIndex", "+Parent;+Id"}});
        const int64_t parents[] = {10, 10, 30, 30};
        const size_t bodies[] = {50, 9000, 100, 0};
        for (int i = 0; i < 4; ++i) {
            std::vector<esefixture::ColumnValues> row = {{"Id", {I64(i + 1)}},
                                                         {"Parent", {I64(parents[i])}},
                                                         {"Subject", {"subject " + std::to_string(i + 1)}},
                                                         {"Count", {I32(100 + i)}}};
            if (bodies[i])
                row.push_back({"Body", {Bytes(bodies[i], static_cast<char>('a' + i))}});
            writer.Insert("Msg", row);
        }
        s_columns = {writer.Column("Msg", "Id"), writer.Column("Msg", "Body"), writer.Column("Msg", "Subject"),
                     writer.Column("Msg", "Count")};
        writer.Term();
    }
    static void TearDownTestSuite() { delete s_folder; }
    static std::string DbPath() { return s_folder->File("store.edb"); }

    struct Chain {
        CSharedRef<CInstance> instance;
        CSharedRef<CSession> session;
        CSharedRef<CDatabase> database;
        CSharedRef<CTable> table;
    };

    static Chain OpenChain()
    {
        Chain chain;
        chain.instance = MakeShared<CInstance>();
        chain.instance->Create();
        chain.instance->SetParameter(JET_paramRecovery, "Off");
        chain.instance->Init(0);
        chain.session = MakeShared<CSession>(chain.instance);
        chain.session->AttachDatabase(DbPath().c_str(), JET_bitDbReadOnly);
        chain.database = MakeShared<CDatabase>(chain.session, DbPath().c_str(), JET_bitDbReadOnly);
        chain.table = MakeShared<CTable>(chain.database, "Msg", JET_bitTableReadOnly);
        return chain;
    }

    void SetUp() override { m_chain = OpenChain(); }

    int64_t CurrentId()
    {
        int64_t id = 0;
        unsigned long actual = 0;
        EXPECT_EQ(JET_errSuccess, JetRetrieveColumn(m_chain.table->SessionHandle(), m_chain.table->Handle(),
                                                    s_columns.id, &id, sizeof(id), &actual, 0, nullptr));
        return id;
    }

    std::vector<int64_t> IdsUntilTheEnd()
    {
        std::vector<int64_t> ids;
        do {
            ids.push_back(CurrentId());
        } while (m_chain.table->Move(JET_MoveNext, 0));
        return ids;
    }

    struct Columns {
        JET_COLUMNID id, body, subject, count;
    };
    static esefixture::CTempFolder* s_folder;
    static Columns s_columns;
    Chain m_chain;
};

esefixture::CTempFolder* JbFramework::s_folder = nullptr;
JbFramework::Columns JbFramework::s_columns;

struct CProbe {
    explicit CProbe(int* destroyed) : m_destroyed(destroyed) {}
    ~CProbe() { ++*m_destroyed; }
    int* m_destroyed;
};

TEST(ObjectRegistry, CountsReferencesByAddress)
{
    CObjectRegistry& registry = CObjectRegistry::Get();
    int a = 0, b = 0;
    struct Step {
        bool add;
        const void* object;
        long result;
    } steps[] = {
        {true, nullptr, 0}, {false, nullptr, 0}, {false, &a, 0}, {true, &a, 1}, {true, &a, 2}, {true, &b, 1},
        {false, &a, 1},     {false, &a, 0},      {false, &a, 0}, {false, &b, 0},
    };
    for (const Step& step : steps) {
        long result = step.add ? registry.AddReference(step.object) : registry.ReleaseReference(step.object);
        EXPECT_EQ(step.result, result) << (step.add ? "add " : "release ") << step.object;
    }
    EXPECT_EQ(0, registry.Count(&a));
    EXPECT_EQ(0, registry.Count(nullptr));
}

TEST(SharedRef, TheLastHolderDestroysAndAssignmentDropsFirst)
{
    int destroyedFirst = 0, destroyedSecond = 0;
    CProbe* first = new CProbe(&destroyedFirst);
    CProbe* second = new CProbe(&destroyedSecond);
    CObjectRegistry& registry = CObjectRegistry::Get();
    {
        CSharedRef<CProbe> holder(first);
        EXPECT_EQ(1, registry.Count(first));
        {
            CSharedRef<CProbe> copy(holder);
            EXPECT_EQ(2, registry.Count(first));
            CSharedRef<CProbe> moved(std::move(copy));
            EXPECT_EQ(2, registry.Count(first));
        }
        EXPECT_EQ(1, registry.Count(first));
        EXPECT_EQ(0, destroyedFirst);
        CSharedRef<CProbe> other(second);
        holder = other;  // drops first (the last holder: destroyed), takes second
        EXPECT_EQ(1, destroyedFirst);
        EXPECT_EQ(0, registry.Count(first));
        EXPECT_EQ(2, registry.Count(second));
        holder.Reset(second);  // the same object: kept
        EXPECT_EQ(2, registry.Count(second));
        CSharedRef<CProbe> empty;
        empty.Reset(nullptr);
        EXPECT_FALSE(empty);
    }
    EXPECT_EQ(1, destroyedSecond);
    EXPECT_EQ(0, registry.Count(second));
}

TEST_F(JbFramework, MovingPastTheLastRowIsFalseNotAnException)
{
    ASSERT_TRUE(m_chain.table->Move(static_cast<long>(JET_MoveFirst), 0));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4}), IdsUntilTheEnd());
    EXPECT_FALSE(m_chain.table->Move(JET_MoveNext, 0));
    EXPECT_TRUE(m_chain.table->Move(JET_MovePrevious, 0));
    EXPECT_EQ(4, CurrentId());
    EXPECT_FALSE(m_chain.table->Move(-10, 0));
}

TEST_F(JbFramework, ExactSeek)
{
    struct Case {
        int64_t key;
        bool found;
    } cases[] = {{1, true}, {3, true}, {0, false}, {5, false}, {-1, false}};
    m_chain.table->SetIndex("MsgIndex1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(c.found, m_chain.table->SeekExact(&c.key, sizeof(c.key)));
        if (c.found) {
            EXPECT_EQ(c.key, CurrentId());
        }
    }
}

TEST_F(JbFramework, RangeSeekOverTheFirstKeyColumn)
{
    struct Case {
        int64_t parent;
        std::vector<int64_t> ids;  // empty: no range
    } cases[] = {{10, {1, 2}}, {30, {3, 4}}, {20, {}}, {5, {}}, {99, {}}};
    m_chain.table->SetIndex("ParentIndex");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parent);
        bool found = m_chain.table->SeekRange(&c.parent, sizeof(c.parent));
        EXPECT_EQ(!c.ids.empty(), found);
        if (found) {
            EXPECT_EQ(c.ids, IdsUntilTheEnd());
        }
    }
}

TEST_F(JbFramework, FailingCallsThrowWithTheirFunctionIndex)
{
    struct Case {
        const char* name;
        int function;
        long error;
    } cases[] = {
        {"set index", kJetSetCurrentIndex, JET_errIndexNotFound},
        {"open table", kJetOpenTable, JET_errObjectNotFound},
        {"set parameter", kJetSetSystemParameter, JET_errInvalidParameter},
        {"attach", kJetAttachDatabase, JET_errFileNotFound},
    };
    long databaseCount = CObjectRegistry::Get().Count(m_chain.database.Get());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            switch (c.function) {
            case kJetSetCurrentIndex:
                m_chain.table->SetIndex("NoSuchIndex");
                break;
            case kJetOpenTable:
                CSharedRef<CTable>(new CTable(m_chain.database, "NoSuchTable", 0));
                break;
            case kJetSetSystemParameter:
                m_chain.instance->SetParameter(9999, static_cast<JET_API_PTR>(1));
                break;
            case kJetAttachDatabase:
                m_chain.session->AttachDatabase((s_folder->Path() + "\\missing.edb").c_str(), JET_bitDbReadOnly);
                break;
            }
            ADD_FAILURE() << "no exception";
        } catch (CFailedJbApiCallException& error) {
            EXPECT_EQ(c.function, error.GetFunctionIndex());
            EXPECT_EQ(c.error, error.GetEseError());
        }
    }
    // The failed cursor dropped the references it took.
    EXPECT_EQ(databaseCount, CObjectRegistry::Get().Count(m_chain.database.Get()));
}

TEST_F(JbFramework, ColumnSetGrowsBuffersToTheValueSize)
{
    struct Case {
        unsigned long maximum;
        int64_t id;
        unsigned long bodyBuffer;
        JET_ERR bodyErr;
        unsigned long bodyActual;
    } cases[] = {
        {0, 1, 50, JET_errSuccess, 50},          {0, 2, 9000, JET_errSuccess, 9000},
        {0, 4, 9000, JET_wrnColumnNull, 0},  // a buffer never shrinks
        {8192, 1, 50, JET_errSuccess, 50},
        {8192, 2, 50, JET_wrnBufferTruncated, 9000},  // over the maximum: stays in its short buffer
        {8192, 3, 100, JET_errSuccess, 100},
    };
    std::unique_ptr<CColumnSet> set;
    unsigned long maximum = 1;
    SColumnDescriptor* body = nullptr;
    SColumnDescriptor* count = nullptr;
    SColumnDescriptor* subject = nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "maximum " << c.maximum << " id " << c.id);
        if (c.maximum != maximum) {
            maximum = c.maximum;
            set.reset(new CColumnSet(maximum));
            body = set->AddColumn(s_columns.body);
            count = set->AddColumn(s_columns.count);
            subject = set->AddColumn(s_columns.subject);
        }
        ASSERT_TRUE(m_chain.table->SeekExact(&c.id, sizeof(c.id)));
        set->Fetch(*m_chain.table, 1);
        EXPECT_EQ(c.bodyBuffer, body->record->cbData);
        EXPECT_EQ(c.bodyErr, body->record->err);
        EXPECT_EQ(c.bodyActual, body->record->cbActual);
        if (c.bodyErr >= 0 && c.bodyActual) {
            EXPECT_EQ(Bytes(std::min(c.bodyActual, c.bodyBuffer), static_cast<char>('a' + c.id - 1)),
                      Bytes(static_cast<const char*>(body->record->pvData), std::min(c.bodyActual, c.bodyBuffer)));
        }
        // The escrow counter first fails with -1047 in its empty buffer, then fits.
        EXPECT_EQ(4u, count->record->cbData);
        EXPECT_EQ(JET_errSuccess, count->record->err);
        EXPECT_EQ(99 + c.id, *static_cast<int32_t*>(count->record->pvData));
        std::string expected = "subject " + std::to_string(c.id);
        EXPECT_EQ(expected, Bytes(static_cast<const char*>(subject->record->pvData), subject->record->cbActual));
    }
}

TEST_F(JbFramework, ColumnSetRepointsDescriptorsWhenTheArrayGrows)
{
    CColumnSet set;
    std::vector<SColumnDescriptor*> descriptors;
    for (int i = 0; i < 40; ++i)
        descriptors.push_back(set.AddColumn(i % 2 ? s_columns.subject : s_columns.id));
    ASSERT_EQ(40u, set.Count());
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(&set.Records()[i], descriptors[i]->record);
        EXPECT_EQ(descriptors[i]->columnid, descriptors[i]->record->columnid);
    }
    ASSERT_TRUE(m_chain.table->Move(static_cast<long>(JET_MoveFirst), 0));
    set.Fetch(*m_chain.table, 1);
    EXPECT_EQ(1, *static_cast<int64_t*>(descriptors[0]->record->pvData));
    EXPECT_EQ(9u, descriptors[39]->record->cbData);
    // itagSequence 0 asks for the number of values.
    set.Fetch(*m_chain.table, 0);
    EXPECT_EQ(1u, descriptors[0]->record->itagSequence);
}

TEST_F(JbFramework, ColumnInfoListsColumnsInATemporaryTable)
{
    CColumnInfo info;
    CSharedRef<CTable> list = info.ListColumns(*m_chain.table);
    EXPECT_EQ(5u, info.List().cRecord);
    EXPECT_EQ(nullptr, list->Database().Get());
    EXPECT_EQ(m_chain.session.Get(), list->Session().Get());
    CColumnSet set;
    SColumnDescriptor* name = set.AddColumn(info.List().columnidcolumnname);
    SColumnDescriptor* id = set.AddColumn(info.List().columnidcolumnid);
    std::vector<std::string> names;
    for (bool ok = list->Move(static_cast<long>(JET_MoveFirst), 0); ok; ok = list->Move(JET_MoveNext, 0)) {
        set.Fetch(*list, 1);
        names.push_back(Bytes(static_cast<const char*>(name->record->pvData), name->record->cbActual));
        EXPECT_EQ(4u, id->record->cbActual);
    }
    EXPECT_EQ((std::vector<std::string>{"Body", "Count", "Id", "Parent", "Subject"}), names);
}

TEST_F(JbFramework, DestructionIsCursorDatabaseSessionInstanceInAnyDropOrder)
{
    m_chain = Chain();
    std::vector<int> order = {0, 1, 2, 3};
    const char* holderNames[] = {"table", "database", "session", "instance"};
    const std::vector<std::string> expected = {"JetCloseTable", "JetCloseDatabase", "JetEndSession", "JetTerm"};
    do {
        std::string orderText;
        for (int holder : order)
            orderText += std::string(holderNames[holder]) + " ";
        SCOPED_TRACE(orderText);
        Chain chain = OpenChain();
        CCloseSpy spy;
        for (int holder : order) {
            switch (holder) {
            case 0:
                chain.table.Reset();
                break;
            case 1:
                chain.database.Reset();
                break;
            case 2:
                chain.session.Reset();
                break;
            case 3:
                chain.instance.Reset();
                break;
            }
        }
        EXPECT_EQ(expected, spy.calls);
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST(JbInstance, UncreatedInstanceAndGlobalParameters)
{
    CCloseSpy spy;
    {
        CSharedRef<CInstance> instance = MakeShared<CInstance>();
        EXPECT_EQ(kNoHandle, instance->Handle());
        EXPECT_EQ(4096u, instance->GetParameter(JET_paramDatabasePageSize));
        instance->SetParameter(JET_paramDatabasePageSize, 4096);
    }
    EXPECT_TRUE(spy.calls.empty());
    // Every instance gets a fresh name: two at once do not collide.
    CInstance first, second;
    first.Create();
    second.Create();
    EXPECT_NE(first.Handle(), second.Handle());
}

} // namespace
