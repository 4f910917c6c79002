// What the download-mode responders share while the phone sits in download mode: the flash,
// the image the programmer has open, and the unlock and security state.
#pragma once

#include <cstdint>
#include <string>

#include "vphone/flash_store.h"
#include "vphone/responder.h"

namespace vphone {

struct DownloadContext {
  explicit DownloadContext(FlashStore& f) : flash(f) {}
  FlashStore& flash;

  bool unlocked = false;
  int secMode = -1;  // -1 until DLOAD_NAND_SEC_MODE was received
  // The image opened by the last open command (empty when none).
  std::string openImage;
  uint32_t openStart = 0;  // where the phone keeps that image's partition

  // Download mode starts afresh after every reboot.
  void Reset() {
    unlocked = false;
    secMode = -1;
    openImage.clear();
    openStart = 0;
  }
};

// Answers of the download protocol.
inline Bytes DloadAck() {
  return {0x02};
}
// Refusal 0x03 with reason bytes: msb 0 = download-protocol code, else a programmer code.
inline Bytes DloadNak(uint8_t msb, uint8_t lsb) {
  return {0x03, msb, lsb};
}

// Download-protocol refusal codes (msb 0).
enum DloadNakCode : uint8_t {
  kNakInvalidFcs = 1,
  kNakInvalidLen = 3,
  kNakTooLarge = 5,
  kNakInvalidCmd = 6,
  kNakFailed = 7,
  kNakBadSecCode = 12,
};
// Programmer error codes (msb 1).
enum NandErrCode : uint8_t {
  kErrBadCmd = 1,
  kErrPastNandEnd = 8,
  kErrEraseFail = 9,
  kErrWriteFail = 10,
  kErrPartiNoMatch = 35,
  kErrSecureBadMode = 42,
};

}  // namespace vphone
