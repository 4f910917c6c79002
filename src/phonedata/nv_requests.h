// Requests and answers of the NV item commands over DIAG, as bytes. Builders make the request
// payload (before framing); parsers read an answer payload with bounds checks and give nothing
// when it is too short to hold what they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "phonedata/nv_record.h"

namespace tr52 {

constexpr size_t kSpcLength = 6;
constexpr size_t kSpcAnswerSize = 2;

// A read of `item`, `index` in byte 3; 133 bytes.
std::vector<uint8_t> BuildNvRead(uint16_t item, uint8_t index);
// A write of the record's item and data; 133 bytes.
std::vector<uint8_t> BuildNvWrite(const NvRecord& record);
// DIAG_SPC_F with the 6-character code; empty for a code of another length.
std::vector<uint8_t> BuildSpcRequest(std::string_view code);

// The item an answer names (bytes 1-2).
std::optional<uint16_t> ParseNvItem(std::span<const uint8_t> answer);
// The whole 133-byte answer packet.
std::optional<NvRecord> ParseNvPacket(std::span<const uint8_t> answer);
// The status of a write answer (bytes 131-132).
std::optional<uint16_t> ParseNvWriteStatus(std::span<const uint8_t> answer);
// True when the phone took the code.
std::optional<bool> ParseSpcAnswer(std::span<const uint8_t> answer);

}  // namespace tr52
