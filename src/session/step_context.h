// What every download step works on: the port's protocol objects, the download's job (read
// only), the state of its run and the module's image catalogue. The StepRunner owns the first
// three and is handed the catalogue; the steps are plain functions over the context
// (download_steps.h).
#pragma once

#include <cstdint>
#include <string>

#include "session/download_facts.h"
#include "session/download_job.h"
#include "win/window.h"

namespace tr52 {

class PhoneLink;
class DiagClient;
class DloadClient;
class NvClient;
class Efs2Client;
class ProgressSink;
class ImageCatalogue;

// Booting modes; the numbers are those the log lines and download records show.
enum class BootMode : uint8_t {
  Unknown = 0,
  Diag = 1,
  Dload = 2,
  // A normal mode that no detection reports; the module step still treats it like DiagCsw.
  DiagFilesOnly = 4,
  DiagCsw = 5,  // normal mode, banner naming CSW
  DloadC = 6,   // download mode, model name ending in "C"
};

constexpr int ToInt(BootMode mode) {
  return static_cast<int>(mode);
}

// Compared by value: as bit sets, mode 6 would also pass for a normal mode (6 & 5 != 0).
constexpr bool IsDiagMode(BootMode mode) {
  return mode == BootMode::Diag || mode == BootMode::DiagCsw;
}
constexpr bool IsDloadMode(BootMode mode) {
  return mode == BootMode::Dload || mode == BootMode::DloadC;
}
// The module folders of a phone in these modes are cleared file by file.
constexpr bool RemovesModuleFilesOnly(BootMode mode) {
  return mode == BootMode::DiagFilesOnly || mode == BootMode::DiagCsw;
}

// What changes while a download runs.
struct RunState {
  BootMode bootMode = BootMode::Diag;  // the mode found by the last detection
  // The flow step running now (the innermost one that began); empty before the first. A
  // download ended by an exception names it in its record.
  std::string step;
  // What this download saw and did so far (images written, the step that ended it), for its
  // record; the session starts it afresh for every run.
  DownloadFacts facts;
};

struct StepContext {
  PhoneLink* link = nullptr;
  DiagClient* diag = nullptr;
  DloadClient* dload = nullptr;
  NvClient* nv = nullptr;
  Efs2Client* efs = nullptr;
  ProgressSink* reporter = nullptr;  // the pane's, while a download runs
  const DownloadJob& job;
  RunState& run;
  ImageCatalogue& images;

  bool Selects(int imageType) const { return job.Selects(imageType); }
  bool Has(uint32_t option) const { return job.Has(option); }
  bool LinkOpen() const;
  // Posts a step message to the dialog when there is one; true when posted.
  bool PostStep(unsigned wParam, win::LPARAM lParam = 0) const;
  // The pane's progress bar follows what is written next under this step code.
  void PointProgressAt(unsigned stepCode) const;
  // When there is a dialog: posts the step message and writes its line, "[COM%d] 메시지 보냄 "
  // followed by `format` (the message name and its number).
  void Announce(unsigned wParam, win::LPARAM lParam, const char* format, ...) const
      __attribute__((format(printf, 4, 5)));
};

}  // namespace tr52
