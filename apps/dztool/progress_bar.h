// A one-line progress bar for long work, drawn only when standard output is a terminal.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace tr52 {

class ProgressBar {
 public:
  ProgressBar() : enabled_(isatty(STDOUT_FILENO) == 1) {}
  ~ProgressBar() { Done(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws when the shown percentage or label changes.
  void Update(const std::string& label, uint64_t done, uint64_t total) {
    if (!enabled_) return;
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (percent == lastPercent_ && label == lastLabel_) return;
    lastPercent_ = percent;
    lastLabel_ = label;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::printf("\r[%s%s] %3d%% %-40.40s", std::string(filled, '#').c_str(),
                std::string(kWidth - filled, ' ').c_str(), percent, label.c_str());
    std::fflush(stdout);
    drawn_ = true;
  }
  // Clears the line so that normal output follows.
  void Done() {
    if (!drawn_) return;
    std::printf("\r%80s\r", "");
    std::fflush(stdout);
    drawn_ = false;
    lastPercent_ = -1;
  }

 private:
  bool enabled_;
  bool drawn_ = false;
  int lastPercent_ = -1;
  std::string lastLabel_;
};

}  // namespace tr52
