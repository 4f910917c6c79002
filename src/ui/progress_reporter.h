// The progress sink of a port's pane window.
//
// Text lines are *sent* (WM_COPYDATA, the worker waits until the pane has added them); progress
// positions are *posted* as (code, position) with the step-message number. Protocol code and the
// steps see only the ProgressSink; the pane makes this one for the download it runs.
#pragma once

#include <cstdint>

#include "base/messages.h"
#include "base/progress_sink.h"
#include "win/window.h"

namespace tr52 {

class ProgressReporter : public ProgressSink {
 public:
  // Reports to nothing until pointed at a window.
  ProgressReporter() = default;
  // Sends text lines to `pane` at once; bars go to it, with `message`, once a step is followed.
  // A null pane shows nothing.
  ProgressReporter(win::HWND pane, unsigned message, uint8_t port);

  // Where text lines go (the progress pane; may be null: then nothing is sent).
  void SetTextTarget(win::HWND window) { textTarget_ = window; }
  win::HWND TextTarget() const { return textTarget_; }

  // WebDLFunction: with a text target sends WM_COPYDATA {kind, length + 1, text} and logs
  // "[COM%d] WM_COPYDATA 메시지 보냄 %d - %s".

  // Points the progress at a window, message and step code (and port).
  void Attach(win::HWND window, unsigned message, int stepCode);
  void Attach(win::HWND window, unsigned message, int stepCode, uint8_t port);

  // Starts a bar of `maximum` steps: posts (code, 0) and logs the init line.
  void InitProgress(unsigned code, int maximum) override;
  // Adds `amount`; when the percentage differs from the last position, the position moves by
  // exactly one point and is posted as (code, position).
  void StepProgress(unsigned code, int amount) override;
  // Points the bar at the pane given at construction, under `stepCode`.
  void FollowStep(unsigned stepCode) override;

  uint8_t Port() const { return port_; }
  int Position() const { return position_; }

 protected:
  void ShowText(int kind, const char* text, int length) override;

 private:
  win::HWND textTarget_ = nullptr;
  win::HWND pane_ = nullptr;  // where FollowStep points the bar
  unsigned paneMessage_ = 0;
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
