// What the full-screen station does with the lines it captured while the screen was up: when the
// terminal is given back they are written out, less the ports' step lines that the panes showed.
// The filter keeps no more than the head of a line and allocates nothing, so that the same code
// gives the output back from a signal handler when the program dies.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace station {

// True for a station line of a port ("12:00:01.250 COM5 | ...").
bool IsPortLine(std::string_view line);
// True for a line (or the head of one) that is written out: every line but a port's, and a
// port's RESULT line.
bool KeepCapturedLine(std::string_view head);

// Passes captured output on line by line, leaving out what KeepCapturedLine refuses.
class CaptureFilter {
 public:
  // Feeds `bytes`; `write(const char*, size_t)` receives what is kept, in order.
  template <class Write>
  void Feed(std::string_view bytes, Write&& write);
  // The last line when it had no newline.
  template <class Write>
  void Finish(Write&& write);

 private:
  // Enough for "hh:mm:ss.mmm COM255 | RESULT " with room to spare.
  static constexpr size_t kHead = 64;
  enum class Mode { kHead, kKeep, kDrop };
  char head_[kHead] = {};
  size_t headSize_ = 0;
  Mode mode_ = Mode::kHead;
};

// `text` without its port lines, except the ports' RESULT lines.
std::string WithoutPortLines(const std::string& text);

// Puts standard output and error back to the saved descriptors (those not negative, which are
// closed), then writes the captured lines of `capture` through the filter to standard output if
// it was saved, else to standard error, and closes `capture`. Async-signal-safe.
void GiveBackOutput(int savedOut, int savedErr, int capture);

template <class Write>
void CaptureFilter::Feed(std::string_view bytes, Write&& write) {
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t newline = bytes.find('\n', i);
    const size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
    if (mode_ != Mode::kHead) {
      if (mode_ == Mode::kKeep) write(bytes.data() + i, end - i);
      if (newline != std::string_view::npos) mode_ = Mode::kHead;
      i = end;
      continue;
    }
    const size_t take = end - i < kHead - headSize_ ? end - i : kHead - headSize_;
    std::memcpy(head_ + headSize_, bytes.data() + i, take);
    headSize_ += take;
    i += take;
    const bool lineEnded = head_[headSize_ - 1] == '\n';
    if (!lineEnded && headSize_ < kHead) continue;
    const bool keep = KeepCapturedLine(std::string_view(head_, headSize_));
    if (keep) write(head_, headSize_);
    mode_ = lineEnded ? Mode::kHead : keep ? Mode::kKeep : Mode::kDrop;
    headSize_ = 0;
  }
}

template <class Write>
void CaptureFilter::Finish(Write&& write) {
  if (mode_ == Mode::kHead && headSize_ > 0 && KeepCapturedLine(std::string_view(head_, headSize_)))
    write(head_, headSize_);
  headSize_ = 0;
  mode_ = Mode::kHead;
}

}  // namespace station
