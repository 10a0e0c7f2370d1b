// A message's plain-text body too large for a row, as the provider serves
// it over a server message of the test's: GetProps hands an ANSI body out
// as text and a Unicode one as a stream, and a body that cannot be read
// costs that one value, never the message's other properties; OpenProperty
// streams a Unicode body as it is and converts an ANSI one piece by piece.
#include "ProviderPlatform.h"
#include "CMessage.h"
#include "MapiPtr.h"
#include "MessageBodies.h"
#include "ServerInterfaces.h"
#include "testing/FakeEseServer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace providertest;

namespace {

constexpr ULONG kPrSubjectW = 0x0037001F;

std::vector<BYTE> Utf16Bytes(const std::wstring& text)
{
    const BYTE* b = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(b, b + text.size() * sizeof(wchar_t));
}

// Text of many lines, longer than the part of a body that is tested.
std::wstring LongText(size_t lines, const std::wstring& line)
{
    std::wstring text;
    for (size_t i = 0; i < lines; ++i)
        text += line + std::to_wstring(i) + L"\r\n";
    return text;
}

std::vector<BYTE> Ansi(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::vector<BYTE> bytes(static_cast<size_t>(size));
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), reinterpret_cast<char*>(bytes.data()),
                        size, nullptr, nullptr);
    return bytes;
}

std::wstring ReadAllText(IStream* stream)
{
    std::vector<BYTE> bytes;
    EXPECT_EQ(S_OK, ReadStreamBytes(stream, 0, bytes));
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

class MessageBodyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        server = new CFakeEseMessage();
        server->values.push_back(FakeText(kPrSubjectW, L"Quarterly figures"));
    }
    void TearDown() override
    {
        message.Reset();
        if (server)
            server->Release();
        CoUninitialize();
    }

    void Open()
    {
        CServerCookie cookie = CServerCookie::Register(static_cast<IEseMessage*>(server), IID_IEseMessage);
        MAPIUID uid = {};
        CoCreateGuid(reinterpret_cast<GUID*>(&uid));
        CEntryId own(kEntryMessage, uid);
        own.fid = 5;
        own.mid = 9;
        CEntryId parent(kEntryFolder, uid);
        parent.fid = 5;
        CMessage* made = nullptr;
        ASSERT_EQ(S_OK, CMessage::Create(std::move(cookie), own, parent, CEntryId(kEntryMessageStore, uid), &made));
        // The test's own reference takes over the one Create handed out.
        *message.ReleaseAndGetAddressOf() = static_cast<IMessage*>(made);
    }

    // A body the server keeps as a stream only (too large for a row).
    void StoreLargeBody(const std::vector<BYTE>& bytes)
    {
        server->values.push_back(FakeTooLarge(kPrBodyW));
        server->streams.push_back({kPrBodyW, bytes});
    }

    CFakeEseMessage* server = nullptr;
    ComPtr<IMessage> message;
};

TEST_F(MessageBodyTest, ALargeBodyCostsAtMostItsOwnValue)
{
    const std::wstring ansiText = LongText(4000, L"Caf\u00e9 line ");
    const std::wstring unicodeText = LongText(4000, L"\u65e5\u672c line ");
    struct Case {
        const char* what;
        bool hasStream;
        std::vector<BYTE> bytes;
        bool asText;
    };
    const Case cases[] = {
        {"an ANSI body is converted and handed out as text", true, Ansi(ansiText), true},
        {"a Unicode body is left to its stream", true, Utf16Bytes(unicodeText), false},
        {"a body that cannot be read is left to its stream", false, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        if (c.hasStream) {
            StoreLargeBody(c.bytes);
        } else {
            server->values.push_back(FakeTooLarge(kPrBodyW));
        }
        Open();
        SizedSPropTagArray(2, tags) = {2, {kPrSubjectW, kPrBodyW}};
        ULONG count = 0;
        LPSPropValue raw = nullptr;
        const HRESULT hr = message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &raw);
        MapiPtr<SPropValue> values(raw);
        ASSERT_EQ(c.asText ? S_OK : MAPI_W_ERRORS_RETURNED, hr);
        ASSERT_EQ(2u, count);
        EXPECT_EQ(kPrSubjectW, values.get()[0].ulPropTag);
        EXPECT_STREQ(L"Quarterly figures", values.get()[0].Value.lpszW);
        if (c.asText) {
            ASSERT_EQ(kPrBodyW, values.get()[1].ulPropTag);
            EXPECT_EQ(ansiText, values.get()[1].Value.lpszW);
        } else {
            EXPECT_EQ(CHANGE_PROP_TYPE(kPrBodyW, PT_ERROR), values.get()[1].ulPropTag);
            EXPECT_EQ(E_OUTOFMEMORY, values.get()[1].Value.err);
        }
        EXPECT_EQ(0, server->wholeValueCalls) << "the body is read as a stream";
    }
}

// The body's stream as a client reads it: UTF-16 whether the server kept
// it so or in the ANSI code page, whatever the size and wherever the
// pieces of the conversion end; zero bytes after an ANSI text are padding.
TEST_F(MessageBodyTest, TheBodyStreamIsUtf16Text)
{
    const std::wstring ansiText = LongText(9000, L"R\u00e9sum\u00e9 ");
    const std::wstring unicodeText = LongText(9000, L"\u041f\u0440\u0438\u0432\u0435\u0442 ");
    std::vector<BYTE> padded = Ansi(L"short body");
    padded.insert(padded.end(), {0, 0});
    struct Case {
        const char* what;
        std::vector<BYTE> stored;
        std::wstring expected;
    };
    const Case cases[] = {
        {"a large ANSI body", Ansi(ansiText), ansiText},
        {"a large Unicode body", Utf16Bytes(unicodeText), unicodeText},
        {"an ANSI body with padding", padded, L"short body"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        StoreLargeBody(c.stored);
        Open();
        ComPtr<IUnknown> opened;
        ASSERT_EQ(S_OK, message->OpenProperty(kPrBodyW, &IID_IStream, 0, 0, opened.GetAddressOf()));
        ComPtr<IStream> stream;
        ASSERT_EQ(S_OK, opened.As(&stream));
        const std::wstring text = ReadAllText(stream.Get());
        EXPECT_EQ(c.expected.size(), text.size());
        EXPECT_TRUE(c.expected == text);
    }
}

} // namespace
