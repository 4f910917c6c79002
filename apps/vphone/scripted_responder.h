// Scripted answers for link tests and benchmarks: a request that starts with given bytes gets a
// given answer, possibly late, with a bad check sequence, as several frames in one write, as a
// refusal, as silence, or cut off by the port vanishing mid-answer.
//
// Rules are tried in the order they were added; a rule with a use count stops matching when
// it is used up. Safe to change from another thread while the phone runs.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "vphone/responder.h"

namespace vphone {

struct ScriptRule {
  Bytes prefix;       // matches requests that start with these bytes (empty: every request)
  Reply reply;        // what to answer
  int uses = -1;      // how many times the rule answers (-1: always)
  bool echo = false;  // append the request after the reply's first frame (refusals)
  std::vector<Mode> modes = {Mode::Normal, Mode::Download};
};

class ScriptedResponder : public Responder {
 public:
  void Add(ScriptRule rule);
  void Clear();
  // Shorthands.
  void Answer(Bytes prefix, Bytes answer, int uses = -1);
  void AnswerFrames(Bytes prefix, std::vector<Bytes> answers, int uses = -1);
  void AnswerLate(Bytes prefix, Bytes answer, uint32_t delayMs, int uses = -1);
  void AnswerBadFcs(Bytes prefix, Bytes answer, int uses = -1);
  void Silent(Bytes prefix, int uses = -1);
  // DIAG refusals 0x13, 0x14, 0x15, 0x42, 0x47: the code followed by the request.
  void RefuseDiag(Bytes prefix, uint8_t code, int uses = -1);
  // Download-mode refusal 0x03 with its two reason bytes.
  void RefuseDload(Bytes prefix, uint8_t msb, uint8_t lsb, int uses = -1);
  // Answers the first `bytes` bytes of the framed answer, then the port vanishes for good.
  void VanishMidAnswer(Bytes prefix, Bytes answer, long bytes, int uses = -1);

  bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) override;
  // Adds the "script.*" rules of a scenario (syntax in scenario.h); malformed ones are
  // reported on standard error and skipped.
  void ApplyScenario(const Scenario& s) override;
  // Parses one rule "<prefix hex> -> <action>"; false when malformed.
  static bool ParseRule(const std::string& text, ScriptRule& rule);
  void DumpState(std::ostream& out) const override;
  int Matches() const;

 private:
  mutable std::mutex mutex_;
  std::vector<ScriptRule> rules_;
  int matches_ = 0;
};

}  // namespace vphone
