// Asking the device on one serial port for its model, as a download does: the DIAG model-name
// question (a phone in normal mode), then the download-mode version question.
#pragma once

#include <string>

namespace station {

enum class PhoneMode { kNormal, kDownload };

// "normal mode", "download mode".
const char* ModeName(PhoneMode mode);

struct ModelAnswer {
  enum class Outcome { kAnswered, kNoAnswer, kCannotOpen };
  Outcome outcome = Outcome::kNoAnswer;
  PhoneMode mode = PhoneMode::kNormal;  // the mode it answered in
  // The model as the phone named it (in download mode: the model part of its version name,
  // "TR52" of "KW?TR52/V10A"); may hold any bytes.
  std::string model;
  int openError = 0;  // errno of the failed open (kCannotOpen)
};

// Opens `devNode` (and nothing else), asks, closes. Takes as long as a download's detection:
// about half a minute for a device that never answers. The exchange goes to the process log.
ModelAnswer AskModel(const std::string& devNode);

}  // namespace station
