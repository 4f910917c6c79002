// A virtual handset's NV store, CNV and EFS2 tree answering on a scripted pseudo-terminal
// peer, with a bound link, NvClient and Efs2Client, and the process log in a temporary file.
//
// Tests may put a hook in front of the responders to script or break single answers; the
// requests the phone received are recorded by the peer.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/process_log.h"
#include "link/phone_link.h"
#include "phonedata/efs2_client.h"
#include "phonedata/nv_client.h"
#include "platform/clock.h"
#include "support/scoped_clock.h"
#include "support/scripted_peer.h"
#include "support/temp_dir.h"
#include "ui/progress_reporter.h"
#include "vphone/cnv_responder.h"
#include "vphone/efs_responder.h"
#include "vphone/nv_responder.h"

namespace tr52test {

class PhoneFixture {
 public:
  using Bytes = std::vector<uint8_t>;
  // Returns an answer list to use instead of the responders', or nullopt to let them answer.
  using Hook = std::function<std::optional<ScriptedPeer::Answers>(const Bytes& request)>;

  explicit PhoneFixture(double clockSpeed = 20.0, int com = 47)
      : clock_(clockSpeed),
        nv_(store_),
        cnv_(store_),
        efs_(tree_),
        peer_(com, [this](const Bytes& req) { return Answer(req); }),
        reporter_(nullptr, 0, static_cast<uint8_t>(com)) {
    logPath_ = dir_.File("test_log.txt");
    // Each test reads its own log.
    log_.Open(logPath_);
    {
      std::lock_guard<std::mutex> phone(mu_);  // the peer thread answers under this lock
      cnv_.SetLateAnswerSink(
          [this](Bytes frame, uint32_t delayMs) { SendLater(std::move(frame), delayMs); });
    }
    EXPECT_TRUE(link_.Open(static_cast<uint8_t>(com)));
    nvClient_.AttachLink(&link_, &reporter_);
    efsClient_.AttachLink(&link_, &reporter_);
  }

  ~PhoneFixture() {
    link_.Close();
    std::lock_guard<std::mutex> g(lateMu_);
    for (auto& t : late_) t.join();
  }

  // Sends `frame` as an answer of its own `delayMs` (process clock) from now.
  void SendLater(Bytes frame, uint32_t delayMs) {
    std::lock_guard<std::mutex> g(lateMu_);
    late_.emplace_back([this, frame = std::move(frame), delayMs] {
      tr52::SleepMs(delayMs);
      peer_.SendRaw(ScriptedPeer::Frame(frame));
    });
  }

  void SetHook(Hook hook) {
    std::lock_guard<std::mutex> g(mu_);
    hook_ = std::move(hook);
  }
  // Applies scenario keys to the NV store, CNV and EFS tree.
  void Apply(const vphone::Scenario& s) {
    std::lock_guard<std::mutex> g(mu_);
    nv_.ApplyScenario(s);
    cnv_.ApplyScenario(s);
    efs_.ApplyScenario(s);
  }
  // Runs `f` with the phone's state locked against the peer thread.
  template <typename F>
  auto WithPhone(F f) {
    std::lock_guard<std::mutex> g(mu_);
    return f(store_, tree_);
  }

  std::string LogText() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool LogHas(const std::string& text) const { return LogText().find(text) != std::string::npos; }
  size_t LogCount(const std::string& text) const {
    const std::string log = LogText();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  // Requests that started with `first` (and, when given, the 16-bit EFS2 command).
  size_t RequestsOf(uint8_t first, int efsCommand = -1) const {
    size_t n = 0;
    for (const auto& r : peer_.Requests()) {
      if (r.empty() || r[0] != first) continue;
      if (efsCommand >= 0 && (r.size() < 4 || (r[2] | (r[3] << 8)) != efsCommand)) continue;
      ++n;
    }
    return n;
  }

  tr52::PhoneLink& Link() { return link_; }
  tr52::NvClient& Nv() { return nvClient_; }
  tr52::Efs2Client& Efs() { return efsClient_; }
  tr52::ProgressReporter& Reporter() { return reporter_; }
  ScriptedPeer& Peer() { return peer_; }
  TempDir& Dir() { return dir_; }

 private:
  ScriptedPeer::Answers Answer(const Bytes& req) {
    std::lock_guard<std::mutex> g(mu_);
    if (hook_) {
      if (auto answers = hook_(req)) return *answers;
    }
    vphone::Reply reply;
    for (vphone::Responder* r :
         {static_cast<vphone::Responder*>(&nv_), static_cast<vphone::Responder*>(&cnv_),
          static_cast<vphone::Responder*>(&efs_)}) {
      if (r->Handle(vphone::Mode::Normal, req, reply)) {
        if (reply.silent) return {};
        return reply.frames;
      }
    }
    return {{0x13, req.empty() ? uint8_t{0} : req[0]}};
  }

  TempDir dir_;
  std::string logPath_;
  tr52::ProcessLog log_;
  const tr52::LogTarget logRoute_{log_};
  ScopedClock clock_;
  std::mutex mu_;
  Hook hook_;
  vphone::NvStore store_;
  vphone::EfsTree tree_;
  vphone::NvResponder nv_;
  vphone::CnvResponder cnv_;
  vphone::EfsResponder efs_;
  std::mutex lateMu_;
  std::vector<std::thread> late_;
  ScriptedPeer peer_;
  tr52::PhoneLink link_;
  tr52::ProgressReporter reporter_;
  tr52::NvClient nvClient_;
  tr52::Efs2Client efsClient_;
};

// An NV answer packet: the request echoed with `status`, and `data` when given.
inline std::vector<uint8_t> NvAnswer(const std::vector<uint8_t>& req, uint16_t item,
                                     uint16_t status, uint8_t fill = 0) {
  std::vector<uint8_t> out(req.begin(), req.begin() + std::min<size_t>(req.size(), 133));
  out.resize(133, 0);
  out[1] = static_cast<uint8_t>(item);
  out[2] = static_cast<uint8_t>(item >> 8);
  for (size_t i = 3; i < 131; ++i) out[i] = fill;
  out[131] = static_cast<uint8_t>(status);
  out[132] = static_cast<uint8_t>(status >> 8);
  return out;
}

}  // namespace tr52test
