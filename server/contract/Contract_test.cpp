// Crosses the process boundary with every kind of value, record and failure
// the contract carries, against a test server built on the server's own
// error reporting.
#include "Platform.h"
#include "ContractSamples.h"
#include "ContractTestIds.h"
#include "EseValueMemory.h"
#include "Vostrel2007.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace contract_samples;

namespace {

struct ErrorObject {
    bool present = false;
    GUID guid = {};
    std::wstring source, description;
};

ErrorObject TakeErrorObject()
{
    ErrorObject error;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return error;
    error.present = true;
    BSTR text = nullptr;
    info->GetGUID(&error.guid);
    info->GetSource(&text);
    error.source = text ? text : L"";
    SysFreeString(text);
    text = nullptr;
    info->GetDescription(&text);
    error.description = text ? text : L"";
    SysFreeString(text);
    return error;
}

class ContractTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, RegisterTestServer(false));
    }
    static void TearDownTestSuite()
    {
        RegisterTestServer(true);
        CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ContractTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                         reinterpret_cast<void**>(m_instance.GetAddressOf())));
        ASSERT_EQ(S_OK, m_instance->OpenStore(const_cast<LPWSTR>(L"x.edb"), nullptr, &m_store));
        ASSERT_EQ(S_OK, m_store->GetFolder(1, 2, &m_folder));
        SetErrorInfo(0, nullptr);
    }

    ComPtr<IEseInstance> m_instance;
    ComPtr<IEseStore> m_store;
    ComPtr<IEseFolder> m_folder;
};

TEST_F(ContractTest, EveryValueTypeCrossesIntact)
{
    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
    ASSERT_EQ(S_OK, m_folder->GetProperties(0, nullptr, &count, &values));
    ULONG expectedCount = 0;
    _SEsePropertyValue* expected = BuildValues(&expectedCount);
    EXPECT_EQ("", CompareValues(expected, expectedCount, values, count));
    FreeEseValues(values, count);
    FreeEseValues(expected, expectedCount);

    // The requested tags reach the server as sent.
    ULONG tags[] = {0x3001001F, 0x0E1D001F, 0xFFFF0102};
    ASSERT_EQ(S_OK, m_folder->GetProperties(3, tags, &count, &values));
    ASSERT_EQ(3u, count);
    for (ULONG i = 0; i < 3; ++i)
        EXPECT_EQ(tags[i], values[i].m_tag);
    FreeEseValues(values, count);
}

TEST_F(ContractTest, RowsTagsAndRawBytesCross)
{
    ComPtr<IEseTable> table;
    ASSERT_EQ(S_OK, m_folder->GetMessagesTable(&table));
    ULONG columns[] = {0x67480014, 0x0037001F, 0x0E060040};
    ASSERT_EQ(S_OK, table->SetColumns(3, columns));
    ULONG tagCount = 0;
    ULONG* tags = nullptr;
    ASSERT_EQ(S_OK, table->GetColumns(1, &tagCount, &tags));
    ASSERT_EQ(3u, tagCount);
    EXPECT_EQ(0, std::memcmp(columns, tags, sizeof columns));
    CoTaskMemFree(tags);

    ULONG rowCount = 0;
    _SEseRow* rows = nullptr;
    ASSERT_EQ(S_OK, table->GetRows(0x7FFFFFFF, 1, &rowCount, &rows));
    ULONG expectedCount = 0;
    _SEseRow* expected = BuildRows(&expectedCount);
    ASSERT_EQ(expectedCount, rowCount);
    for (ULONG r = 0; r < rowCount; ++r)
        EXPECT_EQ("", CompareValues(expected[r].m_p_values, expected[r].m_valueCount, rows[r].m_p_values,
                                    rows[r].m_valueCount))
            << "row " << r;
    FreeEseRows(rows, rowCount);
    FreeEseRows(expected, expectedCount);

    ASSERT_EQ(S_OK, table->GetRows(0, 1, &rowCount, &rows)); // no rows: count 0, no array
    EXPECT_EQ(0u, rowCount);
    EXPECT_EQ(nullptr, rows);

    ASSERT_EQ(S_OK, m_folder->GetPropertyTags(&tagCount, &tags));
    EXPECT_EQ(4u, tagCount);
    CoTaskMemFree(tags);

    for (ULONG size : {0u, 1u, 60000u}) {
        ULONG byteCount = 99;
        BYTE* bytes = nullptr;
        ASSERT_EQ(S_OK, m_folder->GetProperty(size << 16 | 0x0102, &byteCount, &bytes));
        ASSERT_EQ(size, byteCount);
        bool same = true;
        for (ULONG i = 0; i < size; ++i)
            same = same && bytes[i] == LargeStreamByte(i);
        EXPECT_TRUE(same) << size;
        CoTaskMemFree(bytes);
    }
}

TEST_F(ContractTest, NamedIdsCrossBothWays)
{
    ULONG tags[] = {0x8000001F, 0x8001001F};
    ULONG* tagArray = tags;
    ULONG tagCount = 2;
    GUID set = {};
    ULONG nameCount = 0;
    _SEseNamedPropertyId* names = nullptr;
    ASSERT_EQ(S_OK, m_folder->GetPropNamesFromTags(&tagCount, &tagArray, &set, 0, &nameCount, &names));
    ULONG expectedCount = 0;
    _SEseNamedPropertyId* expected = BuildNamedIds(&expectedCount);
    ASSERT_EQ(expectedCount, nameCount);
    for (ULONG i = 0; i < nameCount; ++i)
        EXPECT_EQ("", CompareNamedId(expected[i], names[i])) << i;

    // Back again, with a null entry among them.
    std::vector<_SEseNamedPropertyId*> pointers;
    for (ULONG i = 0; i < expectedCount; ++i)
        pointers.push_back(&expected[i]);
    pointers.push_back(nullptr);
    ULONG* back = nullptr;
    ULONG backCount = 0;
    ASSERT_EQ(S_OK, m_folder->GetTagsFromPropNames(static_cast<ULONG>(pointers.size()), pointers.data(), &backCount,
                                                   &back));
    ASSERT_EQ(pointers.size(), backCount);
    for (ULONG i = 0; i < backCount; ++i)
        EXPECT_EQ(TagForNamedId(pointers[i]), back[i]) << i;
    CoTaskMemFree(back);

    ASSERT_EQ(S_OK, m_folder->GetTagsFromPropNames(0, nullptr, &backCount, &back));
    EXPECT_EQ(0u, backCount);
    FreeEseNameIds(names, nameCount);
    FreeEseNameIds(expected, expectedCount);
}

TEST_F(ContractTest, InstanceAndStoreRecordsCross)
{
    EXPECT_EQ(S_OK, m_instance->Init(4096, const_cast<LPWSTR>(L"C:\\logs"), nullptr));
    _SEseRstMap map[2] = {{const_cast<LPWSTR>(L"priv1.edb"), const_cast<LPWSTR>(L"D:\\restore\\priv1.edb")},
                          {nullptr, const_cast<LPWSTR>(L"")}};
    EXPECT_EQ(S_OK, m_instance->PlayLogFiles(const_cast<LPWSTR>(L""), 2, map));

    _SEseStoreInfo info = {}, expected = {};
    ASSERT_EQ(S_OK, m_store->GetStoreInfo(&info));
    FillStoreInfo(&expected);
    ASSERT_NE(nullptr, info.m_p_fileName);
    EXPECT_STREQ(expected.m_p_fileName, info.m_p_fileName);
    EXPECT_EQ(expected.m_fileSize, info.m_fileSize);
    EXPECT_EQ(expected.m_localeId, info.m_localeId);
    EXPECT_EQ(expected.m_pageSize, info.m_pageSize);
    EXPECT_EQ(expected.m_spaceAvailableInPages, info.m_spaceAvailableInPages);
    EXPECT_EQ(expected.m_spaceOwnedInPages, info.m_spaceOwnedInPages);
    EXPECT_EQ(expected.m_vesion, info.m_vesion);
    CoTaskMemFree(info.m_p_fileName);
    CoTaskMemFree(expected.m_p_fileName);

    struct Case {
        std::vector<hyper> ids;
        signed char brief;
    } cases[] = {{{}, 0}, {{0x0102030405060708ll, -1, 0}, 1}};
    for (const Case& c : cases) {
        ComPtr<IEseTable> table;
        ASSERT_EQ(S_OK, m_store->GetMailboxesTable(static_cast<ULONG>(c.ids.size()),
                                                   const_cast<hyper*>(c.ids.data()), c.brief, &table));
        ULONG rowCount = 0;
        _SEseRow* rows = nullptr;
        ASSERT_EQ(S_OK, table->GetRows(1, 1, &rowCount, &rows));
        ASSERT_EQ(1u, rowCount);
        ASSERT_EQ(c.ids.size() + 1, rows[0].m_valueCount);
        for (size_t i = 0; i < c.ids.size(); ++i)
            EXPECT_EQ(c.ids[i], rows[0].m_p_values[i].m_value.m_i64);
        EXPECT_EQ(c.brief, rows[0].m_p_values[c.ids.size()].m_value.m_b);
        FreeEseRows(rows, rowCount);
    }
}

TEST_F(ContractTest, StreamCrossesWithSeekAndStat)
{
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, m_folder->OpenProperty(0x1000001F, &stream));
    STATSTG stat = {};
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(kLargeStreamBytes, stat.cbSize.QuadPart);

    std::vector<BYTE> data;
    BYTE buffer[8192];
    for (;;) {
        ULONG read = 0;
        ASSERT_TRUE(SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)));
        if (read == 0)
            break;
        data.insert(data.end(), buffer, buffer + read);
    }
    ASSERT_EQ(kLargeStreamBytes, data.size());
    bool same = true;
    for (ULONG i = 0; i < kLargeStreamBytes; ++i)
        same = same && data[i] == LargeStreamByte(i);
    EXPECT_TRUE(same);

    LARGE_INTEGER to;
    to.QuadPart = 123456;
    ULARGE_INTEGER at = {};
    ASSERT_EQ(S_OK, stream->Seek(to, STREAM_SEEK_SET, &at));
    EXPECT_EQ(123456u, at.QuadPart);
    BYTE one = 0;
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream->Read(&one, 1, &read));
    EXPECT_EQ(LargeStreamByte(123456), one);
}

TEST_F(ContractTest, ObjectsAnswerForTheirInterfaces)
{
    ComPtr<IEseProperty> property;
    EXPECT_EQ(S_OK, m_folder.As(&property));
    ComPtr<IEseMailbox> mailbox;
    ASSERT_EQ(S_OK, m_store->GetMailbox(5, &mailbox));
    ComPtr<IEseMailbox> again;
    EXPECT_EQ(S_OK, mailbox.As(&again));
    ComPtr<IEseFolder> notAFolder;
    EXPECT_EQ(E_NOINTERFACE, mailbox.As(&notAFolder));

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, m_store.As(&support));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IEseStore));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IUnknown));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IEseFolder));
}

TEST_F(ContractTest, FailuresBringTheServersErrorObject)
{
    struct Case {
        long long fid;
        HRESULT hr;
        std::wstring description; // exact, or the start when `prefixOnly`
        bool prefixOnly;
    } cases[] = {
        {kFailObjectNotFound, static_cast<HRESULT>(0x80070002),
         L"1 3 fffffae7 message=ESE API function=JetOpenTable was failed with error code=-1305", false},
        {kFailOtherEseError, E_FAIL, L"0 3 fffffbf8 message=ESE API function=JetSeek was failed with error code=-1032",
         false},
        {kFailNoMessage, E_FAIL, L"0 0 0 message=(null)", false},
        {kFailCreate, E_OUTOFMEMORY, L"4 2 8007000e cannot create instance of the ese folder class", false},
        {kFailForeignLog, E_FAIL,
         L"7 0 0 message=Foreign log file \"E01.log\" is found at \"C:\\logs\". Expected base name is \"E00\".", false},
        {kFailHugeText, static_cast<HRESULT>(0x80070002), L"2 0 0 message=xxxx", true},
    };
    for (const Case& c : cases) {
        SetErrorInfo(0, nullptr);
        ComPtr<IEseFolder> folder;
        EXPECT_EQ(c.hr, m_store->GetFolder(c.fid, 0, &folder)) << c.fid;
        EXPECT_EQ(nullptr, folder.Get());
        ErrorObject error = TakeErrorObject();
        ASSERT_TRUE(error.present) << c.fid;
        EXPECT_TRUE(IsEqualGUID(IID_IEseStore, error.guid)) << c.fid;
        EXPECT_EQ(L"Morvane.Vostrel2007", error.source);
        if (c.prefixOnly)
            EXPECT_EQ(0u, error.description.rfind(c.description, 0)) << c.fid;
        else
            EXPECT_EQ(c.description, error.description) << c.fid;
    }
}

TEST_F(ContractTest, SuccessAndWarningsBringNoErrorObject)
{
    ComPtr<IEseFolder> folder;
    ASSERT_EQ(S_OK, m_store->GetFolder(kEseWarning, 0, &folder));
    EXPECT_FALSE(TakeErrorObject().present);

    // A failure's object does not linger into the next successful call.
    ComPtr<IEseFolder> failed;
    EXPECT_TRUE(FAILED(m_store->GetFolder(kFailObjectNotFound, 0, &failed)));
    EXPECT_TRUE(TakeErrorObject().present);
    ASSERT_EQ(S_OK, m_store->GetFolder(7, 0, &folder));
    EXPECT_FALSE(TakeErrorObject().present);

    // A direct report from a message method names the message interface.
    ComPtr<IEseMessage> message;
    ASSERT_EQ(S_OK, folder->GetMessage(1, &message));
    ComPtr<IEseMessage> attachment;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), message->GetAttachmentByNumber(3, 0, &attachment));
    ErrorObject error = TakeErrorObject();
    ASSERT_TRUE(error.present);
    EXPECT_TRUE(IsEqualGUID(IID_IEseMessage, error.guid));
    EXPECT_EQ(L"1 0 0 attachment number=3 is not found", error.description);
}

} // namespace
