#include "RunLengthCodec.h"

size_t RunLengthEncode(const uint8_t* input, size_t length, uint8_t* output)
{
    size_t in = 0, out = 0;
    while (in < length) {
        if (out >= length)
            return 0;
        uint8_t x = input[in];
        output[out++] = x;
        if (in + 1 < length && input[in + 1] == x) {
            size_t run = 2;
            while (run < 255 && in + run < length && input[in + run] == x)
                ++run;
            if (out + 2 >= length)
                return 0;
            output[out++] = x;
            output[out++] = static_cast<uint8_t>(run);
            in += run;
        } else {
            ++in;
        }
    }
    return out < length ? out : 0;
}

long long RunLengthDecode(const uint8_t* input, size_t length, uint8_t* output, size_t capacity)
{
    size_t in = 0, out = 0;
    while (in < length) {
        if (length - in >= 2 && input[in] == input[in + 1]) {
            if (length - in < 3)
                return -1;
            size_t count = input[in + 2];
            if (capacity - out < count)
                return -1;
            for (size_t i = 0; i < count; ++i)
                output[out++] = input[in];
            in += 3;
        } else {
            if (out == capacity)
                return -1;
            output[out++] = input[in++];
        }
    }
    return static_cast<long long>(out);
}
