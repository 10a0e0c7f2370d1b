#include "Platform.h"
#include "CErrorInfoChannel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using common::CErrorInfoChannel;

constexpr DWORD kLittleEndian = 0x10;

ComPtr<IErrorInfo> MakeError(const GUID& guid, const std::wstring& source, const std::wstring& description)
{
    ComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(S_OK, CreateErrorInfo(&create));
    create->SetGUID(guid);
    create->SetSource(const_cast<LPOLESTR>(source.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    ComPtr<IErrorInfo> info;
    create.As(&info);
    return info;
}

std::wstring Description(IErrorInfo* info)
{
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring result = text ? text : L"";
    SysFreeString(text);
    return result;
}

class CErrorInfoChannelTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(CErrorInfoChannelTest, RoundTripKeepsEveryField)
{
    const GUID guid = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    ComPtr<IErrorInfo> sent = MakeError(guid, L"Morvane.Vostrel2007", L"1 3 fffffae7 message=\u00e9t\u00e9");
    std::vector<BYTE> wire = CErrorInfoChannel::Encode(sent.Get(), CErrorInfoChannel::kMaxExtentBytes);
    EXPECT_EQ(0u, wire.size() % 8);

    // Decoding must not rely on the extent being aligned.
    std::vector<BYTE> shifted(wire.size() + 1);
    std::copy(wire.begin(), wire.end(), shifted.begin() + 1);
    ComPtr<IErrorInfo> received;
    ASSERT_EQ(S_OK, CErrorInfoChannel::Decode(shifted.data() + 1, static_cast<ULONG>(wire.size()), kLittleEndian,
                                              &received));
    GUID back = {};
    received->GetGUID(&back);
    EXPECT_TRUE(IsEqualGUID(guid, back));
    EXPECT_EQ(L"1 3 fffffae7 message=\u00e9t\u00e9", Description(received.Get()));
    BSTR source = nullptr;
    received->GetSource(&source);
    EXPECT_STREQ(L"Morvane.Vostrel2007", source);
    SysFreeString(source);
}

TEST_F(CErrorInfoChannelTest, LongDescriptionsAreShortenedToFitKeepingTheirStart)
{
    std::wstring text = L"2 0 0 message=" + std::wstring(100000, L'x');
    ComPtr<IErrorInfo> sent = MakeError(GUID_NULL, L"s", text);
    std::vector<BYTE> wire = CErrorInfoChannel::Encode(sent.Get(), 4096);
    EXPECT_LE(wire.size(), 4096u);
    ComPtr<IErrorInfo> received;
    ASSERT_EQ(S_OK, CErrorInfoChannel::Decode(wire.data(), static_cast<ULONG>(wire.size()), kLittleEndian, &received));
    std::wstring description = Description(received.Get());
    EXPECT_EQ(0u, description.rfind(L"2 0 0 message=xxx", 0));
    EXPECT_LT(description.size(), text.size());
}

TEST_F(CErrorInfoChannelTest, MalformedExtentsAreRejected)
{
    ComPtr<IErrorInfo> sent = MakeError(GUID_NULL, L"source", L"description");
    std::vector<BYTE> wire = CErrorInfoChannel::Encode(sent.Get(), CErrorInfoChannel::kMaxExtentBytes);
    std::vector<BYTE> badMagic = wire;
    badMagic[0] ^= 0xFF;
    std::vector<BYTE> badLength = wire;
    badLength[36] = 0x7F; // help-file length beyond the payload

    struct Case {
        const char* name;
        const void* data;
        ULONG size;
        DWORD rep;
    } cases[] = {
        {"null", nullptr, 40, kLittleEndian},
        {"too short", wire.data(), 20, kLittleEndian},
        {"truncated", wire.data(), static_cast<ULONG>(wire.size()) - 16, kLittleEndian},
        {"big-endian sender", wire.data(), static_cast<ULONG>(wire.size()), 0x00},
        {"bad magic", badMagic.data(), static_cast<ULONG>(badMagic.size()), kLittleEndian},
        {"bad lengths", badLength.data(), static_cast<ULONG>(badLength.size()), kLittleEndian},
    };
    for (const Case& c : cases) {
        ComPtr<IErrorInfo> received;
        EXPECT_TRUE(FAILED(CErrorInfoChannel::Decode(c.data, c.size, c.rep, &received))) << c.name;
        EXPECT_EQ(nullptr, received.Get()) << c.name;
    }
}

} // namespace
