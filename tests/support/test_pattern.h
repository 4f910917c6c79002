// Deterministic pseudo-random bytes for test images: different seeds give different images,
// and the same seed always gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tr52test {

inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> b(n);
  uint32_t x = seed * 2654435761u + 7;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

}  // namespace tr52test
