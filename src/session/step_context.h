// What every download step works on: the port's protocol objects, the download's parameters
// and the booting mode found so far. The StepRunner owns the objects and fills the context;
// the steps are plain functions over it (download_steps.h).
#pragma once

#include <cstdint>

#include "session/download_facts.h"
#include "win/window.h"

namespace tr52 {

class PhoneLink;
class DiagClient;
class DloadClient;
class NvClient;
class Efs2Client;
class ProgressReporter;

// Booting modes found by GetBootingMode.
constexpr uint8_t BOOT_UNKNOWN = 0;
constexpr uint8_t BOOT_DIAG = 1;
constexpr uint8_t BOOT_DLOAD = 2;
constexpr uint8_t BOOT_DIAG_CSW = 5;
constexpr uint8_t BOOT_DLOAD_C = 6;

// Compared by value: as bit sets, mode 6 would also pass for a normal mode (6 & 5 != 0).
inline bool IsDiagMode(uint8_t mode) {
  return mode == BOOT_DIAG || mode == BOOT_DIAG_CSW;
}
inline bool IsDloadMode(uint8_t mode) {
  return mode == BOOT_DLOAD || mode == BOOT_DLOAD_C;
}

// Option bits of a download.
constexpr uint32_t OPT_ERASE_EFS = 0x0001;
constexpr uint32_t OPT_NV_BACKUP_FILE = 0x0100;
constexpr uint32_t OPT_NV_RESTORE = 0x0200;
constexpr uint32_t OPT_NV_READ_FILE = 0x0400;
constexpr uint32_t OPT_CNV_BACKUP = 0x0800;
constexpr uint32_t OPT_CNV_RESTORE = 0x1000;

struct StepContext {
  PhoneLink* link = nullptr;
  DiagClient* diag = nullptr;
  DloadClient* dload = nullptr;
  NvClient* nv = nullptr;
  Efs2Client* efs = nullptr;
  ProgressReporter* reporter = nullptr;

  int flowType = 1;
  uint32_t imageMask = 0;
  uint32_t options = 0;
  uint8_t port = 0;
  uint8_t bootMode = BOOT_DIAG;
  unsigned notifyMsg = 0;
  win::HWND dialog = nullptr;  // receives the step messages; may be null
  // How much faster than real time the named waits and the port re-acquisition pauses run
  // (1 on a real line). Protocol time-outs never scale: a phone's late answer keeps its meaning.
  double waitScale = 1.0;
  // What this download saw and did so far, for its record (the session starts it afresh).
  DownloadFacts facts;

  bool Selects(int imageType) const { return (imageMask >> imageType) & 1u; }
  bool Has(uint32_t option) const { return (options & option) != 0; }
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
