// Download mode, outside the NAND programmer proper: the emergency model name, the unlock, the
// reset, the maker's download parameters and communication mode, the RAM download
// (Dl_Init / Dl_Init_2nd, RAM writes, program from RAM) and the boot-code protection lock.
#pragma once

#include <cstdint>
#include <string>

#include "vphone/download_context.h"
#include "vphone/responder.h"

namespace vphone {

class DloadResponder : public Responder {
 public:
  explicit DloadResponder(DownloadContext& ctx) : ctx_(ctx) {}

  bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) override;
  void ApplyScenario(const Scenario& s) override;
  void OnBoot(Mode mode) override;
  void DumpState(std::ostream& out) const override;

  bool BcplOn() const { return bcplOn_; }

 private:
  bool HandleMaker(std::span<const uint8_t> req, Reply& reply);
  Bytes RamInit(std::span<const uint8_t> req, bool second);
  Bytes RamWrite(std::span<const uint8_t> req);
  Bytes RamProgram();

  DownloadContext& ctx_;

  // Scenario.
  std::string model_ = "KW_TR52/V10A";
  std::string unlockMode_ = "accept";
  uint32_t commMode_ = 2;
  uint8_t paramFlags_ = 0x02;
  uint8_t paramByte_ = 1;
  uint32_t paramWord_ = 0;
  uint32_t ramRegion_ = 64u << 20;
  uint32_t initError_ = 0;
  int64_t writeErrorAt_ = -1;
  uint8_t programError_ = 0;
  std::string bcplMode_ = "off";

  // Lock state survives reboots; the RAM image does not.
  bool bcplOn_ = false;
  int bcplUnlocks_ = 0;
  std::string ramImage_;  // empty until a RAM preparation succeeded
  uint32_t ramStart_ = 0;
  uint32_t ramExpected_ = 0;
  uint32_t ramFilled_ = 0;  // highest byte written + 1
  Bytes ram_;
  int programs_ = 0;
};

}  // namespace vphone
