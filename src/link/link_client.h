// The small base shared by the clients that talk to a phone through its link (the command
// clients, NV and EFS2).
//
// It binds a client to the session's link and progress sink. Requests come from a command
// family's builders and are copied to the link's request buffer; answers are read from the
// response buffer, only within the bytes the link received for the last answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/answer_reader.h"
#include "link/phone_link.h"

namespace tr52 {

class ProgressSink;

class LinkClient {
 public:
  LinkClient() = default;
  virtual ~LinkClient() = default;

  LinkClient(const LinkClient&) = delete;
  LinkClient& operator=(const LinkClient&) = delete;

  // Stores the link and the progress sink (may be null). May be called again to re-bind.
  void AttachLink(PhoneLink* link, ProgressSink* reporter);

  PhoneLink* Link() const { return link_; }
  ProgressSink* Reporter() const { return reporter_; }

 protected:
  // COM number for "[COM%d]" log lines (0 when not attached).
  int Port() const;
  bool Attached() const { return link_ != nullptr; }

  // One transaction of the request bytes; Failed when the client is not attached or the
  // request does not fit the link's request buffer.
  [[nodiscard]] TxRxResult Transact(std::span<const uint8_t> request, int timeoutMs);

  // The payload of the last answer (empty when not attached or nothing came).
  std::span<const uint8_t> AnswerBytes() const;
  // The "short answer" log line for an answer that lacks bytes up to `needed`.
  void LogShort(const char* command, size_t needed) const;

  PhoneLink* link_ = nullptr;
  ProgressSink* reporter_ = nullptr;
};

}  // namespace tr52
