#include "commands/diag_requests.h"

#include <algorithm>

#include "base/answer_reader.h"
#include "base/byte_reader.h"
#include "phonedata/nv_ranges.h"

namespace tr52 {

namespace {

constexpr uint8_t kDiagVernoF = 0x00;
constexpr uint8_t kDiagControlF = 0x29;
constexpr uint8_t kDiagDloadF = 0x3A;
constexpr uint8_t kDiagPasswordF = 0x46;
constexpr uint8_t kDiagSubsysCmdF = 0x4B;
constexpr uint8_t kSubsysMaker = 0xFC;
constexpr uint16_t kSubsysBattery = 0x0004;
constexpr uint16_t kSubsysNvRanges = 0x0009;
constexpr size_t kModelTextOffset = 39;

std::vector<uint8_t> MakerRequest(uint16_t command) {
  std::vector<uint8_t> r(4, 0);
  r[0] = kDiagSubsysCmdF;
  r[1] = kSubsysMaker;
  StoreU16le(r.data() + 2, command);
  return r;
}

}  // namespace

std::vector<uint8_t> BuildVersionRequest() {
  return {kDiagVernoF};
}

std::vector<uint8_t> BuildPasswordRequest(std::span<const uint8_t, 8> code) {
  // Sized once: an insert after a one-byte start makes GCC 12 at -O3 warn of a bounds fault.
  std::vector<uint8_t> r(1 + code.size());
  r[0] = kDiagPasswordF;
  std::copy(code.begin(), code.end(), r.begin() + 1);
  return r;
}

std::vector<uint8_t> BuildDloadSwitchRequest() {
  return {kDiagDloadF};
}

std::vector<uint8_t> BuildControlRequest(uint16_t mode) {
  std::vector<uint8_t> r(3, 0);
  r[0] = kDiagControlF;
  StoreU16le(r.data() + 1, mode);
  return r;
}

std::vector<uint8_t> BuildBatteryRequest() {
  return MakerRequest(kSubsysBattery);
}

std::vector<uint8_t> BuildNvRangesRequest() {
  return MakerRequest(kSubsysNvRanges);
}

std::optional<std::string> ParseModelText(std::span<const uint8_t> answer) {
  return AnswerReader(answer).Text(kModelTextOffset);
}

std::optional<BatteryAnswer> ParseBatteryAnswer(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto status = reader.U32(4);
  if (!status) return std::nullopt;
  if (*status != 0) return BatteryAnswer{*status, 0};
  const auto level = reader.U8(8);
  if (!level) return std::nullopt;
  return BatteryAnswer{0, static_cast<int8_t>(*level)};
}

std::optional<NvRanges> ParseNvRanges(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto qctMin = reader.U16(4);
  const auto qctMax = reader.U16(6);
  const auto zumMin = reader.U16(8);
  const auto zumMax = reader.U16(10);
  if (!qctMin || !qctMax || !zumMin || !zumMax) return std::nullopt;
  NvRanges ranges;
  ranges.qctMin = *qctMin;
  ranges.qctMax = *qctMax;
  ranges.zumMin = *zumMin;
  ranges.zumMax = *zumMax;
  return ranges;
}

}  // namespace tr52
