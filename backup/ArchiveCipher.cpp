#include "ArchiveCipher.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// The cipher's constant tables. The format treats their values as key
// material; this build generates its own from a fixed seed, so archives that
// this build enciphers are read back by it, and passworded archives made with
// other tables cannot be opened. S is a permutation of the bytes and the
// register updates U1-U3 are permutations of the 10-bit values, so that no
// register collapses onto a short cycle; M and O are uniformly random.
struct CipherTables {
    uint32_t crc[256];
    uint8_t s[256];
    uint16_t u[3][1024];
    uint32_t m[3][1024];
    uint8_t o[3][1024];
};

class SplitMix64 {
public:
    explicit SplitMix64(uint64_t seed) : m_state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

private:
    uint64_t m_state;
};

template <typename T, size_t N>
void Shuffle(T (&values)[N], SplitMix64& random)
{
    for (size_t i = 0; i < N; ++i)
        values[i] = static_cast<T>(i);
    for (size_t i = N - 1; i > 0; --i) {
        size_t j = random.Below(static_cast<uint32_t>(i + 1));
        T t = values[i];
        values[i] = values[j];
        values[j] = t;
    }
}

CipherTables* BuildTables()
{
    static CipherTables tables;
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables.crc[n] = c;
    }
    SplitMix64 random(0x4B6F6C76656E3332ull);  // "Kolven32"
    Shuffle(tables.s, random);
    for (auto& u : tables.u)
        Shuffle(u, random);
    for (auto& m : tables.m)
        for (auto& v : m)
            v = static_cast<uint32_t>(random.Next());
    for (auto& o : tables.o)
        for (auto& v : o)
            v = static_cast<uint8_t>(random.Next());
    return &tables;
}

const CipherTables& Tables()
{
    static const CipherTables* tables = BuildTables();
    return *tables;
}

inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Load32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void Xor32(uint8_t* target, const uint8_t* source)
{
    for (int i = 0; i < 4; ++i)
        target[i] ^= source[i];
}

class CCipherState {
public:
    CCipherState(const uint8_t* key, const uint8_t* value) : m_tables(Tables())
    {
        static const uint8_t kZero[4] = {0, 0, 0, 0};
        const uint8_t* y = value ? value : kZero;
        memset(m_window, 0, sizeof m_window);
        m_position = 1212;
        m_r1 = ((y[0] << 2) ^ (y[1] >> 6)) & 0x3FF;
        m_r2 = ((y[1] << 4) ^ (y[2] >> 4)) & 0x3FF;
        m_r3 = ((y[2] << 6) ^ (y[3] >> 2)) & 0x3FF;

        uint8_t r[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        for (int i = 0; i < 64; ++i) {
            uint8_t b = i < static_cast<int>(kArchiveKeyLength) ? key[i] : 0;
            uint8_t n = (y[0] & r[1]) ^ (y[1] & r[2]) ^ (y[2] & r[3]) ^ (y[3] & r[4]) ^ r[0] ^ b;
            r[0] = static_cast<uint8_t>((r[1] << 1) | (r[1] >> 7));
            r[1] = r[2];
            r[2] = r[3];
            r[3] = r[4];
            r[4] = n;
        }
        for (int i = 0; i < static_cast<int>(kArchiveKeyLength); ++i)
            m_window[1212 - i] = key[i] ^ y[i % 4];
        for (int i = 0; i < 5; ++i)
            m_window[1204 - i] ^= r[i];
        memcpy(m_window, m_window + 1200, 13);
    }

    void Step(uint8_t* out)
    {
        if (m_position == 12) {
            memcpy(m_window + 1200, m_window, 13);
            m_position = 1212;
        }
        uint8_t* w = m_window;
        const int p = m_position;
        const uint8_t* s = m_tables.s;
        for (int i = 0; i < 12; ++i) {
            w[p - 13 - i] = s[w[p - i]];
            if (i == 3)
                Xor32(w + p - 16, w + p - 8);
            else if (i == 7)
                Xor32(w + p - 20, w + p - 12);
            else if (i == 11)
                Xor32(w + p - 24, w + p - 16);
        }
        m_r1 = m_tables.u[0][m_r1];
        m_r2 = m_tables.u[1][m_r2];
        m_r3 = m_tables.u[2][m_r3];
        m_r1 ^= Load16(w + p - 1) >> 6;
        m_r2 ^= (Load16(w + p - 2) >> 4) & 0x3FF;
        m_r3 ^= (Load16(w + p - 3) >> 2) & 0x3FF;
        Mix(Load32(w + p - 7));
        Mix(Load32(w + p - 11));
        out[0] = m_tables.o[0][m_r1];
        out[1] = m_tables.o[1][m_r2];
        out[2] = m_tables.o[2][m_r3];
        m_position = p - 12;
    }

private:
    void Mix(uint32_t word)
    {
        uint32_t j = m_tables.m[2][m_r3] ^ m_tables.m[1][m_r2] ^ m_tables.m[0][m_r1] ^ word;
        m_r3 = (j >> 2) & 0x3FF;
        m_r2 = (j >> 12) & 0x3FF;
        m_r1 = j >> 22;
    }

    const CipherTables& m_tables;
    uint8_t m_window[1213];
    int m_position;
    uint32_t m_r1, m_r2, m_r3;
};

}  // namespace

void ArchiveCipher(void* buffer, size_t length, const uint8_t* key, uint64_t position,
                   const uint8_t* value)
{
    if (length == 0)
        return;
    CCipherState state(key, value);
    uint8_t stream[3];
    for (uint64_t n = position / 3; n > 0; --n)
        state.Step(stream);
    unsigned used = 3;
    if (position % 3 != 0) {
        state.Step(stream);
        used = static_cast<unsigned>(position % 3);
    }
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < length; ++i) {
        if (used == 3) {
            state.Step(stream);
            used = 0;
        }
        bytes[i] ^= stream[used++];
    }
}

uint32_t ArchiveCrc32(const void* data, size_t length)
{
    const uint32_t* table = Tables().crc;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

int CheckArchivePassword(const uint8_t* block, const uint8_t* key)
{
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[kPasswordCheckBlockLength]);
    if (!copy)
        return 0;
    memcpy(copy.get(), block, kPasswordCheckBlockLength);
    ArchiveCipher(copy.get(), kPasswordCheckBlockLength, key, 0);
    uint32_t crc = ArchiveCrc32(copy.get(), 96);
    return crc == Load32(copy.get() + 96) ? 1 : 0;
}

void MakePasswordCheckBlock(uint8_t* block, const uint8_t* key, uint64_t seed)
{
    SplitMix64 random(seed ^ 0x506173734368656Bull);
    for (int i = 0; i < 96; ++i)
        block[i] = static_cast<uint8_t>(random.Next());
    uint32_t crc = ArchiveCrc32(block, 96);
    for (int i = 0; i < 4; ++i)
        block[96 + i] = static_cast<uint8_t>(crc >> (8 * i));
    ArchiveCipher(block, kPasswordCheckBlockLength, key, 0);
}
