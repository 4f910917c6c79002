#include "commands/sent_tally.h"

namespace tr52 {

void SentTally::Reset() {
  (void)md5_.Final();
  count_ = 0;
}

void SentTally::Add(const uint8_t* data, size_t size) {
  md5_.Update(data, size);
  count_ += size;
}

SentBytes SentTally::Take() {
  SentBytes sent{count_, md5_.Final()};
  count_ = 0;
  return sent;
}

}  // namespace tr52
