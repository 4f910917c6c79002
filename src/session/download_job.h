// What one download is asked to do: made once where the download starts, then only read by the
// session, its runner, the steps and the flows.
#pragma once

#include <cstdint>
#include <string>

#include "win/window.h"

namespace tr52 {

// The two flows of a download.
constexpr int kFlowDownload = 1;
constexpr int kFlowEmergency = 0;

// Option bits of a download.
constexpr uint32_t OPT_ERASE_EFS = 0x0001;
constexpr uint32_t OPT_NV_BACKUP_FILE = 0x0100;
constexpr uint32_t OPT_NV_RESTORE = 0x0200;
constexpr uint32_t OPT_NV_READ_FILE = 0x0400;
constexpr uint32_t OPT_CNV_BACKUP = 0x0800;
constexpr uint32_t OPT_CNV_RESTORE = 0x1000;

struct DownloadJob {
  int flowType = kFlowDownload;
  std::string packagePath;
  uint8_t port = 0;
  uint32_t imageMask = 0;
  uint32_t options = 0;
  unsigned notifyMsg = 0;
  win::HWND dialog = nullptr;  // receives the step messages; may be null
  // How much faster than real time the named waits and the port re-acquisition pauses run
  // (1 on a real line; values below 1 count as 1). Protocol time-outs never scale: a phone's
  // late answer keeps its meaning.
  double waitScale = 1.0;

  bool Selects(int imageType) const { return (imageMask >> imageType) & 1u; }
  bool Has(uint32_t option) const { return (options & option) != 0; }
  // The same job taking another flow (a phone found in download mode takes the emergency flow).
  DownloadJob WithFlow(int flow) const {
    DownloadJob job = *this;
    job.flowType = flow;
    return job;
  }
};

}  // namespace tr52
