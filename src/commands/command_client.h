// The small base shared by the phone command clients (DiagClient, DloadClient).
//
// It binds a client to the session's link, progress reporter and packet buffers. Requests are
// built from byte 0 of the link's request buffer; answers are read from byte 0 of the response
// buffer through an AnswerReader, only within the bytes the link received for the last answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/answer_reader.h"
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

  // The last answer, read field by field within the bytes that arrived (an empty answer when
  // the client is not attached). A command checks that the answer holds every field it reads
  // before it trusts any of them; an answer that lacks one fails the command as a refused one
  // would, after LogShortAnswer.
  AnswerReader Answer() const;

  PhoneLink* link_ = nullptr;
  ProgressReporter* reporter_ = nullptr;
  PacketBufferPair buffers_{nullptr, nullptr};
};

}  // namespace tr52
