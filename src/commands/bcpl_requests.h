// Requests and answers of the boot-code protection lock, as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tr52 {

constexpr size_t kBcplProofLength = 128;
constexpr size_t kBcplAnswerSize = 3;

std::vector<uint8_t> BuildBcplStatus();
// The unlock carries the first 128 bytes of the OEMSBL image (zero after a shorter one).
std::vector<uint8_t> BuildBcplUnlock(std::span<const uint8_t> oemsbl);
// True when the answer says yes (the lock is on / was released).
std::optional<bool> ParseBcplAnswer(std::span<const uint8_t> answer);

}  // namespace tr52
