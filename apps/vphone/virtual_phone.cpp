#include "vphone/virtual_phone.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "platform/clock.h"
#include "platform/port_table.h"
#include "vphone/cnv_responder.h"
#include "vphone/diag_responder.h"
#include "vphone/dload_responder.h"
#include "vphone/efs_responder.h"
#include "vphone/nand_programmer.h"
#include "vphone/nv_responder.h"
#include "vphone/pipelined_writer.h"
#include "vphone/pty_port.h"
#include "vphone/scenario.h"
#include "vphone/scripted_responder.h"

namespace vphone {

namespace {
constexpr size_t kRecentKept = 256;
constexpr size_t kRecentBytes = 64;
constexpr int kWriteTimeoutMs = 10000;
constexpr int kDrainWaitMs = 500;
constexpr int kSettleMs = 20;
}  // namespace

std::string FriendlyPortName(int com) {
  return "ZUM Mobile USB Serial Port (COM" + std::to_string(com) + ")";
}

const char* ModeName(Mode m) {
  return m == Mode::Normal ? "normal" : "download";
}

VirtualPhone::VirtualPhone(PhoneOptions options)
    : options_(std::move(options)),
      ctx_(flash_),
      script_(std::make_shared<ScriptedResponder>()),
      inPace_(options_.linkBytesPerSecond),
      outPace_(options_.linkBytesPerSecond),
      mode_(options_.startMode) {
  own_.push_back(std::make_shared<NvResponder>(nv_));
  auto cnv = std::make_shared<CnvResponder>(nv_, &efs_);
  cnv->SetLateAnswerSink([this](Bytes frame, uint32_t delayMs) {
    late_.emplace_back(tr52::NowMs() + delayMs, std::move(frame));
  });
  own_.push_back(std::move(cnv));
  own_.push_back(std::make_shared<EfsResponder>(efs_));
  own_.push_back(std::make_shared<DiagResponder>());
  own_.push_back(std::make_shared<DloadResponder>(ctx_));
  own_.push_back(std::make_shared<NandProgrammer>(ctx_));
  own_.push_back(std::make_shared<PipelinedWriter>(ctx_));
  const Scenario& s = options_.scenario;
  for (auto& r : own_) r->ApplyScenario(s);
  rebootNever_ = ScenarioBool(s, "phone.reboot_never", false);
  pullAfterBytes_ = static_cast<uint64_t>(ScenarioInt(s, "phone.pull_after_bytes", 0));
  replugAfterMs_ = ScenarioInt(s, "phone.replug_after_ms", -1);
  badFcsAnswer_ = static_cast<uint64_t>(ScenarioInt(s, "phone.bad_fcs_answer", 0));
  silentAnswer_ = static_cast<uint64_t>(ScenarioInt(s, "phone.silent_answer", 0));
  refuseCmd_ = static_cast<int>(ScenarioInt(s, "phone.refuse_cmd", -1));
  refuseSub_ = static_cast<int>(ScenarioInt(s, "phone.refuse_sub", -1));
  if (auto b = ScenarioBytes(s, "phone.refuse_bytes"); b && !b->empty()) refuseBytes_ = *b;
  refuseCount_ = ScenarioInt(s, "phone.refuse_count", 1);
  silentCmd_ = static_cast<int>(ScenarioInt(s, "phone.silent_cmd", -1));
  answerLatencyUs_ = static_cast<uint64_t>(
      std::max<int64_t>(ScenarioInt(s, "phone.answer_latency_us", options_.answerLatencyUs), 0));
  script_->ApplyScenario(s);
  fault_.ApplyScenario(s);
}

VirtualPhone::~VirtualPhone() {
  Stop();
}

void VirtualPhone::AddResponder(std::shared_ptr<Responder> responder) {
  std::lock_guard lock(mutex_);
  responder->ApplyScenario(options_.scenario);
  added_.push_back(std::move(responder));
}

bool VirtualPhone::Start(std::string* error) {
  if (thread_.joinable()) return true;
  std::string err;
  if (!Appear(&err)) {
    if (error) *error = err;
    return false;
  }
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void VirtualPhone::Stop() {
  stop_ = true;
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  if (port_) {
    tr52::WithdrawPort(options_.com);
    port_.reset();
    devicePath_.clear();
  }
  comingBack_ = false;
  changed_.notify_all();
}

bool VirtualPhone::Appear(std::string* error) {
  std::string err;
  auto port = PtyPort::Open(err);
  if (!port) {
    if (error) *error = err;
    return false;
  }
  if (!tr52::DeclarePort(options_.com, port->DevicePath(), FriendlyPortName(options_.com))) {
    if (error)
      *error = "cannot declare COM" + std::to_string(options_.com) + " in the port table " +
               tr52::PortTableDir();
    return false;
  }
  std::lock_guard lock(mutex_);
  devicePath_ = port->DevicePath();
  port_ = std::move(port);
  comingBack_ = false;
  assembler_.Reset();
  delayed_.clear();
  ++boots_;
  changed_.notify_all();
  if (options_.trace)
    options_.trace("COM" + std::to_string(options_.com) + " on " + devicePath_ + " (" +
                   ModeName(mode_) + " mode)");
  return true;
}

void VirtualPhone::Vanish(bool comeBack, uint64_t delayMs, Mode nextMode) {
  // Let the host read the last answer before the port goes (a handset's USB stack flushes its
  // queue before it detaches): answers held back by the latency go out first.
  WriteDelayedAnswers(true);
  // The pty moves written bytes to the host's queue asynchronously, so an empty queue counts
  // only once the bytes had time to get there.
  auto start = std::chrono::steady_clock::now();
  auto until = start + std::chrono::milliseconds(kDrainWaitMs);
  while (port_ && std::chrono::steady_clock::now() < until &&
         (port_->Unread() > 0 ||
          std::chrono::steady_clock::now() < start + std::chrono::milliseconds(kSettleMs)))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::lock_guard lock(mutex_);
  tr52::WithdrawPort(options_.com);
  port_.reset();
  devicePath_.clear();
  mode_ = nextMode;
  comingBack_ = comeBack;
  backAtMs_ = tr52::NowMs() + delayMs;
  assembler_.Reset();
  late_.clear();
  ctx_.Reset();
  // The NV items live in the EFS: a phone that boots a newly written EFS has lost its
  // calibration until the calibration copy is restored.
  if (const uint64_t efs = flash_.EfsGeneration(); efs != efsGenerationSeen_) {
    efsGenerationSeen_ = efs;
    nv_.ClearCalibration();
  }
  for (auto& r : added_) r->OnBoot(nextMode);
  for (auto& r : own_) r->OnBoot(nextMode);
  if (auto model = fault_.ModelOnBoot())
    for (auto& r : own_) r->ApplyScenario(*model);
  changed_.notify_all();
  if (options_.trace)
    options_.trace("COM" + std::to_string(options_.com) + " gone" +
                   (comeBack ? std::string(", back in ") + ModeName(nextMode) + " mode after " +
                                   std::to_string(delayMs) + " ms"
                             : std::string(" for good")));
}

void VirtualPhone::Trace(const char* what, std::span<const uint8_t> bytes) {
  if (!options_.trace) return;
  std::string line = "COM" + std::to_string(options_.com) + " " + what;
  char hex[4];
  for (size_t i = 0; i < bytes.size() && i < 24; ++i) {
    std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
    line += hex;
  }
  if (bytes.size() > 24) line += " ... (" + std::to_string(bytes.size()) + " bytes)";
  options_.trace(line);
}

void VirtualPhone::Run() {
  std::vector<uint8_t> buf(65536);
  bool pulled = false;
  bool flowing = false;  // the last read found bytes: read again before waiting for more
  while (!stop_) {
    if (!port_) {
      bool due;
      {
        std::unique_lock lock(mutex_);
        due = comingBack_ && tr52::NowMs() >= backAtMs_;
        if (!due) {
          changed_.wait_for(lock, std::chrono::milliseconds(2));
          continue;
        }
      }
      std::string err;
      if (!Appear(&err)) {
        std::cerr << "vphone: COM" << options_.com << ": " << err << "\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      continue;
    }
    SendDueLateAnswers();
    WriteDelayedAnswers(false);
    const int waitMs = late_.empty() ? 10 : 1;
    const bool readable =
        flowing ||
        (delayed_.empty()
             ? port_->WaitReadable(waitMs)
             : port_->WaitReadableUs(std::min<int64_t>(waitMs * 1000, MicrosToNextDelayed())));
    if (!readable) continue;
    const size_t n = port_->Read(buf.data(), inPace_.Chunk(buf.size()));
    flowing = n > 0;
    // On a paced line the bytes are there once they have crossed it.
    if (n > 0 && inPace_.Paced())
      std::this_thread::sleep_until(inPace_.Pass(n, std::chrono::steady_clock::now()));
    // Fed a block at a time, up to each frame's end: the byte that makes `pullAfterBytes_`
    // is counted but never fed, the cable going just before it.
    for (size_t i = 0; i < n && port_;) {
      size_t span = n - i;
      if (!pulled && pullAfterBytes_ != 0) {
        if (bytesIn_ + 1 >= pullAfterBytes_) {
          ++bytesIn_;
          pulled = true;
          Vanish(replugAfterMs_ >= 0, static_cast<uint64_t>(std::max<int64_t>(replugAfterMs_, 0)),
                 mode_);
          break;
        }
        span = std::min<uint64_t>(span, pullAfterBytes_ - 1 - bytesIn_);
      }
      const size_t taken = assembler_.FeedBytes(buf.data() + i, span);
      i += taken;
      bytesIn_ += taken;
      if (taken > 0 && assembler_.FrameReady())
        OnFrame(assembler_.Frame(), assembler_.FrameLength());
    }
  }
}

void VirtualPhone::OnFrame(const uint8_t* bytes, size_t length) {
  Reply reply;
  if (!codec_.CheckRxFrame(bytes, length) || codec_.RxLength() < 3) {
    Mode mode;
    {
      std::lock_guard lock(mutex_);
      ++badFrames_;
      mode = mode_;
    }
    // The download protocol refuses a damaged frame; DIAG drops it.
    if (mode == Mode::Download) {
      reply.frames.push_back(DloadNak(0, kNakInvalidFcs));
      Send(reply);
    }
    return;
  }
  std::span<const uint8_t> request(codec_.RxBuffer(), codec_.RxLength() - 2);
  Mode before;
  FaultPlan::Action fault;
  {
    std::lock_guard lock(mutex_);
    before = mode_;
    ++requests_;
    ++perCommand_[request[0]];
    recent_.emplace_back(request.begin(), request.begin() + std::min(request.size(), kRecentBytes));
    if (recent_.size() > kRecentKept) recent_.pop_front();
    fault = fault_.OnRequest(mode_, request);
    if (fault == FaultPlan::Action::Answer)
      Dispatch(request, reply);
    else if (fault == FaultPlan::Action::Refuse)
      reply.frames.push_back(mode_ == Mode::Normal ? DiagError(kDiagBadCmd, request)
                                                   : DloadNak(0, kNakInvalidCmd));
  }
  Trace("<", request);
  if (fault == FaultPlan::Action::Pull) {
    const auto replug = fault_.ReplugDelayMs();
    Vanish(replug.has_value(), replug.value_or(0), before);
    return;
  }
  Send(reply);
  switch (reply.next) {
    case Reply::Switch::None:
      break;
    case Reply::Switch::ToDownload:
    case Reply::Switch::ToNormal: {
      Mode next = reply.next == Reply::Switch::ToDownload ? Mode::Download : Mode::Normal;
      Vanish(!rebootNever_ && !fault_.RebootNever(), options_.rebootDelayMs, next);
      break;
    }
    case Reply::Switch::Gone:
      Vanish(false, 0, before);
      break;
  }
}

void VirtualPhone::Dispatch(std::span<const uint8_t> request, Reply& reply) {
  if (script_->Handle(mode_, request, reply)) return;
  if (refuseCmd_ == request[0] && refuseCount_ != 0 &&
      (refuseSub_ < 0 || (request.size() > 1 && request[1] == refuseSub_))) {
    if (refuseCount_ > 0) --refuseCount_;
    reply.frames.push_back(refuseBytes_);
    return;
  }
  if (silentCmd_ == request[0]) {
    reply.silent = true;
    return;
  }
  for (auto& r : added_)
    if (r->Handle(mode_, request, reply)) return;
  for (auto& r : own_)
    if (r->Handle(mode_, request, reply)) return;
  // Nobody knows the command: refuse it the way the current protocol does.
  if (mode_ == Mode::Normal)
    reply.frames.push_back(DiagError(kDiagBadCmd, request));
  else
    reply.frames.push_back(DloadNak(0, kNakInvalidCmd));
}

// Flag, escaped payload, escaped CRC-16/X.25 (low byte first), flag. A corrupt frame carries
// a check sequence off by one bit, still correctly escaped, so only the check fails.
Bytes VirtualPhone::Frame(const Bytes& payload, bool corrupt) const {
  Bytes out;
  out.reserve(payload.size() * 2 + 6);
  auto put = [&out](uint8_t b) {
    if (b == 0x7E || b == 0x7D) {
      out.push_back(0x7D);
      out.push_back(b ^ 0x20);
    } else {
      out.push_back(b);
    }
  };
  out.push_back(0x7E);
  for (uint8_t b : payload) put(b);
  uint16_t crc = tr52::Crc16(payload.data(), payload.size());
  if (corrupt) crc ^= 0x0001;
  put(static_cast<uint8_t>(crc));
  put(static_cast<uint8_t>(crc >> 8));
  out.push_back(0x7E);
  return out;
}

void VirtualPhone::Send(const Reply& reply) {
  if (reply.delayMs) tr52::SleepMs(reply.delayMs);
  if (reply.silent || reply.frames.empty() || !port_) return;
  uint64_t index;
  {
    std::lock_guard lock(mutex_);
    index = ++answers_;
  }
  if (index == silentAnswer_ || !fault_.AnswersAllowed()) return;
  const bool corruptAll = fault_.CorruptAnswers();
  Bytes out;
  for (size_t i = 0; i < reply.frames.size(); ++i) {
    Trace(">", reply.frames[i]);
    bool corrupt = corruptAll || static_cast<int>(i) == reply.badFcsFrame ||
                   (i == 0 && index == badFcsAnswer_);
    Bytes f = Frame(reply.frames[i], corrupt);
    out.insert(out.end(), f.begin(), f.end());
  }
  if (reply.cutAfterBytes >= 0 && static_cast<size_t>(reply.cutAfterBytes) < out.size())
    out.resize(static_cast<size_t>(reply.cutAfterBytes));
  if (answerLatencyUs_ == 0) {
    WriteAnswer(out);
    return;
  }
  // Held back in order; the clock's speed compresses the latency like every other wait.
  const auto realUs =
      static_cast<int64_t>(static_cast<double>(answerLatencyUs_) / tr52::GetClock().Speed());
  delayed_.emplace_back(std::chrono::steady_clock::now() + std::chrono::microseconds(realUs),
                        std::move(out));
}

void VirtualPhone::WriteAnswer(const Bytes& framed) {
  if (outPace_.Paced())
    std::this_thread::sleep_until(outPace_.Pass(framed.size(), std::chrono::steady_clock::now()));
  if (!port_->WriteAll(framed.data(), framed.size(), kWriteTimeoutMs))
    std::cerr << "vphone: COM" << options_.com << ": answer not written (host not reading)\n";
}

void VirtualPhone::WriteDelayedAnswers(bool all) {
  while (!delayed_.empty()) {
    if (!port_) {
      delayed_.clear();
      return;
    }
    const auto due = delayed_.front().first;
    if (std::chrono::steady_clock::now() < due) {
      if (!all) return;
      std::this_thread::sleep_until(due);
    }
    WriteAnswer(delayed_.front().second);
    delayed_.pop_front();
  }
}

int64_t VirtualPhone::MicrosToNextDelayed() const {
  if (delayed_.empty()) return 0;
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
      delayed_.front().first - std::chrono::steady_clock::now());
  return std::max<int64_t>(left.count(), 0);
}

void VirtualPhone::SendDueLateAnswers() {
  if (late_.empty()) return;
  uint64_t now = tr52::NowMs();
  for (size_t i = 0; i < late_.size();) {
    if (late_[i].first > now) {
      ++i;
      continue;
    }
    Reply reply;
    reply.frames.push_back(std::move(late_[i].second));
    late_.erase(late_.begin() + static_cast<long>(i));
    Send(reply);
  }
}

Mode VirtualPhone::CurrentMode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

bool VirtualPhone::Present() const {
  std::lock_guard lock(mutex_);
  return port_ != nullptr;
}

std::string VirtualPhone::DevicePath() const {
  std::lock_guard lock(mutex_);
  return devicePath_;
}

uint64_t VirtualPhone::RequestsSeen() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

uint64_t VirtualPhone::RequestsSeen(uint8_t command) const {
  std::lock_guard lock(mutex_);
  return perCommand_[command];
}

uint64_t VirtualPhone::BadFrames() const {
  std::lock_guard lock(mutex_);
  return badFrames_;
}

int VirtualPhone::Boots() const {
  std::lock_guard lock(mutex_);
  return boots_;
}

std::vector<Bytes> VirtualPhone::RecentRequests() const {
  std::lock_guard lock(mutex_);
  return {recent_.begin(), recent_.end()};
}

bool VirtualPhone::WaitFor(bool present, Mode mode, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return present ? (port_ != nullptr && mode_ == mode) : port_ == nullptr;
  });
}

void VirtualPhone::DumpState(std::ostream& out) const {
  std::lock_guard lock(mutex_);
  out << "phone com " << options_.com << "\n"
      << "phone mode " << ModeName(mode_) << "\n"
      << "phone present " << (port_ ? 1 : 0) << "\n"
      << "phone boots " << boots_ << "\n"
      << "phone requests " << requests_ << "\n"
      << "phone bad_frames " << badFrames_ << "\n"
      << "phone answers " << answers_ << "\n";
  flash_.Dump(out);
  script_->DumpState(out);
  for (const auto& r : added_) r->DumpState(out);
  for (const auto& r : own_) r->DumpState(out);
}

}  // namespace vphone
