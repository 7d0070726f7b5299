// A 64-bit digest (FNV-1a) of bytes, fed in pieces: the checkpoints of the
// board name the history and the picture they stand for with it. It finds
// damage and mix-ups, not forgery.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint64_t DIGEST_START = 14695981039346656037ull;

// The digest of what start stood for followed by length bytes.
uint64_t digest_bytes(uint64_t start, const uint8_t* bytes, size_t length);
