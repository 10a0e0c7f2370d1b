// Compressed RTF through WrapCompressedRTFStream, as a client reads and
// writes PR_RTF_COMPRESSED: round trips of both forms, a value in the
// documented format, and damaged values refused.
#include "MapiStandin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ComPtr<IStream> StreamOf(const std::string& bytes)
{
    ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ULONG written = 0;
    if (!bytes.empty())
        stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::string ReadAll(IStream* stream)
{
    std::string text;
    char chunk[4096];
    for (;;) {
        ULONG read = 0;
        if (FAILED(stream->Read(chunk, sizeof(chunk), &read)) || read == 0)
            return text;
        text.append(chunk, read);
    }
}

HRESULT ReadRtf(IStream* stored, std::string& text)
{
    ComPtr<IStream> plain;
    HRESULT hr = WrapCompressedRTFStream(stored, 0, &plain);
    if (SUCCEEDED(hr))
        text = ReadAll(plain.Get());
    return hr;
}

std::string Encode(const std::string& text, ULONG flags)
{
    ComPtr<IStream> stored = StreamOf("");
    ComPtr<IStream> writer;
    EXPECT_EQ(S_OK, WrapCompressedRTFStream(stored.Get(), MAPI_MODIFY | flags, &writer));
    // Written in pieces, as RichEdit's stream-out does.
    for (size_t i = 0; i < text.size(); i += 1000) {
        std::string piece = text.substr(i, 1000);
        ULONG written = 0;
        EXPECT_EQ(S_OK, writer->Write(piece.data(), static_cast<ULONG>(piece.size()), &written));
    }
    EXPECT_EQ(S_OK, writer->Commit(STGC_DEFAULT));
    writer.Reset();
    LARGE_INTEGER zero{};
    stored->Seek(zero, STREAM_SEEK_SET, nullptr);
    return ReadAll(stored.Get());
}

std::string Bytes(const std::vector<int>& values)
{
    std::string bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return bytes;
}

TEST(CompressedRtf, RoundTripsInBothForms)
{
    std::string random;
    unsigned seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        random.push_back(static_cast<char>(seed >> 16));
    }
    std::string repeated;
    for (int i = 0; i < 5000; ++i)
        repeated += "{\\pard\\plain\\f0\\fs20 line " + std::to_string(i % 7) + "\\par}\r\n";
    const std::vector<std::string> texts = {
        "",
        "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n",
        std::string(5000, 'a'), // references that overlap what they write
        "{\\rtf1 \\u233? caf\\'e9 \\tab text}",
        repeated,
        random,
    };
    for (ULONG flags : std::vector<ULONG>{0, STORE_UNCOMPRESSED_RTF}) {
        for (size_t i = 0; i < texts.size(); ++i) {
            std::string stored = Encode(texts[i], flags);
            ASSERT_GE(stored.size(), 16u);
            EXPECT_EQ(flags ? std::string("MELA") : std::string("LZFu"), stored.substr(8, 4)) << i;
            std::string text;
            ASSERT_EQ(S_OK, ReadRtf(StreamOf(stored).Get(), text)) << i << " flags " << flags;
            EXPECT_EQ(texts[i], text) << i << " flags " << flags;
            if (!flags && i == 4) {
                EXPECT_LT(stored.size(), texts[i].size() / 4); // repetitive text really shrinks
            }
        }
    }
}

TEST(CompressedRtf, ReadsTheDocumentedSample)
{
    // The compressed form of "{\rtf1\ansi\ansicpg1252\pard hello world}\r\n"
    // as the format's description gives it.
    const std::string stored = Bytes({0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xf1,
                                      0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32,
                                      0x35, 0x42, 0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62,
                                      0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0});
    std::string text;
    ASSERT_EQ(S_OK, ReadRtf(StreamOf(stored).Get(), text));
    EXPECT_EQ("{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n", text);
}

TEST(CompressedRtf, DamagedValuesAreRefused)
{
    const std::string good = Encode("{\\rtf1\\ansi some text to compress, some text to compress}", 0);
    std::string badCrc = good;
    badCrc[12] ^= 0x01;
    std::string badData = good;
    badData[20] ^= 0x40;
    std::string badType = good;
    badType[8] = 'X';
    std::string tooShort = good.substr(0, good.size() - 3);
    std::string rawTooBig = good;
    rawTooBig[7] = 0x7F;
    const struct {
        const char* name;
        std::string stored;
    } cases[] = {
        {"corrupt CRC", badCrc},
        {"corrupt data", badData},
        {"unknown type", badType},
        {"cut short", tooShort},
        {"header only part", good.substr(0, 10)},
        {"raw size beyond what data can hold", rawTooBig},
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(MAPI_E_CORRUPT_DATA, ReadRtf(StreamOf(c.stored).Get(), text)) << c.name;
    }
    ComPtr<IStream> out;
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, WrapCompressedRTFStream(nullptr, 0, &out));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, WrapCompressedRTFStream(StreamOf(good).Get(), 0, nullptr));
    EXPECT_EQ(MAPI_E_UNKNOWN_FLAGS, WrapCompressedRTFStream(StreamOf(good).Get(), 0x40000000, &out));
}

} // namespace
