#include "commands/command_client.h"

#include <algorithm>
#include <cstring>

#include "base/progress_reporter.h"

namespace tr52 {

void CommandClient::AttachLink(PhoneLink* link, ProgressReporter* reporter, win::HWND hostWindow) {
  link_ = link;
  reporter_ = reporter;
  if (reporter_ != nullptr) reporter_->SetTextTarget(hostWindow);
  buffers_ = link_ != nullptr ? link_->PacketBuffers() : PacketBufferPair{nullptr, nullptr};
}

int CommandClient::Port() const {
  return link_ != nullptr ? link_->PortNumber() : 0;
}

void CommandClient::ClearRequest(size_t n) {
  if (buffers_.request != nullptr)
    std::memset(buffers_.request, 0, std::min(n, PhoneLink::kBufferSize));
}

int CommandClient::Transact(int length, int timeoutMs) {
  if (!Attached()) return TXRX_FAILED;
  return link_->AsyncTxRx(buffers_.request, buffers_.response, length, timeoutMs);
}

size_t CommandClient::AnswerLength() const {
  if (link_ == nullptr || buffers_.response == nullptr) return 0;
  const int n = link_->ResponseLength() - 2;
  if (n <= 0) return 0;
  return std::min(static_cast<size_t>(n), PhoneLink::kBufferSize);
}

uint8_t CommandClient::AnswerU8(size_t offset) const {
  return offset < AnswerLength() ? buffers_.response[offset] : 0;
}

uint16_t CommandClient::AnswerU16(size_t offset) const {
  return static_cast<uint16_t>(AnswerU8(offset) | (AnswerU8(offset + 1) << 8));
}

uint32_t CommandClient::AnswerU32(size_t offset) const {
  return static_cast<uint32_t>(AnswerU16(offset)) |
         (static_cast<uint32_t>(AnswerU16(offset + 2)) << 16);
}

std::string CommandClient::AnswerText(size_t offset) const {
  const size_t length = AnswerLength();
  if (offset >= length) return {};
  const auto* begin = reinterpret_cast<const char*>(buffers_.response + offset);
  return std::string(begin, strnlen(begin, length - offset));
}

std::string CommandClient::AnswerBytes(size_t offset, size_t n) const {
  const size_t length = AnswerLength();
  if (offset >= length) return {};
  const auto* begin = reinterpret_cast<const char*>(buffers_.response + offset);
  return std::string(begin, std::min(n, length - offset));
}

}  // namespace tr52
