#include "soak/fault_draw.h"

#include <algorithm>
#include <iterator>

namespace soak {

namespace {

// A step of a download: the request that begins it, the mode the phone is then in, which
// occurrence of it, and whether a phone that stops answering there is given up within seconds
// (normal-mode requests with 3 s time-outs; not the phone's own NV backup and restore, whose
// final answers are awaited for minutes).
struct Step {
  const char* name;
  const char* at;
  const char* mode;
  int count;
  bool shortWait;
};

constexpr Step kSteps[] = {
    {"unlock", "46", "normal", 1, true},
    {"off line", "29 01 00", "normal", 1, true},
    {"battery", "4B FC 04 00", "normal", 1, true},
    {"NV backup", "80 37 00 00", "normal", 1, false},
    {"switch to download mode", "3A", "normal", 1, true},
    {"download-mode unlock", "0B", "download", 1, false},
    {"trusted mode", "48", "download", 1, false},
    {"partition table", "40", "download", 1, false},
    {"boot loader write", "01", "download", 1, false},
    {"AMSS write", "50 10", "download", 3, false},
    {"reset after the flash", "0A", "download", 1, false},
    {"detect back in normal mode", "00", "normal", 2, true},
    {"NV restore", "80 37 01 00", "normal", 1, false},
    {"final reset", "29 02 00", "normal", 1, true},
};

std::string Armed(const char* kind, const Step& step) {
  return std::string("fault.kind = ") + kind + "\nfault.at = " + step.at +
         "\nfault.at_mode = " + step.mode + "\nfault.at_count = " + std::to_string(step.count) +
         "\n";
}

// One fault for a phone that starts in normal mode (flow 1).
void DrawFault(std::mt19937_64& rng, PlannedDownload& d) {
  auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  std::vector<const Step*> quick;
  for (const Step& s : kSteps)
    if (s.shortWait) quick.push_back(&s);
  switch (pick(8)) {
    case 0: {
      const Step& s = kSteps[pick(std::size(kSteps))];
      d.fault = std::string("cable pulled at ") + s.name;
      d.scenario += Armed("pull", s);
      break;
    }
    case 1: {
      const Step& s = kSteps[pick(std::size(kSteps))];
      d.fault = std::string("cable pulled at ") + s.name + ", back 3 s later";
      d.scenario += Armed("pull", s) + "fault.replug_ms = 3000\n";
      break;
    }
    case 2: {
      const Step& s = kSteps[pick(std::size(kSteps))];
      d.fault = std::string("refusal at ") + s.name;
      d.scenario += Armed("refuse", s);
      break;
    }
    case 3: {
      const Step& s = *quick[pick(quick.size())];
      const bool silent = pick(2) == 0;
      d.fault = std::string(silent ? "phone silent from " : "bad FCS from ") + s.name;
      d.scenario += Armed(silent ? "silent" : "bad_fcs", s);
      break;
    }
    case 4:
      d.fault = "pipelined packet lost";
      d.scenario += "pipe.lost_at = 2\n";
      break;
    case 5:
      d.fault = "EFS2 out of space";
      d.scenario += "efs.capacity = 1\n";
      break;
    case 6:
      d.fault = "reboot into download mode never returns";
      d.scenario += Armed("reboot_never", kSteps[4]);
      break;
    default:
      d.fault = "returns as another model after the flash";
      d.scenario += Armed("other_model", kSteps[10]);
      break;
  }
}

}  // namespace

std::vector<PlannedDownload> DrawPlan(int phones, int downloads, uint64_t seed) {
  std::mt19937_64 rng(seed);
  const size_t total = static_cast<size_t>(std::max(phones, 0)) * std::max(downloads, 0);
  std::vector<PlannedDownload> plan(total);
  std::vector<size_t> order(total);
  for (size_t i = 0; i < total; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  const size_t faulted = (total + 5) / 10;
  for (size_t i = 0; i < total; ++i) {
    PlannedDownload& d = plan[order[i]];
    // A phone in download mode holds the calibration copy of an earlier backup.
    d.faulted = i < faulted;
    d.downloadMode = !d.faulted && std::uniform_int_distribution<int>(0, 3)(rng) == 0;
    if (d.downloadMode) d.scenario = "cnv.saved = true\n";
    if (d.faulted) {
      d.scenario = "";
      DrawFault(rng, d);
    }
  }
  return plan;
}

}  // namespace soak
