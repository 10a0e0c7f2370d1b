#include "Platform.h"

#include "ArchiveCipher.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

const uint8_t kKey[13] = {'s', 'e', 'c', 'r', 'e', 't', 0, 0, 0, 0, 0, 0, 0};
const uint8_t kOtherKey[13] = {'s', 'e', 'c', 'r', 'e', 'u', 0, 0, 0, 0, 0, 0, 0};

TEST(ArchiveCipher, TwiceRestoresAndChangesTheData)
{
    std::vector<uint8_t> plain(5000);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> data = plain;
    ArchiveCipher(data.data(), data.size(), kKey, 0);
    EXPECT_NE(plain, data);
    size_t same = 0;
    for (size_t i = 0; i < data.size(); ++i)
        same += data[i] == plain[i];
    EXPECT_LT(same, 100u) << "the keystream looks random";
    ArchiveCipher(data.data(), data.size(), kKey, 0);
    EXPECT_EQ(plain, data);

    std::vector<uint8_t> other = plain;
    ArchiveCipher(other.data(), other.size(), kOtherKey, 0);
    std::vector<uint8_t> mine = plain;
    ArchiveCipher(mine.data(), mine.size(), kKey, 0);
    EXPECT_NE(mine, other) << "a key differing in one byte gives another stream";
}

TEST(ArchiveCipher, StartsAnywhereInTheStream)
{
    // Well past one turn of the window (100 steps of 12 bytes).
    for (uint64_t position : {1ull, 2ull, 3ull, 7ull, 1199ull, 1212ull, 3601ull}) {
        std::vector<uint8_t> whole(static_cast<size_t>(position) + 10, 0);
        ArchiveCipher(whole.data(), whole.size(), kKey, 0);
        std::vector<uint8_t> part(10, 0);
        ArchiveCipher(part.data(), part.size(), kKey, position);
        EXPECT_EQ(std::vector<uint8_t>(whole.end() - 10, whole.end()), part) << position;
    }
}

TEST(ArchiveCipher, ValueChangesTheStream)
{
    const uint8_t value[4] = {1, 2, 3, 4};
    uint8_t a[32] = {}, b[32] = {};
    ArchiveCipher(a, sizeof a, kKey, 0);
    ArchiveCipher(b, sizeof b, kKey, 0, value);
    EXPECT_NE(0, memcmp(a, b, sizeof a));
}

TEST(ArchiveCipher, CrcIsTheStandardOne)
{
    const char text[] = "123456789";
    EXPECT_EQ(0xCBF43926u, ArchiveCrc32(text, 9));
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 31);
    EXPECT_EQ(crc32(0, data.data(), static_cast<uInt>(data.size())), ArchiveCrc32(data.data(), data.size()));
}

TEST(ArchiveCipher, PasswordCheck)
{
    uint8_t block[kPasswordCheckBlockLength];
    MakePasswordCheckBlock(block, kKey, 42);
    EXPECT_EQ(1, CheckArchivePassword(block, kKey));
    EXPECT_EQ(0, CheckArchivePassword(block, kOtherKey));
    block[50] ^= 1;
    EXPECT_EQ(0, CheckArchivePassword(block, kKey)) << "a damaged block fits no key";
}

}  // namespace
