#include "support/scripted_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include "platform/clock.h"
#include "platform/port_table.h"

namespace tr52test {
namespace {

// The peer frames and checks on its own (bitwise CRC-16/X.25, no shared codec), so that it is
// an independent check of the link's codec rather than a mirror of it.
constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;

uint16_t Crc16X25(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  return static_cast<uint16_t>(~crc);
}

// Delimits frames in the byte stream; returns the good payloads (FCS checked and removed).
class Deframer {
 public:
  void Feed(uint8_t b, std::vector<ScriptedPeer::Bytes>& out) {
    if (b != kFlag) {
      if (escaped_) {
        cur_.push_back(static_cast<uint8_t>(b ^ 0x20));
        escaped_ = false;
      } else if (b == kEscape) {
        escaped_ = true;
      } else {
        cur_.push_back(b);
      }
      if (cur_.size() > 65536) cur_.clear();
      return;
    }
    const bool bad = escaped_;
    escaped_ = false;
    if (cur_.size() >= 3 && !bad) {
      const size_t n = cur_.size() - 2;
      const uint16_t fcs = static_cast<uint16_t>(cur_[n] | (cur_[n + 1] << 8));
      if (Crc16X25(cur_.data(), n) == fcs) out.emplace_back(cur_.begin(), cur_.begin() + n);
    }
    cur_.clear();
  }

 private:
  ScriptedPeer::Bytes cur_;
  bool escaped_ = false;
};

void AppendEscaped(ScriptedPeer::Bytes& out, uint8_t b) {
  if (b == kFlag || b == kEscape) {
    out.push_back(kEscape);
    out.push_back(static_cast<uint8_t>(b ^ 0x20));
  } else {
    out.push_back(b);
  }
}

ScriptedPeer::Bytes FrameWithFcs(const ScriptedPeer::Bytes& payload, uint16_t fcs) {
  ScriptedPeer::Bytes out;
  out.reserve(payload.size() + 8);
  out.push_back(kFlag);
  for (uint8_t b : payload) AppendEscaped(out, b);
  AppendEscaped(out, static_cast<uint8_t>(fcs & 0xFF));
  AppendEscaped(out, static_cast<uint8_t>(fcs >> 8));
  out.push_back(kFlag);
  return out;
}

// The process-wide table folder (private to the user, as the port table requires), removed
// when the test program exits; TR52_PORT_TABLE then gets back its earlier value.
struct TableFolder {
  std::string path;
  std::optional<std::string> previous;
  TableFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tr52-peer-ports-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("ScriptedPeer: mkdtemp failed");
    path = tmpl;
    if (const char* old = std::getenv("TR52_PORT_TABLE")) previous = old;
    setenv("TR52_PORT_TABLE", path.c_str(), 1);
  }
  ~TableFolder() {
    if (previous)
      setenv("TR52_PORT_TABLE", previous->c_str(), 1);
    else
      unsetenv("TR52_PORT_TABLE");
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

const std::string& ScriptedPeer::TableDir() {
  static TableFolder folder;
  return folder.path;
}

ScriptedPeer::Bytes ScriptedPeer::Frame(const Bytes& payload) {
  return FrameWithFcs(payload, Crc16X25(payload.data(), payload.size()));
}

ScriptedPeer::ScriptedPeer(int com, Handler handler) : com_(com), handler_(std::move(handler)) {
  TableDir();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error("ScriptedPeer: cannot open a pseudo-terminal");
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0)
    throw std::runtime_error("ScriptedPeer: ptsname failed");
  slavePath_ = name;
  // Holding the slave open keeps the master readable while the link closes and reopens it.
  slaveHold_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveHold_ < 0) throw std::runtime_error("ScriptedPeer: cannot open " + slavePath_);
  struct termios tio;
  if (tcgetattr(slaveHold_, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(slaveHold_, TCSANOW, &tio);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) throw std::runtime_error("ScriptedPeer: pipe failed");
  const std::string friendly = "ZUM Mobile USB Serial Port (COM" + std::to_string(com) + ")";
  if (!tr52::DeclarePort(com, slavePath_, friendly))
    throw std::runtime_error("ScriptedPeer: cannot declare COM" + std::to_string(com));
  thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) {
    const char c = 'x';
    (void)!write(stopPipe_[1], &c, 1);
    thread_.join();
  }
  if (!vanished_) tr52::WithdrawPort(com_);
  if (master_ >= 0) close(master_);
  if (slaveHold_ >= 0) close(slaveHold_);
  for (int fd : stopPipe_)
    if (fd >= 0) close(fd);
}

void ScriptedPeer::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> g(mu_);
  handler_ = std::move(handler);
}

void ScriptedPeer::SetAnswerDelay(int ms) {
  std::lock_guard<std::mutex> g(mu_);
  delayMs_ = ms;
}

void ScriptedPeer::CorruptNextAnswers(int count) {
  std::lock_guard<std::mutex> g(mu_);
  corrupt_ = count;
}

void ScriptedPeer::SetOneWritePerFrame(bool on) {
  std::lock_guard<std::mutex> g(mu_);
  oneWritePerFrame_ = on;
}

void ScriptedPeer::WriteMaster(const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size() && !vanished_) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      struct pollfd p {
        master_, POLLOUT, 0
      };
      poll(&p, 1, 50);
    } else {
      return;
    }
  }
}

void ScriptedPeer::SendRaw(const Bytes& bytes) {
  WriteMaster(bytes);
}

void ScriptedPeer::Vanish() {
  if (vanished_.exchange(true)) return;
  if (std::this_thread::get_id() != thread_.get_id() && thread_.joinable()) {
    const char c = 'x';
    (void)!write(stopPipe_[1], &c, 1);
    thread_.join();
  }
  tr52::WithdrawPort(com_);
  close(master_);
  master_ = -1;
  close(slaveHold_);
  slaveHold_ = -1;
}

std::vector<ScriptedPeer::Bytes> ScriptedPeer::Requests() const {
  std::lock_guard<std::mutex> g(mu_);
  return requests_;
}

size_t ScriptedPeer::RequestCount() const {
  std::lock_guard<std::mutex> g(mu_);
  return requests_.size();
}

bool ScriptedPeer::WaitForRequests(size_t count, int realMs) const {
  std::unique_lock<std::mutex> l(mu_);
  return cv_.wait_for(l, std::chrono::milliseconds(realMs),
                      [&] { return requests_.size() >= count; });
}

ScriptedPeer::Bytes ScriptedPeer::RawReceived() const {
  std::lock_guard<std::mutex> g(mu_);
  return raw_;
}

void ScriptedPeer::Answer(const Bytes& request) {
  Handler handler;
  int delay;
  {
    std::lock_guard<std::mutex> g(mu_);
    handler = handler_;
    delay = delayMs_;
  }
  if (!handler) return;
  const Answers answers = handler(request);
  if (answers.empty() || vanished_) return;
  if (delay > 0) tr52::SleepMs(static_cast<uint64_t>(delay));
  Bytes out;
  bool perFrame;
  {
    std::lock_guard<std::mutex> g(mu_);
    perFrame = oneWritePerFrame_;
  }
  for (const Bytes& payload : answers) {
    uint16_t fcs = Crc16X25(payload.data(), payload.size());
    {
      std::lock_guard<std::mutex> g(mu_);
      if (corrupt_ > 0) {
        --corrupt_;
        fcs ^= 0x5A5A;
      }
    }
    const Bytes frame = FrameWithFcs(payload, fcs);
    if (perFrame) {
      WriteMaster(frame);
    } else {
      out.insert(out.end(), frame.begin(), frame.end());
    }
  }
  if (!out.empty()) WriteMaster(out);
}

void ScriptedPeer::Run() {
  Deframer deframer;
  std::vector<Bytes> good;
  uint8_t buf[4096];
  while (!vanished_) {
    struct pollfd p[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const int r = poll(p, 2, 100);
    if (r < 0 && errno != EINTR) return;
    if (p[1].revents) return;
    if (r <= 0 || !(p[0].revents & POLLIN)) continue;
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) continue;
    {
      std::lock_guard<std::mutex> g(mu_);
      raw_.insert(raw_.end(), buf, buf + n);
    }
    for (ssize_t i = 0; i < n && !vanished_; ++i) {
      good.clear();
      deframer.Feed(buf[i], good);
      if (good.empty()) continue;
      const Bytes& request = good.front();
      {
        std::lock_guard<std::mutex> g(mu_);
        requests_.push_back(request);
      }
      cv_.notify_all();
      Answer(request);
    }
  }
}

}  // namespace tr52test
