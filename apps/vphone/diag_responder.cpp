#include "vphone/diag_responder.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "base/byte_reader.h"
#include "vphone/scenario.h"

namespace vphone {

namespace {

constexpr uint8_t kVerno = 0x00;
constexpr uint8_t kControl = 0x29;
constexpr uint8_t kDload = 0x3A;
constexpr uint8_t kPassword = 0x46;
constexpr uint8_t kSubsys = 0x4B;
constexpr uint8_t kSubsysZum = 0xFC;
constexpr uint16_t kZumBattery = 0x0004;
constexpr uint16_t kZumNvRanges = 0x0009;

// DIAG_CONTROL_F modes a handset knows: 0 offline-analog, 1 offline-digital, 2 reset,
// 3 factory test, 4 online, 5 low power, 6 power off.
constexpr uint16_t kModeOffline = 1;
constexpr uint16_t kModeReset = 2;
constexpr uint16_t kModeOnline = 4;
constexpr uint16_t kModePowerOff = 6;

void PutText(Bytes& out, size_t at, const std::string& text) {
  std::memcpy(out.data() + at, text.data(), std::min(text.size(), out.size() - at));
}

}  // namespace

Bytes DiagError(uint8_t code, std::span<const uint8_t> request) {
  const size_t echoed = std::min<size_t>(request.size(), 16);
  Bytes out;
  out.reserve(1 + echoed);
  out.push_back(code);
  out.insert(out.end(), request.begin(), request.begin() + static_cast<std::ptrdiff_t>(echoed));
  return out;
}

void DiagResponder::ApplyScenario(const Scenario& s) {
  model_ = ScenarioString(s, "diag.model", model_);
  batteryLevel_ = static_cast<int8_t>(ScenarioInt(s, "diag.battery_level", batteryLevel_));
  batteryStatus_ = static_cast<uint32_t>(ScenarioInt(s, "diag.battery_status", batteryStatus_));
  passwordCheck_ = ScenarioBool(s, "diag.password_check", passwordCheck_);
  if (auto it = s.find("diag.nv_ranges"); it != s.end()) {
    std::istringstream in(it->second);
    std::array<uint16_t, 4> r{};
    std::string tok;
    size_t n = 0;
    while (n < 4 && in >> tok) {
      auto v = ParseInt(tok);
      if (!v) break;
      r[n++] = static_cast<uint16_t>(*v);
    }
    if (n == 4) nvRanges_ = r;
  }
}

Bytes DiagResponder::VersionAnswer() const {
  // Command, compile date (11) and time (8), release date (11) and time (8), then the model
  // text from offset 39, NUL-terminated, and the version fields a handset appends.
  Bytes out(39 + std::max<size_t>(model_.size() + 1, 8) + 4, 0);
  out[0] = kVerno;
  PutText(out, 1, "Nov 17 2009");
  PutText(out, 12, "10:20:30");
  PutText(out, 20, "Nov 17 2009");
  PutText(out, 31, "10:20:30");
  PutText(out, 39, model_);
  out[out.size() - 4] = 0x02;  // station class mark and revision bytes: plausible values
  out[out.size() - 3] = 0x06;
  return out;
}

bool DiagResponder::Handle(Mode mode, std::span<const uint8_t> req, Reply& reply) {
  if (mode != Mode::Normal || req.empty()) return false;
  switch (req[0]) {
    case kVerno:
      reply.frames.push_back(VersionAnswer());
      return true;
    case kPassword: {
      if (req.size() != 1 + kSecurityCode.size()) {
        reply.frames.push_back(DiagError(kDiagBadLen, req));
        return true;
      }
      ++passwordTries_;
      bool ok = !passwordCheck_ ||
                std::equal(kSecurityCode.begin(), kSecurityCode.end(), req.begin() + 1);
      if (ok) unlocked_ = true;
      reply.frames.push_back({kPassword, static_cast<uint8_t>(ok ? 1 : 0)});
      return true;
    }
    case kDload:
      reply.frames.push_back({kDload});
      reply.next = Reply::Switch::ToDownload;
      return true;
    case kControl: {
      if (req.size() < 3) {
        reply.frames.push_back(DiagError(kDiagBadLen, req));
        return true;
      }
      uint16_t m = tr52::LoadU16le(req.data() + 1);
      if (m > kModePowerOff) {
        reply.frames.push_back(DiagError(kDiagBadParm, req));
        return true;
      }
      reply.frames.push_back({kControl, req[1], req[2]});
      if (m == kModeOffline || m == 0) offline_ = true;
      if (m == kModeOnline) offline_ = false;
      if (m == kModeReset) reply.next = Reply::Switch::ToNormal;
      if (m == kModePowerOff) reply.next = Reply::Switch::Gone;
      return true;
    }
    case kSubsys: {
      if (req.size() < 4 || req[1] != kSubsysZum) return false;
      uint16_t cmd = tr52::LoadU16le(req.data() + 2);
      if (cmd == kZumBattery) {
        Bytes out(9, 0);
        std::copy(req.begin(), req.begin() + 4, out.begin());
        tr52::StoreU32le(out.data() + 4, batteryStatus_);
        out[8] = static_cast<uint8_t>(batteryLevel_);
        reply.frames.push_back(std::move(out));
        return true;
      }
      if (cmd == kZumNvRanges) {
        Bytes out(12, 0);
        std::copy(req.begin(), req.begin() + 4, out.begin());
        for (size_t i = 0; i < 4; ++i) tr52::StoreU16le(out.data() + 4 + 2 * i, nvRanges_[i]);
        reply.frames.push_back(std::move(out));
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

void DiagResponder::OnBoot(Mode) {
  offline_ = false;
  unlocked_ = false;
}

void DiagResponder::DumpState(std::ostream& out) const {
  out << "diag model " << model_ << "\n"
      << "diag offline " << (offline_ ? 1 : 0) << "\n"
      << "diag unlocked " << (unlocked_ ? 1 : 0) << "\n"
      << "diag password_tries " << passwordTries_ << "\n";
}

}  // namespace vphone
