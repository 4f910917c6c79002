#include "phonedata/cnv_requests.h"

#include "base/answer_reader.h"
#include "base/byte_reader.h"

namespace tr52 {

namespace {

constexpr uint8_t kSubsysDispatchV2 = 0x80;
constexpr uint8_t kCnvSubsystem = 0x37;
constexpr size_t kCnvRequestLength = 12;

}  // namespace

std::vector<uint8_t> BuildCnvRequest(uint16_t command) {
  std::vector<uint8_t> r(kCnvRequestLength, 0);
  r[0] = kSubsysDispatchV2;
  r[1] = kCnvSubsystem;
  StoreU16le(r.data() + 2, command);
  return r;
}

std::optional<CnvAnswer> ParseCnvAnswer(std::span<const uint8_t> answer) {
  AnswerReader reader(answer.data(), answer.size());
  const auto status = reader.U32(4);
  const auto count = reader.U16(10);
  if (!status || !count) return std::nullopt;
  return CnvAnswer{*status, *count};
}

}  // namespace tr52
