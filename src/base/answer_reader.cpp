#include "base/answer_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/byte_reader.h"
#include "base/process_log.h"

namespace tr52 {

namespace {

constexpr size_t kFcsBytes = 2;

}  // namespace

AnswerReader AnswerReader::OfFrame(const uint8_t* buffer, int frameLength, size_t capacity) {
  if (buffer == nullptr || frameLength <= static_cast<int>(kFcsBytes)) return AnswerReader();
  const size_t payload = static_cast<size_t>(frameLength) - kFcsBytes;
  return AnswerReader(buffer, std::min(payload, capacity));
}

bool AnswerReader::Reach(size_t offset, size_t n) {
  const size_t end = offset > std::numeric_limits<size_t>::max() - n
                         ? std::numeric_limits<size_t>::max()
                         : offset + n;
  needed_ = std::max(needed_, end);
  return end <= length_;
}

std::optional<uint8_t> AnswerReader::U8(size_t offset) {
  if (!Reach(offset, 1)) return std::nullopt;
  return bytes_[offset];
}

std::optional<uint16_t> AnswerReader::U16(size_t offset) {
  if (!Reach(offset, 2)) return std::nullopt;
  return LoadU16le(bytes_ + offset);
}

std::optional<uint32_t> AnswerReader::U32(size_t offset) {
  if (!Reach(offset, 4)) return std::nullopt;
  return LoadU32le(bytes_ + offset);
}

std::optional<std::span<const uint8_t>> AnswerReader::View(size_t offset, size_t n) {
  if (!Reach(offset, n)) return std::nullopt;
  return std::span<const uint8_t>(bytes_ + offset, n);
}

std::optional<std::string> AnswerReader::Text(size_t offset) {
  if (!Reach(offset, 1)) return std::nullopt;
  const auto* begin = reinterpret_cast<const char*>(bytes_ + offset);
  return std::string(begin, strnlen(begin, length_ - offset));
}

void LogShortAnswer(int port, const char* command, const AnswerReader& answer) {
  Log("[COM%d] %s - short answer (%zu bytes, %zu needed)", port, command, answer.Length(),
      answer.Needed());
}

}  // namespace tr52
