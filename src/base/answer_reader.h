// Bounds-checked reading of the fields of a phone's answer.
//
// An answer is the payload of one received frame; its fields sit at fixed offsets given by the
// command's layout. A field that does not lie wholly inside the bytes that arrived is missing:
// it never reads as zero (the link clears its buffer past the answer) nor as a leftover of an
// earlier answer. The reader remembers how far the fields asked for reach, so that a command
// can reject an answer that lacks one of them and log what it needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tr52 {

class AnswerReader {
 public:
  // No answer: every field is missing.
  AnswerReader() = default;
  AnswerReader(const uint8_t* bytes, size_t length)
      : bytes_(bytes), length_(bytes != nullptr ? length : 0) {}
  explicit AnswerReader(std::span<const uint8_t> answer)
      : AnswerReader(answer.data(), answer.size()) {}

  // The payload of a received frame of `frameLength` bytes (payload, then its 2 FCS bytes) at
  // the start of a buffer of `capacity` bytes.
  static AnswerReader OfFrame(const uint8_t* buffer, int frameLength, size_t capacity);

  // Bytes of the answer.
  size_t Length() const { return length_; }
  // The end of the farthest field asked for so far (0 before the first).
  size_t Needed() const { return needed_; }
  // True while every field asked for lay inside the answer.
  bool Complete() const { return needed_ <= length_; }

  // Little-endian fields at `offset`; nothing when the field is missing.
  std::optional<uint8_t> U8(size_t offset);
  std::optional<uint16_t> U16(size_t offset);
  std::optional<uint32_t> U32(size_t offset);
  // `n` bytes at `offset`.
  std::optional<std::span<const uint8_t>> View(size_t offset, size_t n);
  // A NUL-terminated text at `offset`: the characters up to its NUL or the end of the answer,
  // whichever comes first. Missing when the answer ends before `offset` + 1.
  std::optional<std::string> Text(size_t offset);
  // Whether the answer holds its first `n` bytes (counted as a field of that reach).
  bool Holds(size_t n) { return View(0, n).has_value(); }

 private:
  // Notes the reach of a field of `n` bytes at `offset`; true when it lies inside the answer.
  [[nodiscard]] bool Reach(size_t offset, size_t n);

  const uint8_t* bytes_ = nullptr;
  size_t length_ = 0;
  size_t needed_ = 0;
};

// Logs "[COM%d] <command> - short answer (%d bytes, %d needed)" for an answer that lacks a
// field the command reads.
void LogShortAnswer(int port, const char* command, const AnswerReader& answer);

}  // namespace tr52
