#include "Platform.h"
#include "objects/CEseTable.h"
#include "objects/CEseStream.h"
#include "CException.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace exchangefixture;
using NJbFramework::CObjectRegistry;
using NJbFramework::CSharedRef;

namespace {

using Engine = CSharedRef<CEseTableImpl>;

constexpr ULONG kBody = 0x1000001F;
constexpr ULONG kHuge = 0x7F400102;  // 2.5 MB binary
constexpr ULONG kShort = 0x7F410102; // a short binary column

struct SStreams {
    CExchangeDatabase database;
    int64_t folder = 0, message = 0;
    std::string body;  // the stored bytes of 0x1000
    std::string huge;
    std::unique_ptr<CFixtureStore> store;

    SStreams()
    {
        // A short binary column: the engine reads such values only whole.
        database.AddColumn("Msg", esefixture::ColumnSpec{"F7F41", JET_coltypBinary, 0, 255});
        SMailbox box = database.AddMailbox(L"S");
        folder = database.AddFolder(box.topId, L"F");
        SMessage message;
        message.subject = L"Streams";
        for (int i = 0; i < 1500; ++i)
            message.body += static_cast<wchar_t>(L'A' + i % 26);
        body = esefixture::Utf16(message.body);
        huge.resize(2500000);
        for (size_t i = 0; i < huge.size(); ++i)
            huge[i] = static_cast<char>(i * 7 + i / 4096);
        message.msgRow = {Binary("V7F40", huge), Binary("F7F41", "0123456789ABCDEF")};
        this->message = database.AddMessage(folder, message);
        store.reset(new CFixtureStore(database));
    }

    // The message's row joined with Msg, positioned.
    Engine Row() const
    {
        Engine row(new CEseTableImpl(0x674A, store->Context(), CExchangeDatabase::MessageTable(folder).c_str(),
                                     kKindFolderMessages));
        row->AddLinkedTable(0x67B0, Engine(new CEseTableImpl(0x67B0, store->Context(), "Msg", kKindMsg)));
        int64_t key = message;
        row->SetKeyValues(1, &key, true);
        row->Move(true);
        return row;
    }
};

SStreams& Streams()
{
    static SStreams* streams = new SStreams();
    return *streams;
}

ComPtr<IStream> OpenStream(const Engine& engine, ULONG tag)
{
    ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, CEseStream::Create(tag, engine, stream.GetAddressOf()));
    return stream;
}

std::string ReadAll(IStream* stream, ULONG chunk)
{
    std::string all;
    std::vector<char> buffer(chunk);
    for (;;) {
        ULONG read = 0xDEAD;
        HRESULT hr = stream->Read(buffer.data(), chunk, &read);
        if (hr == S_FALSE) {
            EXPECT_EQ(0u, read);
            break;
        }
        EXPECT_EQ(S_OK, hr);
        if (hr != S_OK || read == 0)
            break;
        all.append(buffer.data(), read);
    }
    return all;
}

LARGE_INTEGER Move(LONGLONG value)
{
    LARGE_INTEGER move;
    move.QuadPart = value;
    return move;
}

std::wstring Description()
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.GetAddressOf()) != S_OK || !info)
        return L"";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    return description;
}

TEST(EseTable, ForwardsToItsEngineAndReportsItsFailures)
{
    SStreams& s = Streams();
    Engine engine = s.Row();
    long before = CObjectRegistry::Get().Count(engine.Get());
    ComPtr<IEseTable> table;
    ASSERT_EQ(S_OK, CEseTable::Create(engine, table.GetAddressOf()));
    EXPECT_EQ(before + 1, CObjectRegistry::Get().Count(engine.Get())) << "the table holds its engine";

    ULONG tags[] = {0x0037001F, 0x674A0014, 0x7EEE0003};
    ASSERT_EQ(S_OK, table->SetColumns(3, tags));
    ULONG count = 0;
    ULONG* columns = nullptr;
    ASSERT_EQ(S_OK, table->GetColumns(0, &count, &columns));
    ASSERT_EQ(3u, count);
    EXPECT_EQ(0x7EEE000Au, columns[2]);
    CoTaskMemFree(columns);

    for (signed char noAdvance : {1, 1}) {
        ULONG rowCount = 0;
        _SEseRow* rows = nullptr;
        ASSERT_EQ(S_OK, table->GetRows(0x7FFFFFFF, noAdvance, &rowCount, &rows));
        ASSERT_EQ(1u, rowCount) << "noAdvance reads from the first row again";
        ASSERT_EQ(3u, rows[0].m_valueCount);
        EXPECT_STREQ(L"Streams", rows[0].m_p_values[0].m_value.m_p_ws);
        EXPECT_EQ(s.message, rows[0].m_p_values[1].m_value.m_i64);
        FreeEseRows(rows, rowCount);
    }
    ULONG rowCount = 7;
    _SEseRow* rows = nullptr;
    ASSERT_EQ(S_OK, table->GetRows(10, 0, &rowCount, &rows));
    EXPECT_EQ(0u, rowCount) << "after the last row";

    SetErrorInfo(0, nullptr);
    EXPECT_EQ(E_FAIL, table->SetColumns(2, nullptr));
    EXPECT_EQ(L"3 0 0 message=parameter tagCount != 0, but pTags is null", Description());

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, table.As(&support));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IEseTable));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IEseProperty));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IEseStore));
    ComPtr<IStream> notAStream;
    EXPECT_EQ(E_NOINTERFACE, table.As(&notAStream));

    support.Reset();
    table.Reset();
    EXPECT_EQ(before, CObjectRegistry::Get().Count(engine.Get()));
}

TEST(EseStream, ReadsTheValueInPiecesAndStopsAtItsEnd)
{
    SStreams& s = Streams();
    Engine engine = s.Row();
    ComPtr<IStream> stream = OpenStream(engine, kBody);
    ASSERT_TRUE(stream);
    for (ULONG chunk : {1000ul, 3000ul, 4096ul}) {
        SCOPED_TRACE(chunk);
        ASSERT_EQ(S_OK, stream->Seek(Move(0), STREAM_SEEK_SET, nullptr));
        EXPECT_EQ(s.body, ReadAll(stream.Get(), chunk));
    }
    // Stream creation selected the one column on the engine.
    ULONG count = 0;
    ULONG* tags = nullptr;
    engine->GetColumns(false, &count, &tags);
    ASSERT_EQ(1u, count);
    EXPECT_EQ(kBody, tags[0]);
    CoTaskMemFree(tags);

    // A short (not long-value) column read from an offset.
    ComPtr<IStream> fixed = OpenStream(engine, kShort);
    ASSERT_EQ(S_OK, fixed->Seek(Move(10), STREAM_SEEK_SET, nullptr));
    EXPECT_EQ("ABCDEF", ReadAll(fixed.Get(), 4));

    STATSTG stat;
    memset(&stat, 0xCC, sizeof(stat));
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_DEFAULT));
    EXPECT_EQ(s.body.size(), stat.cbSize.QuadPart);
    EXPECT_EQ(nullptr, stat.pwcsName);
    EXPECT_EQ(0u, stat.type);
    EXPECT_EQ(0u, stat.grfMode);

    // The stream keeps the engine alive.
    ComPtr<IStream> kept = OpenStream(s.Row(), kHuge);
    ASSERT_EQ(S_OK, kept->Seek(Move(1000), STREAM_SEEK_SET, nullptr));
    char piece[8];
    ULONG read = 0;
    ASSERT_EQ(S_OK, kept->Read(piece, sizeof(piece), &read));
    EXPECT_EQ(s.huge.substr(1000, 8), std::string(piece, read));
}

TEST(EseStream, SeekKeepsThePositionInsideTheValue)
{
    SStreams& s = Streams();
    ComPtr<IStream> stream = OpenStream(s.Row(), kBody);
    const ULONGLONG size = s.body.size();
    struct Case {
        const char* what;
        LONGLONG move;
        DWORD origin;
        HRESULT hr;
        ULONGLONG position; // after the call
    } cases[] = {
        {"from the start", 100, STREAM_SEEK_SET, S_OK, 100},
        {"current counts from the start", 10, STREAM_SEEK_CUR, S_OK, 10},
        {"the last byte", static_cast<LONGLONG>(size - 1), STREAM_SEEK_SET, S_OK, size - 1},
        {"exactly the size fails", static_cast<LONGLONG>(size), STREAM_SEEK_SET, STG_E_INVALIDFUNCTION, size - 1},
        {"from the end: the last byte", 0, STREAM_SEEK_END, S_OK, size - 1},
        {"from the end: the first byte", static_cast<LONGLONG>(size - 1), STREAM_SEEK_END, S_OK, 0},
        {"from the end beyond the start", static_cast<LONGLONG>(size), STREAM_SEEK_END, STG_E_INVALIDFUNCTION, 0},
        {"a move above 4 GiB", 0x100000000LL, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION, 0},
        {"an unknown origin goes to the start", 50, 7, S_OK, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ULARGE_INTEGER reported;
        reported.QuadPart = 0xDEADBEEF;
        EXPECT_EQ(c.hr, stream->Seek(Move(c.move), c.origin, &reported));
        if (c.hr == S_OK)
            EXPECT_EQ(c.position, reported.QuadPart);
    }
    // SetSize only moves the position.
    ULARGE_INTEGER newSize;
    newSize.QuadPart = 5;
    EXPECT_EQ(S_OK, stream->SetSize(newSize));
    char byte[2];
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream->Read(byte, 2, &read));
    EXPECT_EQ(s.body.substr(5, 2), std::string(byte, read));
    newSize.QuadPart = size;
    EXPECT_EQ(STG_E_INVALIDFUNCTION, stream->SetSize(newSize));
    // Reading at the end.
    ASSERT_EQ(S_OK, stream->Seek(Move(static_cast<LONGLONG>(size - 1)), STREAM_SEEK_SET, nullptr));
    ASSERT_EQ(S_OK, stream->Read(byte, 2, &read));
    EXPECT_EQ(1u, read);
    read = 9;
    EXPECT_EQ(S_FALSE, stream->Read(byte, 2, &read));
    EXPECT_EQ(0u, read);
}

TEST(EseStream, WritesChangeOnlyTheStreamsCopy)
{
    SStreams& s = Streams();
    Engine engine = s.Row();
    ComPtr<IStream> stream = OpenStream(engine, kBody);
    ASSERT_EQ(S_OK, stream->Seek(Move(4), STREAM_SEEK_SET, nullptr));
    ULONG written = 0;
    ASSERT_EQ(S_OK, stream->Write("wxyz", 4, &written));
    EXPECT_EQ(4u, written);
    ASSERT_EQ(S_OK, stream->Seek(Move(0), STREAM_SEEK_SET, nullptr));
    std::string expected = s.body;
    expected.replace(4, 4, "wxyz");
    EXPECT_EQ(expected, ReadAll(stream.Get(), 700));

    // A write across the end: the stream still ends at the stored size.
    ASSERT_EQ(S_OK, stream->Seek(Move(static_cast<LONGLONG>(s.body.size() - 2)), STREAM_SEEK_SET, nullptr));
    ASSERT_EQ(S_OK, stream->Write("1234", 4, &written));
    ASSERT_EQ(S_OK, stream->Seek(Move(0), STREAM_SEEK_SET, nullptr));
    expected.replace(expected.size() - 2, 2, "12");
    EXPECT_EQ(expected, ReadAll(stream.Get(), 4096));
    STATSTG stat;
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(s.body.size(), stat.cbSize.QuadPart);

    // Every other reader sees the stored value.
    ComPtr<IStream> other = OpenStream(engine, kBody);
    EXPECT_EQ(s.body, ReadAll(other.Get(), 4096));
    ComPtr<IStream> fresh = OpenStream(s.Row(), kBody);
    EXPECT_EQ(s.body, ReadAll(fresh.Get(), 4096));
}

TEST(EseStream, CopiesTheValueInChunks)
{
    SStreams& s = Streams();
    struct Case {
        ULONGLONG cb;
        size_t expected;
    } cases[] = {
        {0xFFFFFFFFFFFFFFFFull, s.huge.size()},
        {1000, 1000},
        {0x100000 + 5, 0x100000 + 5},
        {0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cb);
        ComPtr<IStream> stream = OpenStream(s.Row(), kHuge);
        ComPtr<IStream> target;
        ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, target.GetAddressOf()));
        ULARGE_INTEGER cb, read, written;
        cb.QuadPart = c.cb;
        read.QuadPart = written.QuadPart = 0xDEAD;
        ASSERT_EQ(S_OK, stream->CopyTo(target.Get(), cb, &read, &written));
        EXPECT_EQ(c.expected, read.QuadPart);
        EXPECT_EQ(c.expected, written.QuadPart);
        HGLOBAL memory = nullptr;
        ASSERT_EQ(S_OK, GetHGlobalFromStream(target.Get(), &memory));
        STATSTG stat;
        ASSERT_EQ(S_OK, target->Stat(&stat, STATFLAG_NONAME));
        ASSERT_EQ(c.expected, stat.cbSize.QuadPart);
        const char* bytes = static_cast<const char*>(GlobalLock(memory));
        EXPECT_TRUE(c.expected == 0 || memcmp(bytes, s.huge.data(), c.expected) == 0);
        GlobalUnlock(memory);
    }
}

TEST(EseStream, AnswersTheUnsupportedMethodsAndRefusesMissingValues)
{
    SStreams& s = Streams();
    Engine engine = s.Row();
    ComPtr<IStream> stream = OpenStream(engine, kBody);
    ULARGE_INTEGER zero;
    zero.QuadPart = 0;
    ComPtr<IStream> clone;
    EXPECT_EQ(S_OK, stream->Commit(STGC_DEFAULT));
    EXPECT_EQ(E_NOTIMPL, stream->Revert());
    EXPECT_EQ(E_NOTIMPL, stream->LockRegion(zero, zero, LOCK_WRITE));
    EXPECT_EQ(E_NOTIMPL, stream->UnlockRegion(zero, zero, LOCK_WRITE));
    EXPECT_EQ(E_NOTIMPL, stream->Clone(clone.GetAddressOf()));
    ComPtr<ISequentialStream> sequential;
    EXPECT_EQ(S_OK, stream.As(&sequential));
    ComPtr<ISupportErrorInfo> support;
    EXPECT_EQ(E_NOINTERFACE, stream.As(&support));

    struct Case {
        const char* what;
        ULONG tag;
        const wchar_t* message;
    } cases[] = {
        {"a column no table has", 0x7EEE0102, L"cannot find column by tag=7eee0102"},
        {"a null column", 0x0042001F, L"cannot find column by tag=42001f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IStream* none = reinterpret_cast<IStream*>(1);
        try {
            CEseStream::Create(c.tag, engine, &none);
            ADD_FAILURE() << "no exception";
        } catch (const CException& error) {
            unsigned long code = 0;
            error.GetCodes(&code, nullptr, nullptr);
            EXPECT_EQ(2u, code);
            EXPECT_STREQ(c.message, error.GetMessage());
        }
        EXPECT_EQ(nullptr, none);
    }
    // An engine that stands on no row has no values to stream.
    Engine unpositioned(new CEseTableImpl(0x67B0, s.store->Context(), "Msg", kKindMsg));
    IStream* none = nullptr;
    EXPECT_THROW(CEseStream::Create(kHuge, unpositioned, &none), CException);
}

} // namespace
