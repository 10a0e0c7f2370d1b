// RTFSync on a message, and HrIStorageFromStream on a stream holding a
// compound file: the two storage-level helpers a provider's copies and OLE
// attachments rely on.
#include "MapiStandin.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class RtfSyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ComPtr<ILockBytes> bytes;
        ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
        ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE,
                                                     0, &m_storage));
        ASSERT_EQ(S_OK, OpenIMsgOnIStg(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr, nullptr,
                                       m_storage.Get(), nullptr, 0, 0, &m_message));
    }

    void SetBody(const std::wstring& text)
    {
        std::wstring copy = text;
        SPropValue body{};
        body.ulPropTag = PR_BODY_W;
        body.Value.lpszW = &copy[0];
        ASSERT_EQ(S_OK, HrSetOneProp(m_message.Get(), &body));
    }
    void SetRtf(const std::string& rtf)
    {
        ComPtr<IStream> stored;
        ASSERT_EQ(S_OK, m_message->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                                reinterpret_cast<LPUNKNOWN*>(stored.GetAddressOf())));
        ComPtr<IStream> plain;
        ASSERT_EQ(S_OK, WrapCompressedRTFStream(stored.Get(), MAPI_MODIFY, &plain));
        ULONG written = 0;
        ASSERT_EQ(S_OK, plain->Write(rtf.data(), static_cast<ULONG>(rtf.size()), &written));
        ASSERT_EQ(S_OK, plain->Commit(STGC_DEFAULT));
    }
    std::wstring Body()
    {
        LPSPropValue value = nullptr;
        if (FAILED(HrGetOneProp(m_message.Get(), PR_BODY_W, &value)))
            return L"<none>";
        std::wstring text = value->Value.lpszW;
        MAPIFreeBuffer(value);
        return text;
    }
    bool HasRtf()
    {
        LPSPropValue value = nullptr;
        if (FAILED(HrGetOneProp(m_message.Get(), PR_RTF_COMPRESSED, &value)))
            return false;
        MAPIFreeBuffer(value);
        return true;
    }
    void DeleteProp(ULONG tag)
    {
        SizedSPropTagArray(1, tags) = {1, {tag}};
        ASSERT_EQ(S_OK, m_message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), nullptr));
    }

    ComPtr<IStorage> m_storage;
    ComPtr<IMessage> m_message;
};

const ULONG kBoth = RTF_SYNC_RTF_CHANGED | RTF_SYNC_BODY_CHANGED;

TEST_F(RtfSyncTest, TheMissingSideIsMadeFromTheOther)
{
    const std::wstring text = L"Hello {world}\r\nline two\twith tab, caf\u00E9 \u20AC";
    SetBody(text);
    BOOL updated = FALSE;
    ASSERT_EQ(S_OK, RTFSync(m_message.Get(), kBoth, &updated));
    EXPECT_TRUE(updated);
    EXPECT_TRUE(HasRtf());
    LPSPropValue inSync = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(m_message.Get(), PR_RTF_IN_SYNC, &inSync));
    EXPECT_TRUE(inSync->Value.b);
    MAPIFreeBuffer(inSync);

    // And back: the body made from that RTF is the text again.
    DeleteProp(PR_BODY_W);
    ASSERT_EQ(S_OK, RTFSync(m_message.Get(), RTF_SYNC_RTF_CHANGED, &updated));
    EXPECT_TRUE(updated);
    EXPECT_EQ(text, Body());
}

TEST_F(RtfSyncTest, TextIsTakenFromRtfAsWrittenByOtherPrograms)
{
    SetRtf("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red0\\green0\\blue0;}"
           "{\\*\\generator Writer 1.0;}\\uc1\\pard\\f0\\fs20 caf\\'e9 \\u8364?\\par\r\n"
           "{\\b bold} and \\{braces\\}\\tab end}");
    BOOL updated = FALSE;
    ASSERT_EQ(S_OK, RTFSync(m_message.Get(), kBoth, &updated));
    EXPECT_TRUE(updated);
    EXPECT_EQ(L"caf\u00E9 \u20AC\r\nbold and {braces}\tend", Body());
}

TEST_F(RtfSyncTest, NothingIsRewrittenWhenBothSidesExistOrNeither)
{
    BOOL updated = TRUE;
    ASSERT_EQ(S_OK, RTFSync(m_message.Get(), kBoth, &updated));
    EXPECT_FALSE(updated);
    SetBody(L"original body");
    SetRtf("{\\rtf1 different}");
    ASSERT_EQ(S_OK, RTFSync(m_message.Get(), kBoth, &updated));
    EXPECT_FALSE(updated);
    EXPECT_EQ(L"original body", Body());

    // One named side wins over the other.
    ASSERT_EQ(S_OK, RTFSync(m_message.Get(), RTF_SYNC_RTF_CHANGED, &updated));
    EXPECT_TRUE(updated);
    EXPECT_EQ(L"different", Body());

    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, RTFSync(nullptr, kBoth, &updated));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, RTFSync(m_message.Get(), kBoth, nullptr));
    EXPECT_EQ(MAPI_E_UNKNOWN_FLAGS, RTFSync(m_message.Get(), 0x100, &updated));
}

TEST(HrIStorageFromStream, OpensACompoundFileHeldInAStream)
{
    // A compound file with one stream, its bytes copied into a plain stream.
    ComPtr<ILockBytes> bytes;
    ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
    {
        ComPtr<IStorage> storage;
        ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE,
                                                     0, &storage));
        ComPtr<IStream> inner;
        ASSERT_EQ(S_OK, storage->CreateStream(L"Contents", STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0, 0,
                                              &inner));
        ULONG written = 0;
        ASSERT_EQ(S_OK, inner->Write("ole data", 8, &written));
        inner.Reset();
        ASSERT_EQ(S_OK, storage->Commit(STGC_DEFAULT));
    }
    STATSTG stat{};
    ASSERT_EQ(S_OK, bytes->Stat(&stat, STATFLAG_NONAME));
    std::string file(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    ULONG read = 0;
    ULARGE_INTEGER zero{};
    ASSERT_EQ(S_OK, bytes->ReadAt(zero, &file[0], static_cast<ULONG>(file.size()), &read));
    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ULONG written = 0;
    ASSERT_EQ(S_OK, stream->Write(file.data(), read, &written));

    ComPtr<IStorage> storage;
    ASSERT_EQ(S_OK, HrIStorageFromStream(stream.Get(), nullptr, 0, &storage));
    ComPtr<IStream> inner;
    ASSERT_EQ(S_OK, storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &inner));
    char data[16] = {};
    ASSERT_EQ(S_OK, inner->Read(data, sizeof(data), &read));
    EXPECT_EQ(std::string("ole data"), std::string(data, read));

    // Not a compound file, a wrong interface, no stream: errors.
    ComPtr<IStream> garbage;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &garbage));
    garbage->Write("not a compound file at all", 26, &written);
    ComPtr<IStorage> none;
    EXPECT_TRUE(FAILED(HrIStorageFromStream(garbage.Get(), nullptr, 0, &none)));
    EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED, HrIStorageFromStream(stream.Get(), &IID_IStream, 0, &none));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, HrIStorageFromStream(nullptr, nullptr, 0, &none));
}

} // namespace
