// A PhoneLink opened on a scripted peer, with the process clock sped up and the log captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "link/phone_link.h"
#include "support/log_capture.h"
#include "support/scoped_clock.h"
#include "support/scripted_peer.h"

namespace tr52test {

class LinkTest : public ::testing::Test {
 protected:
  using Bytes = ScriptedPeer::Bytes;
  static constexpr int kCom = 41;
  // Ten times real speed: a 3000 ms time-out takes 300 ms, long enough for a loaded machine
  // to answer in time, short enough for a fast suite.
  static constexpr double kSpeed = 10.0;

  void SetUp() override {
    log_ = std::make_unique<LogCapture>();
    peer_ = std::make_unique<ScriptedPeer>(kCom);
    ASSERT_TRUE(link_.Open(kCom));
  }
  void TearDown() override { link_.Close(); }

  // Sets the answer(s) the peer gives to every request.
  void AnswerWith(std::vector<Bytes> answers) {
    peer_->SetHandler([answers](const Bytes&) { return answers; });
  }
  // Runs one transaction with `request` as the payload.
  int Transact(const Bytes& request, int timeoutMs = 3000) {
    auto bufs = link_.PacketBuffers();
    std::copy(request.begin(), request.end(), bufs.request);
    return static_cast<int>(
        link_.AsyncTxRx(bufs.request, bufs.response, static_cast<int>(request.size()), timeoutMs));
  }
  Bytes Response(size_t n) const {
    auto bufs = const_cast<tr52::PhoneLink&>(link_).PacketBuffers();
    return Bytes(bufs.response, bufs.response + n);
  }
  // Requests whose payload equals `request` (wake-up bytes are not requests).
  size_t Sent(const Bytes& request) const {
    size_t n = 0;
    for (const auto& r : peer_->Requests()) n += (r == request);
    return n;
  }

  ScopedClock clock_{kSpeed};
  std::unique_ptr<LogCapture> log_;
  std::unique_ptr<ScriptedPeer> peer_;
  tr52::PhoneLink link_;
};

}  // namespace tr52test
