#include "phonedata/nv_requests.h"

#include "base/answer_reader.h"
#include "base/byte_reader.h"

namespace tr52 {

namespace {

constexpr uint8_t kSpcCommand = 0x41;
constexpr size_t kNvStatusOffset = 131;

}  // namespace

std::vector<uint8_t> BuildNvRead(uint16_t item, uint8_t index) {
  std::vector<uint8_t> r(NvRecord::kSize, 0);
  r[0] = kNvReadCommand;
  StoreU16le(r.data() + 1, item);
  r[3] = index;
  return r;
}

std::vector<uint8_t> BuildNvWrite(const NvRecord& record) {
  std::vector<uint8_t> r(NvRecord::kSize, 0);
  r[0] = kNvWriteCommand;
  StoreU16le(r.data() + 1, record.item);
  std::copy(record.data.begin(), record.data.end(), r.begin() + 3);
  return r;
}

std::vector<uint8_t> BuildSpcRequest(std::string_view code) {
  if (code.size() != kSpcLength) return {};
  std::vector<uint8_t> r{kSpcCommand};
  r.insert(r.end(), code.begin(), code.end());
  return r;
}

std::optional<uint16_t> ParseNvItem(std::span<const uint8_t> answer) {
  return AnswerReader(answer).U16(1);
}

std::optional<NvRecord> ParseNvPacket(std::span<const uint8_t> answer) {
  if (answer.size() < NvRecord::kSize) return std::nullopt;
  return NvRecord::DecodeFrom(answer.data());
}

std::optional<uint16_t> ParseNvWriteStatus(std::span<const uint8_t> answer) {
  return AnswerReader(answer).U16(kNvStatusOffset);
}

std::optional<bool> ParseSpcAnswer(std::span<const uint8_t> answer) {
  const auto accepted = AnswerReader(answer).U8(1);
  if (!accepted) return std::nullopt;
  return *accepted != 0;
}

}  // namespace tr52
