#include "Platform.h"

#include "CBlockPacker.h"

#include "ArchiveStatus.h"
#include "CLzrw3Codec.h"
#include "RunLengthCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

// Data of several characters: runs, text-like repetition and noise.
std::vector<uint8_t> Sample(size_t length, int kind, uint32_t seed = 7)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i) {
        switch (kind) {
        case 0: out[i] = 0; break;
        case 1: out[i] = static_cast<uint8_t>(random()); break;
        case 2: out[i] = "the quick brown fox jumps over the lazy dog "[i % 44]; break;
        default: {
            // Blocks of 64 bytes: a run, text, noise, in turn.
            size_t block = i / 64;
            out[i] = block % 3 == 0 ? static_cast<uint8_t>(block)
                     : block % 3 == 1 ? static_cast<uint8_t>("sector data, "[i % 13])
                                      : static_cast<uint8_t>(random());
            break;
        }
        }
    }
    return out;
}

TEST(RunLengthCodec, EncodesRunsAsPairAndCount)
{
    std::vector<uint8_t> run(300, 'X');
    std::vector<uint8_t> out(300);
    ASSERT_EQ(6u, RunLengthEncode(run.data(), run.size(), out.data()));
    out.resize(6);
    EXPECT_EQ(Bytes({'X', 'X', 255, 'X', 'X', 45}), out);

    std::vector<uint8_t> back(300);
    EXPECT_EQ(300, RunLengthDecode(out.data(), out.size(), back.data(), back.size()));
    EXPECT_EQ(run, back);
}

TEST(RunLengthCodec, EncodingWithoutGainFails)
{
    std::vector<uint8_t> three = Bytes({1, 2, 3});
    std::vector<uint8_t> out(3);
    EXPECT_EQ(0u, RunLengthEncode(three.data(), 3, out.data()));
    // A pair costs three bytes: "AAB" cannot be made shorter either.
    std::vector<uint8_t> pair = Bytes({'A', 'A', 'B'});
    EXPECT_EQ(0u, RunLengthEncode(pair.data(), 3, out.data()));
}

TEST(RunLengthCodec, DecoderCases)
{
    struct Case {
        std::vector<uint8_t> input;
        long long result;
        std::vector<uint8_t> output;
    } cases[] = {
        {Bytes({'X', 'X', 0}), 0, {}},                                 // a zero count yields nothing
        {Bytes({'A', 'B', 'B', 2, 'C'}), 4, Bytes({'A', 'B', 'B', 'C'})},
        {Bytes({'X', 'X'}), -1, {}},                                   // pair cut short
        {Bytes({'X', 'X', 9}), -1, {}},                                // more than the capacity of 8
        {Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9}), -1, {}},                  // literals past the capacity
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(8, 0xEE);
        long long n = RunLengthDecode(c.input.data(), c.input.size(), out.data(), 8);
        EXPECT_EQ(c.result, n);
        if (n >= 0) {
            out.resize(static_cast<size_t>(n));
            EXPECT_EQ(c.output, out);
        }
    }
}

// Fixed inputs decoded by hand from the format: a flag word (0 compressed, 1
// copied), control words low byte first (bit k set: item k is a copy), copy
// items b0 b1 naming slot (b0 >> 4) * 256 + b1 with length (b0 & 15) + 3,
// every slot starting at "123456789012345678", and the table updated as the
// encoder updates it (the copy's own slot, pending literals by their hash).
TEST(Lzrw3Codec, DecodesFixedVectors)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> input;
        long long result;
        std::string output;
    } cases[] = {
        {"one copy from slot 0", Bytes({0, 0, 0, 0, 0x01, 0x00, 0x00, 0x00}), 3, "123"},
        {"literals only", Bytes({0, 0, 0, 0, 0x00, 0x00, 'A', 'B'}), 2, "AB"},
        {"copy form", Bytes({1, 0, 0, 0, 'x', 'y', 'z'}), 3, "xyz"},
        {"longest copy", Bytes({0, 0, 0, 0, 0x01, 0x00, 0x0F, 0x00}), 18, "123456789012345678"},
        {"slot 0x134, length 5", Bytes({0, 0, 0, 0, 0x01, 0x00, 0x12, 0x34}), 5, "12345"},
        // "abc" enters slot Hash(a, b, c) = 0xABD after its third literal.
        {"three literals, then their slot", Bytes({0, 0, 0, 0, 0x08, 0x00, 'a', 'b', 'c', 0xA0, 0xBD}), 6, "abcabc"},
        // A copy moves its slot to its own output: the second copy of slot 0
        // reads "123" and then the byte it is writing.
        {"slot moved by a copy", Bytes({0, 0, 0, 0, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00}), 7, "1231231"},
        // A literal before a copy is hashed with the copied bytes: "x12" goes
        // to slot 0xAD9.
        {"literal hashed after the copy", Bytes({0, 0, 0, 0, 0x06, 0x00, 'x', 0x00, 0x00, 0xA1, 0xD9}), 8,
         "x123x123"},
        {"second control word",
         Bytes({0, 0, 0, 0, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o',
                'p', 0x00, 0x00, 'q'}),
         17, "abcdefghijklmnopq"},
        {"empty compressed form", Bytes({0, 0, 0, 0}), 0, ""},
        {"flag word of neither form", Bytes({2, 0, 0, 0, 'x'}), -1, ""},
        {"shorter than the flag word", Bytes({0, 0, 0}), -1, ""},
        {"copy item cut short", Bytes({0, 0, 0, 0, 0x01, 0x00, 0x00}), -1, ""},
        {"control word cut short", Bytes({0, 0, 0, 0, 0x01}), -1, ""},
    };
    CLzrw3Codec codec;
    for (const Case& c : cases) {
        std::vector<uint8_t> out(32, 0xEE);
        long long n = codec.Decompress(c.input.data(), c.input.size(), out.data(), out.size());
        EXPECT_EQ(c.result, n) << c.what;
        if (n >= 0) {
            EXPECT_EQ(c.output, std::string(out.begin(), out.begin() + n)) << c.what;
        }
    }
    // The longest copy needs 18 bytes of room.
    std::vector<uint8_t> longest = Bytes({0, 0, 0, 0, 0x01, 0x00, 0x0F, 0x00});
    std::vector<uint8_t> out(17);
    EXPECT_EQ(-1, codec.Decompress(longest.data(), longest.size(), out.data(), 17));
    std::vector<uint8_t> copied = Bytes({1, 0, 0, 0, 'x', 'y', 'z'});
    EXPECT_EQ(-1, codec.Decompress(copied.data(), copied.size(), out.data(), 2)) << "copy form past the capacity";
}

TEST(Lzrw3Codec, RoundTripsAndFallsBackToCopy)
{
    CLzrw3Codec codec;
    for (int kind = 0; kind < 4; ++kind) {
        for (size_t length : {size_t(0), size_t(1), size_t(17), size_t(18), size_t(19), size_t(300), size_t(4096),
                              size_t(65536 + 13)}) {
            std::vector<uint8_t> input = Sample(length, kind);
            std::vector<uint8_t> packed(CLzrw3Codec::MaxCompressedLength(length));
            long long n = codec.Compress(input.data(), length, packed.data());
            ASSERT_GE(n, 4) << kind << " " << length;
            if (kind == 1 && length > 0) {
                uint32_t flag;
                memcpy(&flag, packed.data(), 4);
                EXPECT_EQ(1u, flag) << "noise is kept in the copy form";
            }
            if ((kind == 0 || kind == 2) && length >= 4096)
                EXPECT_LT(n, static_cast<long long>(length / 4));
            std::vector<uint8_t> back(length + 1);
            EXPECT_EQ(static_cast<long long>(length),
                      codec.Decompress(packed.data(), static_cast<size_t>(n), back.data(), length))
                << kind << " " << length;
            back.resize(length);
            EXPECT_EQ(input, back);
        }
    }
}

TEST(Lzrw3Codec, DecoderRejectsDamage)
{
    CLzrw3Codec codec;
    std::vector<uint8_t> input = Sample(8192, 2);
    std::vector<uint8_t> packed(CLzrw3Codec::MaxCompressedLength(input.size()));
    long long n = codec.Compress(input.data(), input.size(), packed.data());
    packed.resize(static_cast<size_t>(n));
    std::vector<uint8_t> out(input.size());

    EXPECT_EQ(-1, codec.Decompress(packed.data(), packed.size(), out.data(), out.size() - 1)) << "too small";
    EXPECT_EQ(-1, codec.Decompress(packed.data(), 3, out.data(), out.size())) << "no flag word";
    std::vector<uint8_t> badFlag = packed;
    badFlag[0] = 7;
    EXPECT_EQ(-1, codec.Decompress(badFlag.data(), badFlag.size(), out.data(), out.size()));
    // Cutting the stream anywhere never reads past its end (or writes past
    // the output): at worst a shorter result or -1.
    std::mt19937 random(3);
    for (size_t cut = 4; cut < packed.size(); cut += 1 + random() % 97) {
        std::vector<uint8_t> part(packed.begin(), packed.begin() + cut);
        long long m = codec.Decompress(part.data(), part.size(), out.data(), out.size());
        EXPECT_LT(m, static_cast<long long>(input.size()));
    }
    // Random bytes after a "compressed" flag word.
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> junk(4 + random() % 300);
        for (size_t i = 4; i < junk.size(); ++i)
            junk[i] = static_cast<uint8_t>(random());
        junk[0] = junk[1] = junk[2] = junk[3] = 0;
        codec.Decompress(junk.data(), junk.size(), out.data(), 64);
    }
}

TEST(BlockPacker, EveryChoiceRoundTripsAndStoresWhatDoesNotShrink)
{
    struct Choice {
        uint8_t choice;
        uint32_t method;  // for compressible data; ~0 = zlib (compressed length + header)
    } choices[] = {{kChoiceRunLength, kMethodRunLength}, {kChoiceLzrw3, kMethodLzrw3}, {0, ~0u}, {6, ~0u}, {9, ~0u}};
    for (uint32_t headerLength : {8u, 9u}) {
        for (const Choice& c : choices) {
            CBlockPacker packer(headerLength);
            for (int kind : {0, 1, 3}) {
                std::vector<uint8_t> input = Sample(32768, kind);
                std::vector<uint8_t> block;
                ASSERT_EQ(0, packer.Pack(input.data(), input.size(), c.choice, block));
                uint32_t stored, method;
                memcpy(&stored, block.data(), 4);
                memcpy(&method, block.data() + 4, 4);
                ASSERT_EQ(block.size(), headerLength + stored);
                if (headerLength == 9)
                    EXPECT_EQ(0, block[8]);
                if (kind == 1) {
                    EXPECT_EQ(kMethodStored, method) << "noise is stored";
                } else if (kind == 0 && c.choice != 0) {
                    EXPECT_EQ(c.method == ~0u ? stored + headerLength : c.method, method);
                }
                std::vector<uint8_t> back(input.size());
                ASSERT_EQ(0, packer.Unpack(method, block.data() + headerLength, stored, back.data(), back.size()));
                EXPECT_EQ(input, back);
            }
        }
    }
}

TEST(BlockPacker, CorruptBlocksGiveAStatusForEachCodec)
{
    CBlockPacker packer;
    std::vector<uint8_t> input = Sample(16384, 3);
    for (uint8_t choice : {uint8_t(kChoiceRunLength), uint8_t(kChoiceLzrw3), uint8_t(6)}) {
        std::vector<uint8_t> block;
        ASSERT_EQ(0, packer.Pack(input.data(), input.size(), choice, block));
        uint32_t stored, method;
        memcpy(&stored, block.data(), 4);
        memcpy(&method, block.data() + 4, 4);
        ASSERT_NE(kMethodStored, method);
        const uint8_t* data = block.data() + 8;
        std::vector<uint8_t> out(input.size());
        int expectedCorrupt = (method == kMethodRunLength || method == kMethodLzrw3) ? ARCERR_FORMAT : ARCERR_IO;
        // Cut short.
        EXPECT_NE(0, packer.Unpack(method, data, stored / 2, out.data(), out.size()));
        // Expecting more than the block holds.
        EXPECT_NE(0, packer.Unpack(method, data, stored, out.data(), out.size() - 100));
        // Damaged bytes.
        std::vector<uint8_t> damaged(data, data + stored);
        for (size_t i = 0; i < damaged.size(); i += 3)
            damaged[i] ^= 0x5A;
        int rc = packer.Unpack(method, damaged.data(), damaged.size(), out.data(), out.size());
        EXPECT_TRUE(rc == ARCERR_FORMAT || rc == ARCERR_IO) << std::hex << rc;
        (void)expectedCorrupt;
    }
    std::vector<uint8_t> out(10);
    EXPECT_EQ(ARCERR_FORMAT, packer.Unpack(kMethodStored, input.data(), 9, out.data(), 10));
}

}  // namespace
