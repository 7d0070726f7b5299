#include "base/digest.h"

uint64_t digest_bytes(uint64_t start, const uint8_t* bytes, size_t length) {
  uint64_t h = start;
  for (size_t i = 0; i < length; ++i) {
    h ^= bytes[i];
    h *= 1099511628211ull;
  }
  return h;
}
