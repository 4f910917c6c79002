// A TR52 handset on a pseudo-terminal.
//
// The phone declares its pty in the port table as "ZUM Mobile USB Serial Port (COMn)", and a
// thread reads the host's bytes, delimits and checks frames, hands each request to the
// responders of the current mode and writes their answers framed. A mode switch (into
// download mode, a reset back to normal mode) makes the port vanish: the pty is closed and the
// port withdrawn; after the reboot delay a fresh pty is declared under the same COM number.
//
// Responders, in the order they are tried: the scripted answers (empty unless a test or the
// scenario adds rules), the scenario's refusals and silences, responders added with
// AddResponder, the phone-data responders (NV items, CNV, EFS2), the DIAG commands, the
// download protocol, the NAND programmer and the pipelined write; a request nobody handles is
// refused as the mode's protocol does (DIAG 0x13, download mode 0x03 NAK_INVALID_CMD).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "link/frame_codec.h"
#include "vphone/download_context.h"
#include "vphone/efs_tree.h"
#include "vphone/fault_plan.h"
#include "vphone/flash_store.h"
#include "vphone/link_pace.h"
#include "vphone/nv_store.h"
#include "vphone/responder.h"

namespace vphone {

class PtyPort;
class ScriptedResponder;

struct PhoneOptions {
  int com = 1;
  Mode startMode = Mode::Normal;
  uint32_t rebootDelayMs = 3000;  // process clock: tests compress it with a ScaledClock
  // Every answer is written this many microseconds (process clock) after it was made, as a
  // USB serial line's turnaround delays it; the phone keeps reading requests meanwhile. The
  // scenario key phone.answer_latency_us overrides it. 0 = at once.
  uint32_t answerLatencyUs = 0;
  // The line's rate in real bytes per second each way, as a real phone's line carries them
  // (the host's writes wait for room meanwhile); 0 = as fast as the pseudo-terminal goes.
  uint64_t linkBytesPerSecond = 0;
  Scenario scenario;
  // Called on the phone's thread with one line per request, answer and port change (for a
  // --trace console); none when empty.
  std::function<void(const std::string&)> trace;
};

std::string FriendlyPortName(int com);
const char* ModeName(Mode m);

class VirtualPhone {
 public:
  explicit VirtualPhone(PhoneOptions options);
  // Stops the thread, withdraws the port and closes the pty.
  ~VirtualPhone();
  VirtualPhone(const VirtualPhone&) = delete;
  VirtualPhone& operator=(const VirtualPhone&) = delete;

  // Opens the pty, declares the port and starts the thread; false with a message on failure.
  bool Start(std::string* error = nullptr);
  void Stop();

  // Adds a responder, tried before the phone's own ones (after the scripted answers).
  void AddResponder(std::shared_ptr<Responder> responder);
  ScriptedResponder& Script() { return *script_; }
  FlashStore& Flash() { return flash_; }
  // NV items; change them only before Start.
  NvStore& Nv() { return nv_; }
  // The EFS2 file tree; change it only before Start.
  EfsTree& Efs() { return efs_; }

  Mode CurrentMode() const;
  bool Present() const;            // the port exists right now
  std::string DevicePath() const;  // empty while the port is gone
  int Com() const { return options_.com; }
  uint64_t RequestsSeen() const;
  uint64_t RequestsSeen(uint8_t command) const;
  uint64_t BadFrames() const;
  int Boots() const;  // times the port (re)appeared
  // The last requests (at most 256, each cut to 64 bytes), oldest first.
  std::vector<Bytes> RecentRequests() const;
  // Waits (real time) until the port is present in `mode` (or absent when `present` is false).
  bool WaitFor(bool present, Mode mode, int timeoutMs) const;
  // "phone ..." lines, the flash store, then every responder's state.
  void DumpState(std::ostream& out) const;

 private:
  void Run();
  bool Appear(std::string* error);
  void Vanish(bool comeBack, uint64_t delayMs, Mode nextMode);
  void OnFrame(const uint8_t* bytes, size_t length);
  void Dispatch(std::span<const uint8_t> request, Reply& reply);
  Bytes Frame(const Bytes& payload, bool corrupt) const;
  void Send(const Reply& reply);
  void WriteAnswer(const Bytes& framed);
  void SendDueLateAnswers();
  // Writes the delayed answers that are due (all of them, waiting for each, when `all`).
  void WriteDelayedAnswers(bool all);
  // Real time the phone may wait for requests before the next delayed answer is due.
  int64_t MicrosToNextDelayed() const;
  void Trace(const char* what, std::span<const uint8_t> bytes);

  PhoneOptions options_;
  FlashStore flash_;
  NvStore nv_;
  EfsTree efs_;
  DownloadContext ctx_;
  std::shared_ptr<ScriptedResponder> script_;
  std::vector<std::shared_ptr<Responder>> added_;
  std::vector<std::shared_ptr<Responder>> own_;

  // Scenario of the phone itself.
  bool rebootNever_ = false;
  uint64_t pullAfterBytes_ = 0;
  int64_t replugAfterMs_ = -1;
  uint64_t badFcsAnswer_ = 0;
  uint64_t silentAnswer_ = 0;
  int refuseCmd_ = -1;
  int refuseSub_ = -1;
  Bytes refuseBytes_ = {0x03, 0x00, 0x07};
  int64_t refuseCount_ = 1;
  int silentCmd_ = -1;
  uint64_t answerLatencyUs_ = 0;
  LinkPace inPace_, outPace_;  // phone thread only
  FaultPlan fault_;  // fault.* keys; its state belongs to the phone's thread (under mutex_)

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::unique_ptr<PtyPort> port_;
  std::string devicePath_;
  Mode mode_;
  bool comingBack_ = false;
  uint64_t backAtMs_ = 0;
  uint64_t requests_ = 0;
  uint64_t perCommand_[256] = {};
  uint64_t badFrames_ = 0;
  uint64_t answers_ = 0;
  uint64_t bytesIn_ = 0;
  int boots_ = 0;
  uint64_t efsGenerationSeen_ = 0;  // the EFS the NV items were last taken from
  std::deque<Bytes> recent_;
  // Answers that follow later as frames of their own (phone thread only): due time, payload.
  std::vector<std::pair<uint64_t, Bytes>> late_;
  // Framed answers held back by the answer latency (phone thread only), oldest first: the
  // real time they are due and their bytes.
  std::deque<std::pair<std::chrono::steady_clock::time_point, Bytes>> delayed_;

  tr52::FrameAssembler assembler_;
  tr52::FrameCodec codec_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vphone
