// A message kept only as MIME text, made into an in-memory MAPI message by
// the MIME converter registered in the prefix (the stand-in here), reached
// through the product's own declaration of the converter.
#include "ProviderPlatform.h"
#include "ConverterSession.h"
#include "MimeMessage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class CComScope {
public:
    CComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~CComScope() { CoUninitialize(); }
};

ComPtr<IStream> StreamOf(const std::string& bytes)
{
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

// A stream whose reads fail, as a server stream does when its value is gone.
class CFailingStream : public IStream {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_count); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = InterlockedDecrement(&m_count);
        if (count == 0)
            delete this;
        return count;
    }
    STDMETHODIMP Read(void*, ULONG, ULONG* read) override
    {
        if (read)
            *read = 0;
        return STG_E_READFAULT;
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER* position) override
    {
        if (position)
            position->QuadPart = 0;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return STG_E_READFAULT;
    }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override
    {
        ZeroMemory(stat, sizeof(*stat));
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = 1000;
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

private:
    virtual ~CFailingStream() = default;
    LONG m_count = 1;
};

class MimeMessageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The prefix's session registers the converter; a test run by hand
        // in a fresh prefix registers it from the build folder.
        CComScope com;
        ComPtr<IConverterSession> converter;
        if (FAILED(CoCreateInstance(CLSID_IConverterSession, nullptr, CLSCTX_INPROC_SERVER, IID_IConverterSession,
                                    reinterpret_cast<void**>(converter.GetAddressOf())))) {
            HMODULE module = LoadLibraryW(L"mimeconv.dll");
            ASSERT_NE(nullptr, module);
            auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module, "DllRegisterServer"));
            ASSERT_NE(nullptr, registerServer);
            EXPECT_EQ(S_OK, registerServer());
            FreeLibrary(module);
        }
    }

    void SetUp() override
    {
        m_allocators.allocateBuffer = MAPIAllocateBuffer;
        m_allocators.allocateMore = MAPIAllocateMore;
        m_allocators.freeBuffer = MAPIFreeBuffer;
        m_allocators.malloc = MAPIGetDefaultMalloc();
    }
    void TearDown() override
    {
        if (m_allocators.malloc)
            m_allocators.malloc->Release();
    }

    CComScope m_com;
    SMessageAllocators m_allocators;
};

std::wstring TextProp(IMAPIProp* object, ULONG tag)
{
    LPSPropValue value = nullptr;
    std::wstring text = L"<none>";
    if (SUCCEEDED(HrGetOneProp(object, tag, &value)) && PROP_TYPE(value->ulPropTag) == PT_UNICODE)
        text = value->Value.lpszW;
    MAPIFreeBuffer(value);
    return text;
}

std::string StreamBytes(IMAPIProp* object, ULONG tag)
{
    LPUNKNOWN unknown = nullptr;
    std::string bytes;
    if (FAILED(object->OpenProperty(tag, &IID_IStream, 0, 0, &unknown)))
        return "<none>";
    ComPtr<IStream> stream;
    stream.Attach(static_cast<IStream*>(unknown));
    char chunk[4096];
    ULONG read = 0;
    while (SUCCEEDED(stream->Read(chunk, sizeof(chunk), &read)) && read > 0)
        bytes.append(chunk, read);
    return bytes;
}

const char kMixed[] =
    "From: Bruno Castell <bruno@example.com>\r\n"
    "To: Alice <alice@example.com>, carl@example.com\r\n"
    "Subject: =?utf-8?Q?Caf=C3=A9?= figures\r\n"
    "Date: Tue, 1 Jul 2003 10:45:00 +0200\r\n"
    "Message-ID: <mixed@example.com>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
    "\r\n"
    "--outer\r\n"
    "Content-Type: text/plain; charset=us-ascii\r\n"
    "\r\n"
    "See the attachment.\r\n"
    "--outer\r\n"
    "Content-Type: application/octet-stream; name=\"figures.bin\"\r\n"
    "Content-Disposition: attachment; filename=\"figures.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAECAwQF\r\n"
    "--outer--\r\n";

TEST_F(MimeMessageTest, MimeTextBecomesAMessageWithItsAttachments)
{
    ComPtr<IMessage> message;
    ASSERT_EQ(S_OK, MessageFromMime(StreamOf(kMixed).Get(), m_allocators, &message));
    ASSERT_TRUE(message);
    EXPECT_EQ(L"Caf\u00E9 figures", TextProp(message.Get(), PR_SUBJECT_W));
    EXPECT_EQ(L"Bruno Castell", TextProp(message.Get(), PR_SENT_REPRESENTING_NAME_W));
    const std::string body = StreamBytes(message.Get(), PR_BODY_W);
    // The line break before a boundary belongs to the boundary.
    EXPECT_EQ(L"See the attachment.",
              std::wstring(reinterpret_cast<const wchar_t*>(body.data()), body.size() / sizeof(wchar_t)));

    ComPtr<IMAPITable> recipients;
    ASSERT_EQ(S_OK, message->GetRecipientTable(MAPI_UNICODE, &recipients));
    ULONG count = 0;
    EXPECT_EQ(S_OK, recipients->GetRowCount(0, &count));
    EXPECT_EQ(2u, count);

    ComPtr<IMAPITable> attachments;
    ASSERT_EQ(S_OK, message->GetAttachmentTable(MAPI_UNICODE, &attachments));
    LPSRowSet rows = nullptr;
    SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
    ASSERT_EQ(S_OK, HrQueryAllRows(attachments.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr,
                                   0, &rows));
    ASSERT_EQ(1u, rows->cRows);
    const ULONG number = static_cast<ULONG>(rows->aRow[0].lpProps[0].Value.l);
    FreeProws(rows);
    ComPtr<IAttach> attach;
    ASSERT_EQ(S_OK, message->OpenAttach(number, nullptr, 0, &attach));
    EXPECT_EQ(L"figures.bin", TextProp(attach.Get(), PR_ATTACH_LONG_FILENAME_W));
    EXPECT_EQ(std::string("\x00\x01\x02\x03\x04\x05", 6), StreamBytes(attach.Get(), PR_ATTACH_DATA_BIN));
}

TEST_F(MimeMessageTest, AFailedConversionStillGivesTheMessage)
{
    ComPtr<IMessage> message;
    ComPtr<IStream> failing;
    failing.Attach(new CFailingStream());
    const HRESULT hr = MessageFromMime(failing.Get(), m_allocators, &message);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    ASSERT_TRUE(message) << "the empty message serves as the MIME message";
    EXPECT_EQ(L"<none>", TextProp(message.Get(), PR_SUBJECT_W));
}

TEST_F(MimeMessageTest, MissingArgumentsAreRefused)
{
    ComPtr<IMessage> message;
    SMessageAllocators none;
    EXPECT_EQ(E_INVALIDARG, MessageFromMime(StreamOf(kMixed).Get(), none, &message));
    EXPECT_FALSE(message);
    EXPECT_EQ(E_INVALIDARG, MessageFromMime(nullptr, m_allocators, &message));
    EXPECT_EQ(E_INVALIDARG, MessageFromMime(StreamOf(kMixed).Get(), m_allocators, nullptr));
}

} // namespace
