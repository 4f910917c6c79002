// The NV item ranges of a full NV backup, as the phone reports them (DIAG subsystem 0xFC,
// command 9) or as the defaults give them.
#pragma once

#include <cstdint>

namespace tr52 {

struct NvRanges {
  uint16_t qctMin = 0;  // only logged
  uint16_t qctMax = 0;  // items 0 .. qctMax-1 are read
  uint16_t zumMin = 0;  // then items zumMin .. zumMax-1
  uint16_t zumMax = 0;
};

// 0, 4393, 9001, 9181: items 0 to 4392 and 9001 to 9180, 4573 in all.
constexpr NvRanges kDefaultNvRanges{0, 4393, 9001, 9181};

}  // namespace tr52
