// The small base shared by the phone command clients (DiagClient, DloadClient).
//
// It binds a client to the session's link, progress reporter and packet buffers. Requests are
// built from byte 0 of the link's request buffer; answers are read from byte 0 of the response
// buffer, but only within the bytes the link actually received for the last answer: a field
// past the end of the answer reads as zero, never as a leftover of an earlier answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/phone_link.h"
#include "win/window.h"

namespace tr52 {

class ProgressReporter;

class CommandClient {
 public:
  CommandClient() = default;
  virtual ~CommandClient() = default;

  CommandClient(const CommandClient&) = delete;
  CommandClient& operator=(const CommandClient&) = delete;

  // Stores the link and the reporter (may be null), makes `hostWindow` the reporter's text
  // target and takes the link's packet buffers. May be called again to re-bind.
  void AttachLink(PhoneLink* link, ProgressReporter* reporter, win::HWND hostWindow);

  PhoneLink* Link() const { return link_; }
  ProgressReporter* Reporter() const { return reporter_; }

 protected:
  // COM number for "[COM%d]" log lines (0 when not attached).
  int Port() const;
  bool Attached() const { return link_ != nullptr && buffers_.request != nullptr; }

  uint8_t* Request() { return buffers_.request; }
  // Zeroes the first `n` request bytes.
  void ClearRequest(size_t n);
  // One transaction of `length` request bytes; the link's result (1, 0 or 26). 0 when the
  // client is not attached.
  int Transact(int length, int timeoutMs);

  // Payload bytes of the last answer (the link's response length without its 2 FCS bytes).
  size_t AnswerLength() const;
  // Fields of the last answer; bytes beyond AnswerLength() read as zero.
  uint8_t AnswerU8(size_t offset) const;
  uint16_t AnswerU16(size_t offset) const;
  uint32_t AnswerU32(size_t offset) const;
  // The NUL-terminated text at `offset`, cut at the end of the answer.
  std::string AnswerText(size_t offset) const;
  // `n` bytes at `offset`, cut at the end of the answer.
  std::string AnswerBytes(size_t offset, size_t n) const;

  PhoneLink* link_ = nullptr;
  ProgressReporter* reporter_ = nullptr;
  PacketBufferPair buffers_{nullptr, nullptr};
};

}  // namespace tr52
