// Normal mode: the handset's DIAG commands that a download uses (version and model text,
// security code, mode control, battery level, NV item ranges, the switch into download mode).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "vphone/responder.h"

namespace vphone {

// The security code the handset expects with DIAG_PASSWORD_F and DLOAD_UNLOCK_F.
constexpr std::array<uint8_t, 8> kSecurityCode = {0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F};

// DIAG error answers: the error code followed by the start of the offending request.
Bytes DiagError(uint8_t code, std::span<const uint8_t> request);
constexpr uint8_t kDiagBadCmd = 0x13;
constexpr uint8_t kDiagBadParm = 0x14;
constexpr uint8_t kDiagBadLen = 0x15;

class DiagResponder : public Responder {
 public:
  bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) override;
  void ApplyScenario(const Scenario& s) override;
  void DumpState(std::ostream& out) const override;

  // Offline and unlocked states end with a reboot.
  void OnBoot(Mode mode) override;
  bool Offline() const { return offline_; }
  bool Unlocked() const { return unlocked_; }

 private:
  Bytes VersionAnswer() const;

  std::string model_ = "TR52";
  int8_t batteryLevel_ = 87;
  uint32_t batteryStatus_ = 0;
  std::array<uint16_t, 4> nvRanges_ = {0, 4393, 9001, 9181};
  bool passwordCheck_ = true;

  bool offline_ = false;
  bool unlocked_ = false;
  int passwordTries_ = 0;
};

}  // namespace vphone
