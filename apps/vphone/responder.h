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
};

enum class Mode { Normal, Download };

class Responder {
 public:
  virtual ~Responder() = default;
  // True when this responder handles the request (fills `reply`).
  virtual bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) = 0;
  // Reads this responder's keys of the scenario; unknown keys are left to others.
  virtual void ApplyScenario(const Scenario&) {}
  // Appends this responder's state ("section key value" lines) for tests to compare.
  virtual void DumpState(std::ostream&) const {}
};

}  // namespace vphone
