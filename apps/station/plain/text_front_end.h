// The plain-text front end: message boxes become terminal lines, and the plug-in's
// configuration dialog is answered from standard input.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "core/station_front_end.h"
#include "win/window.h"

namespace station {

// Control id of the package path edit in the configuration dialog (template 7006).
constexpr int kConfigPathEditId = 8000;

class TextFrontEnd : public StationFrontEnd {
 public:
  int ShowMessageBox(win::HWND owner, const std::string& text, const std::string& caption,
                     win::UINT type) override;
  // The configuration dialog shows its path and takes a new one from standard input (an empty
  // line, end of input or a stop cancels); any other modal dialog is cancelled.
  void ModalDialogStarted(win::HWND dialog) override;
  void UseStop(StopControl& stop) override { stop_ = &stop; }

  int ConfigDialogsSeen() const override { return configDialogs_.load(); }

 private:
  // A line of standard input without its end; nullopt at the end of input or on a stop.
  std::optional<std::string> ReadLine() const;

  std::atomic<int> configDialogs_{0};
  StopControl* stop_ = nullptr;
};

}  // namespace station
