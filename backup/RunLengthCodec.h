#pragma once
// The byte-run coding of packed blocks (method 1): a byte followed by a
// different byte is itself; two equal bytes are always followed by a count
// byte and stand for that many copies.
#include <cstddef>
#include <cstdint>

// Encodes `input` into `output` (capacity at least `length`). Returns the
// encoded length, or 0 when the encoding would not be shorter than the input
// (the block is then stored).
size_t RunLengthEncode(const uint8_t* input, size_t length, uint8_t* output);

// Decodes into `output` of `capacity` bytes. Returns the decoded length, or -1
// for input that ends inside a run item or output that would overflow.
long long RunLengthDecode(const uint8_t* input, size_t length, uint8_t* output, size_t capacity);
