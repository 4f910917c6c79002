// What protocol code and the download's steps report progress to: text lines for the port's
// pane and a progress bar. Knows nothing of windows; the pane's side implements it
// (ui/progress_reporter.h) and hands it to the download it runs.
#pragma once

namespace tr52 {

class ProgressSink {
 public:
  static constexpr int kMaxText = 511;

  ProgressSink() = default;
  virtual ~ProgressSink() = default;
  ProgressSink(const ProgressSink&) = delete;
  ProgressSink& operator=(const ProgressSink&) = delete;

  // Formats (printf rules, at most 511 characters) and shows the text as a line of `kind`.
  // Returns the formatted length.
  int WebDLFunction(int kind, const char* format, ...) __attribute__((format(printf, 3, 4)));

  // Starts a bar of `maximum` steps.
  virtual void InitProgress(unsigned code, int maximum) = 0;
  // Adds `amount` steps to the bar.
  virtual void StepProgress(unsigned code, int amount) = 0;
  // The bars from now on belong to the download step `stepCode` (the pane's step message).
  virtual void FollowStep(unsigned stepCode) = 0;

 protected:
  // One formatted line (`length` characters, NUL-terminated).
  virtual void ShowText(int kind, const char* text, int length) = 0;
};

}  // namespace tr52
