#include "link/link_client.h"

#include <cstring>

#include "link/last_answer.h"

namespace tr52 {

void LinkClient::AttachLink(PhoneLink* link, ProgressSink* reporter) {
  link_ = link;
  reporter_ = reporter;
}

int LinkClient::Port() const {
  return link_ != nullptr ? link_->PortNumber() : 0;
}

TxRxResult LinkClient::Transact(std::span<const uint8_t> request, int timeoutMs) {
  if (!Attached() || request.empty() || request.size() > PhoneLink::kBufferSize)
    return TxRxResult::Failed;
  const PacketBufferPair buffers = link_->PacketBuffers();
  std::memcpy(buffers.request, request.data(), request.size());
  return link_->AsyncTxRx(buffers.request, buffers.response, static_cast<int>(request.size()),
                          timeoutMs);
}

std::span<const uint8_t> LinkClient::AnswerBytes() const {
  if (link_ == nullptr) return {};
  AnswerReader answer = LastAnswer(*link_);
  return answer.View(0, answer.Length()).value_or(std::span<const uint8_t>());
}

void LinkClient::LogShort(const char* command, size_t needed) const {
  const std::span<const uint8_t> bytes = AnswerBytes();
  AnswerReader answer(bytes.data(), bytes.size());
  static_cast<void>(answer.Holds(needed));  // notes the reach for the log line
  LogShortAnswer(Port(), command, answer);
}

}  // namespace tr52
