// Commands of a phone that runs its normal software (DIAG protocol): model text, security
// code, battery, NV item ranges, off-line / reset, and the switch into download mode.
#pragma once

#include <cstdint>
#include <string>

#include "link/link_client.h"
#include "phonedata/nv_ranges.h"

namespace tr52 {

// The phone security code; DIAG_PASSWORD_F sends it, and the download-mode unlock sends the
// same eight bytes.
inline constexpr uint8_t kPhoneSecurityCode[8] = {0xA7, 0x5C, 0x19, 0xE2, 0x40, 0x8B, 0xD3, 0x6F};

// DIAG_CONTROL_F modes used by the download.
constexpr int kDiagModeOffline = 1;
constexpr int kDiagModeReset = 2;

class DiagClient : public LinkClient {
 public:
  // DIAG_VERNO_F, tried twice. Sets Protocol::Diag first. On failure `text` is "No Phone".
  [[nodiscard]] bool GetModelName(std::string& text);
  // DIAG_PASSWORD_F with the 8-byte code; the answer's content is not inspected.
  [[nodiscard]] bool SetSecurityCode(const uint8_t code[8]);
  // DIAG_DLOAD_F in the current protocol mode; the phone leaves without answering, so
  // nothing is checked.
  void ChangeDloadMode();
  // DIAG_CONTROL_F with a 16-bit mode (1 = off line, 2 = reset).
  [[nodiscard]] bool ChangeOfflineMode(int mode);
  // Battery level (signed). A failed transaction sets -1; a non-zero status leaves it alone.
  [[nodiscard]] bool GetBatteryLevel(int& level);
  // The four NV item range bounds; false at once when `ranges` is null, output untouched on
  // failure.
  [[nodiscard]] bool GetNvItemRanges(NvRanges* ranges);

 private:
  // One DIAG_VERNO_F transaction; true with `text` set when an answer holding the model text
  // came.
  [[nodiscard]] bool RequestModelText(std::string& text);
};

}  // namespace tr52
