#include "commands/command_client.h"

#include <algorithm>
#include <cstring>

#include "base/progress_reporter.h"
#include "link/last_answer.h"

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

AnswerReader CommandClient::Answer() const {
  if (link_ == nullptr) return AnswerReader();
  return LastAnswer(*link_);
}

}  // namespace tr52
