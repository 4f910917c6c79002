#include "commands/bcpl_requests.h"

#include <algorithm>

namespace tr52 {

namespace {

constexpr uint8_t kZumCmd = 0x50;
constexpr uint8_t kSubBcplStatus = 0x07;
constexpr uint8_t kSubBcplUnlock = 0x0F;
constexpr uint8_t kYes = 1;

}  // namespace

std::vector<uint8_t> BuildBcplStatus() {
  return {kZumCmd, kSubBcplStatus};
}

std::vector<uint8_t> BuildBcplUnlock(std::span<const uint8_t> oemsbl) {
  std::vector<uint8_t> r(2 + kBcplProofLength, 0);
  r[0] = kZumCmd;
  r[1] = kSubBcplUnlock;
  const size_t n = std::min(kBcplProofLength, oemsbl.size());
  std::copy(oemsbl.begin(), oemsbl.begin() + static_cast<ptrdiff_t>(n), r.begin() + 2);
  return r;
}

std::optional<bool> ParseBcplAnswer(std::span<const uint8_t> answer) {
  if (answer.size() < kBcplAnswerSize) return std::nullopt;
  return answer[2] == kYes;
}

}  // namespace tr52
