// Requests and answers of the DIAG commands of a phone running its normal software, as bytes:
// builders make the request payload (before framing), parsers read an answer payload with
// bounds checks and give nothing when it is too short to hold what they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tr52 {

struct NvRanges;

// Answer bytes each parser needs (the figure of a "short answer" log line).
constexpr size_t kModelTextAnswerSize = 40;
constexpr size_t kBatteryAnswerSize = 9;
constexpr size_t kNvRangesAnswerSize = 12;

std::vector<uint8_t> BuildVersionRequest();
// DIAG_PASSWORD_F with the 8-byte code.
std::vector<uint8_t> BuildPasswordRequest(std::span<const uint8_t, 8> code);
std::vector<uint8_t> BuildDloadSwitchRequest();
// DIAG_CONTROL_F with a 16-bit mode.
std::vector<uint8_t> BuildControlRequest(uint16_t mode);
std::vector<uint8_t> BuildBatteryRequest();
std::vector<uint8_t> BuildNvRangesRequest();

// The model text of a DIAG_VERNO_F answer (up to its NUL or the end of the answer).
std::optional<std::string> ParseModelText(std::span<const uint8_t> answer);

struct BatteryAnswer {
  uint32_t status = 0;
  int level = 0;  // signed byte
};
// Nothing when the answer ends before its status; a non-zero status without level bytes still
// parses (level 0): the phone refused, and the level is not read.
std::optional<BatteryAnswer> ParseBatteryAnswer(std::span<const uint8_t> answer);

std::optional<NvRanges> ParseNvRanges(std::span<const uint8_t> answer);

}  // namespace tr52
