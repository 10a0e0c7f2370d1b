// Native libFuzzer target for the parts of the archive readers that do not
// need Win32: the block codecs, the packed-block unpacker with each method,
// the cipher and the saved extent index. Built and run by run-fuzz.sh.
#include "ArchiveCipher.h"
#include "CBlockPacker.h"
#include "CExtentIndex.h"
#include "CLzrw3Codec.h"
#include "RunLengthCodec.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const uint8_t selector = data[0];
    // An output capacity chosen by the input, so that every size of
    // destination, too small ones included, gets exercised.
    const size_t capacity = (static_cast<size_t>(data[1]) << 8 | data[2]) % 70000;
    data += 3;
    size -= 3;
    std::vector<uint8_t> out(capacity + 1);
    static CLzrw3Codec lzrw3;
    static CBlockPacker packer;
    switch (selector % 6) {
    case 0: {
        long long n = RunLengthDecode(data, size, out.data(), capacity);
        Check(n <= static_cast<long long>(capacity));
        break;
    }
    case 1: {
        long long n = lzrw3.Decompress(data, size, out.data(), capacity);
        Check(n <= static_cast<long long>(capacity));
        break;
    }
    case 2:
        packer.Unpack(selector >> 4, data, size, out.data(), capacity);
        break;
    case 3: {
        // Every codec gives back what it was given.
        std::vector<uint8_t> block;
        uint8_t choice = selector >> 3 == 0 ? kChoiceRunLength : selector >> 3 == 1 ? kChoiceLzrw3 : 1 + selector % 9;
        Check(packer.Pack(data, size, choice, block) == 0);
        uint32_t stored, method;
        memcpy(&stored, block.data(), 4);
        memcpy(&method, block.data() + 4, 4);
        Check(block.size() == 8 + stored);
        std::vector<uint8_t> back(size + 1);
        Check(packer.Unpack(method, block.data() + 8, stored, back.data(), size) == 0);
        Check(memcmp(back.data(), data, size) == 0);
        break;
    }
    case 4: {
        std::vector<uint8_t> copy(data, data + size);
        uint8_t key[13] = {};
        memcpy(key, data, size < 13 ? size : 13);
        ArchiveCipher(copy.data(), copy.size(), key, capacity);
        ArchiveCipher(copy.data(), copy.size(), key, capacity);
        Check(memcmp(copy.data(), data, size) == 0);
        if (size >= kPasswordCheckBlockLength)
            CheckArchivePassword(data, key);
        break;
    }
    default: {
        size_t at = 0;
        auto read = [&](void* buffer, uint32_t n) -> int {
            if (n > size - at)
                return 1;
            memcpy(buffer, data + at, n);
            at += n;
            return 0;
        };
        CExtentIndex index;
        if (index.Load(read, size) == 0)
            index.Lookup(static_cast<uint32_t>(capacity), 8);
        break;
    }
    }
    return 0;
}
