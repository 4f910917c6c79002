// The image bytes one write sends to the phone, counted and digested in the order they go out,
// so that a download's record can show what the phone received rather than what it should have.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/crypto.h"

namespace tr52 {

struct SentBytes {
  uint64_t count = 0;
  Md5Digest md5{};
};

class SentTally {
 public:
  void Reset();
  void Add(const uint8_t* data, size_t size);
  // What was added since the last Reset or Take; the tally starts over.
  SentBytes Take();

 private:
  Md5 md5_;
  uint64_t count_ = 0;
};

}  // namespace tr52
