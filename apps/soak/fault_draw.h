// Which downloads of a soak get a fault, and which: a seeded draw, so that a run can be repeated
// with the seed it printed.
//
// Exactly a tenth of the downloads (rounded) are drawn; each gets one fault of the virtual
// phone's scenario keys (fault.*, pipe.*, efs.*), chosen among those that end a download within
// seconds on the real clock: a cable pulled at any step (for good, or back three seconds later),
// a refusal at any step, a hang or garbled answers at the normal-mode steps with short
// time-outs, a lost pipelined packet, a full EFS2, a switch into download mode that
// never comes back, and a phone that comes back as another model.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace soak {

struct PlannedDownload {
  bool downloadMode = false;  // the phone starts in download mode (flow 0)
  bool faulted = false;
  std::string fault;     // short description, empty without a fault
  std::string scenario;  // the phone's scenario text
};

// The plan for `phones` × `downloads` downloads, index phone * downloads + download.
std::vector<PlannedDownload> DrawPlan(int phones, int downloads, uint64_t seed);

}  // namespace soak
