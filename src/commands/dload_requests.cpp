#include "commands/dload_requests.h"

#include <algorithm>

#include "base/answer_reader.h"
#include "base/byte_reader.h"

namespace tr52 {

namespace {

constexpr uint8_t kZumCmd = 0x50;
constexpr uint8_t kSubGetParam = 0x00;
constexpr uint8_t kSubRamInit = 0x01;
constexpr uint8_t kSubRamWrite = 0x02;
constexpr uint8_t kSubRamProgram = 0x04;
constexpr uint8_t kSubRamInit2nd = 0x0C;
constexpr uint8_t kSubAsyncWrite = 0x10;
constexpr uint8_t kSubGetCommMode = 0x12;
constexpr uint8_t kDloadResetF = 0x0A;
constexpr uint8_t kDloadUnlockF = 0x0B;
constexpr uint8_t kDloadVerreqF = 0x0C;

std::vector<uint8_t> ZumRequest(uint8_t sub, size_t length) {
  std::vector<uint8_t> r(length, 0);
  r[0] = kZumCmd;
  r[1] = sub;
  return r;
}

}  // namespace

std::vector<uint8_t> BuildGetParameters() {
  return ZumRequest(kSubGetParam, 2);
}

std::vector<uint8_t> BuildGetCommMode() {
  return ZumRequest(kSubGetCommMode, 2);
}

std::vector<uint8_t> BuildRamInit(uint32_t amssSize, std::span<const uint8_t> header) {
  if (header.size() > kModemHeaderMax) return {};
  std::vector<uint8_t> r = ZumRequest(kSubRamInit, kRamInitLength);
  StoreU32le(r.data() + 2, amssSize);
  std::copy(header.begin(), header.end(), r.begin() + 6);
  return r;
}

std::vector<uint8_t> BuildRamInit2nd(uint32_t region, uint32_t size,
                                     std::span<const uint8_t> header) {
  if (header.size() > kModemHeaderMax) return {};
  std::vector<uint8_t> r = ZumRequest(kSubRamInit2nd, kRamInit2ndLength);
  StoreU32le(r.data() + 2, region);
  StoreU32le(r.data() + 6, size);
  std::copy(header.begin(), header.end(), r.begin() + 10);
  return r;
}

std::vector<uint8_t> BuildRamWrite(uint32_t offset, std::span<const uint8_t> chunk) {
  if (chunk.size() > kRamChunk) return {};
  std::vector<uint8_t> r = ZumRequest(kSubRamWrite, kRamWriteLength);
  StoreU32le(r.data() + 2, offset);
  StoreU16le(r.data() + 6, static_cast<uint16_t>(chunk.size()));
  std::copy(chunk.begin(), chunk.end(), r.begin() + 8);
  return r;
}

std::vector<uint8_t> BuildRamProgram() {
  return ZumRequest(kSubRamProgram, 2);
}

std::vector<uint8_t> BuildVersionQuery() {
  return {kDloadVerreqF};
}

std::vector<uint8_t> BuildUnlock(std::span<const uint8_t, 8> code) {
  // Sized once: an insert after a one-byte start makes GCC 12 at -O3 warn of a bounds fault.
  std::vector<uint8_t> r(1 + code.size());
  r[0] = kDloadUnlockF;
  std::copy(code.begin(), code.end(), r.begin() + 1);
  return r;
}

std::vector<uint8_t> BuildDloadReset() {
  return {kDloadResetF};
}

std::array<uint8_t, kAsyncHeaderLength> BuildAsyncWriteHeader(uint32_t offset, uint16_t length,
                                                              uint32_t sequence, uint32_t kind) {
  std::array<uint8_t, kAsyncHeaderLength> h{};
  h[0] = kZumCmd;
  h[1] = kSubAsyncWrite;
  StoreU32le(h.data() + 2, offset);
  StoreU16le(h.data() + 6, length);
  StoreU32le(h.data() + 8, sequence);
  StoreU32le(h.data() + 12, kind);
  return h;
}

std::optional<DloadParams> ParseParameters(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto paramByte = reader.U8(2);
  const auto paramWord = reader.U32(35);
  const auto flags = reader.U8(39);
  if (!paramByte || !paramWord || !flags) return std::nullopt;
  DloadParams p;
  p.valid = 1;
  p.paramByte = *paramByte;
  p.paramWord = *paramWord;
  p.flag0 = *flags & 0x01;
  p.flag1 = (*flags >> 1) & 0x01;
  p.flag2 = (*flags >> 2) & 0x01;
  p.flag3 = (*flags >> 3) & 0x01;
  p.flag4 = (*flags >> 4) & 0x01;
  p.flag6 = (*flags >> 6) & 0x01;
  return p;
}

std::optional<uint32_t> ParseCommMode(std::span<const uint8_t> answer) {
  return AnswerReader(answer).U32(2);
}

std::optional<RamInitAnswer> ParseRamInitAnswer(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto region = reader.U32(2);
  const auto errorNumber = reader.U32(7);
  if (!region || !errorNumber) return std::nullopt;
  return RamInitAnswer{*region, *errorNumber};
}

std::optional<uint32_t> ParseRamWriteAnswer(std::span<const uint8_t> answer) {
  return AnswerReader(answer).U32(2);
}

std::optional<RamProgramAnswer> ParseRamProgramAnswer(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto nandError = reader.U8(2);
  const auto errorNumber = reader.U32(3);
  if (!nandError || !errorNumber) return std::nullopt;
  return RamProgramAnswer{*nandError, *errorNumber};
}

std::optional<std::string> ParseModelName(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto n = reader.U8(1);
  if (!n) return std::nullopt;
  const auto bytes = reader.View(2, *n);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

size_t ModelNameAnswerSize(std::span<const uint8_t> answer) {
  return answer.size() >= 2 ? 2 + static_cast<size_t>(answer[1]) : 2;
}

std::optional<AsyncAck> ParseAsyncAck(std::span<const uint8_t> answer) {
  AnswerReader reader(answer);
  const auto sequence = reader.U32(2);
  const auto interval = reader.U32(6);
  const auto errorNumber = reader.U32(10);
  const auto nandError = reader.U8(14);
  if (!sequence || !interval || !errorNumber || !nandError) return std::nullopt;
  return AsyncAck{*sequence, *interval, *errorNumber, *nandError};
}

}  // namespace tr52
