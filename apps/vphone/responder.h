// A piece of the virtual phone's behaviour: given one request payload (frame already checked
// and unescaped), it answers or passes.
//
// The phone tries its responders in order for the mode it is in; the first that handles the
// request produces the answer frames. Each responder reads its own keys of the scenario
// ("nv.*", "efs.*", "diag.*", "dload.*", ...) and adds its part to the state the phone writes
// out for tests.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace vphone {

using Bytes = std::vector<uint8_t>;

// Key/value settings of a fault scenario (file lines "key = value", '#' comments).
using Scenario = std::map<std::string, std::string>;

// What a responder wants done with a request.
struct Reply {
  std::vector<Bytes> frames;  // answer payloads, each sent as its own frame (in one write)
  bool silent = false;        // handled, but answer nothing
  // Mode switch after the answer: the port vanishes and comes back in the new mode.
  enum class Switch { None, ToDownload, ToNormal, Gone } next = Switch::None;
  // Transport faults, used by scripted answers and fault scenarios (defaults: none).
  uint32_t delayMs = 0;     // answer this late (process clock)
  int badFcsFrame = -1;     // index of a frame sent with a wrong check sequence
  long cutAfterBytes = -1;  // write only this many bytes of the framed answer (with Gone:
                            // the cable is pulled mid-answer)
};

enum class Mode { Normal, Download };

class Responder {
 public:
  virtual ~Responder() = default;
  // True when this responder handles the request (fills `reply`).
  virtual bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) = 0;
  // Reads this responder's keys of the scenario; unknown keys are left to others.
  virtual void ApplyScenario(const Scenario&) {}
  // The phone reboots (or its cable is pulled) and will come back in `mode`: drop the state
  // that does not survive a power cycle.
  virtual void OnBoot(Mode) {}
  // Appends this responder's state ("section key value" lines) for tests to compare.
  virtual void DumpState(std::ostream&) const {}
};

}  // namespace vphone
