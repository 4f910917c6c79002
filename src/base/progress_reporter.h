// The one way protocol code reports to its port's progress pane.
//
// Text lines are *sent* (WM_COPYDATA, the worker waits until the pane has added them); progress
// positions are *posted* as (code, position) with the step-message number. Lives in base/
// because the link and every command client report through it.
#pragma once

#include <cstdint>

#include "base/messages.h"
#include "win/window.h"

namespace tr52 {

class ProgressReporter {
 public:
  static constexpr int kMaxText = 511;

  ProgressReporter() = default;
  virtual ~ProgressReporter() = default;

  // Where text lines go (the progress pane; may be null: then nothing is sent).
  void SetTextTarget(win::HWND window) { textTarget_ = window; }
  win::HWND TextTarget() const { return textTarget_; }

  // Formats (printf rules, at most 511 characters); with a text target sends WM_COPYDATA
  // {kind, length + 1, text} and logs "[COM%d] WM_COPYDATA 메시지 보냄 %d - %s". Returns the
  // formatted length.
  int WebDLFunction(int kind, const char* format, ...) __attribute__((format(printf, 3, 4)));

  // Points the progress at a window, message and step code (and port).
  void Attach(win::HWND window, unsigned message, int stepCode);
  void Attach(win::HWND window, unsigned message, int stepCode, uint8_t port);

  // Starts a bar of `maximum` steps: posts (code, 0) and logs the init line.
  void InitProgress(unsigned code, int maximum);
  // Adds `amount`; when the percentage differs from the last position, the position moves by
  // exactly one point and is posted as (code, position).
  void StepProgress(unsigned code, int amount);

  uint8_t Port() const { return port_; }
  void SetPort(uint8_t port) { port_ = port; }
  int Position() const { return position_; }

 private:
  win::HWND textTarget_ = nullptr;
  win::HWND progressTarget_ = nullptr;
  unsigned progressMessage_ = 0;
  int stepCode_ = 0;
  int maximum_ = 0;
  int64_t total_ = 0;
  int position_ = 0;
  uint8_t port_ = 0;
};

// The step-name table: texts of step codes 0 to 14 ("NULL", "BATTERY_LEVEL_CHECK", ...);
// "NULL" for any other code.
const char* StepName(int code);

}  // namespace tr52
