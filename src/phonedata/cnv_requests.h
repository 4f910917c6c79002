// Requests and answers of the phone's own NV backup and restore (CNV), as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tr52 {

constexpr uint16_t kCnvBackup = 0;
constexpr uint16_t kCnvRestore = 1;
constexpr size_t kCnvAnswerSize = 12;

// The subsystem dispatch (version 2) request of `command`; 12 bytes.
std::vector<uint8_t> BuildCnvRequest(uint16_t command);

struct CnvAnswer {
  uint32_t status = 0;
  uint16_t count = 0;
  // The phone did it: a status other than 1 with a non-zero count.
  bool Succeeded() const { return status != 1 && count != 0; }
};
std::optional<CnvAnswer> ParseCnvAnswer(std::span<const uint8_t> answer);

}  // namespace tr52
