// A message kept only as MIME text, made into an in-memory MAPI message by
// the MIME converter registered in the prefix (the stand-in here), reached
// through the product's own declaration of the converter.
#include "ProviderPlatform.h"
#include "ConverterSession.h"
#include "MimeMessage.h"
#include "testing/ConverterTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace providertest;

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
    static void SetUpTestSuite() { EnsureConverterRegistered(); }

    CComScope m_com;
    CTestAllocators m_memory;
    const SMessageAllocators& m_allocators = m_memory.Get();
};

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
    // The caller's is the only reference: whatever the conversion left holding
    // the message would keep it, its storage and its values for good.
    message->AddRef();
    EXPECT_EQ(1u, message->Release());
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
    *failing.GetAddressOf() = new CFailingStream(); // its first reference, taken over
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
