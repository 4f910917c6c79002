// One fault of the virtual phone armed at a chosen request, so that a test can strike any step
// of a download: the fault starts when the phone receives the request that begins with the
// given bytes (its Nth occurrence, optionally only in one mode) and then lasts as its kind says.
//
// Scenario keys (defaults in brackets):
//   fault.kind = none              pull | silent | bad_fcs | refuse | reboot_never | other_model
//     pull          the cable is pulled as the request arrives: no answer, the port vanishes
//                   (and comes back in the same mode after fault.replug_ms when that is set)
//     silent        the phone hangs: that request and every later one go unanswered, nothing
//                   the request asked for is done, and no answer queued earlier goes out
//     bad_fcs       every answer from that request on carries a wrong check sequence
//     refuse        that request and every later one with the same first bytes is refused
//                   the way the current protocol refuses an unknown command
//     reboot_never  the first mode switch from that request on leaves the port gone for good
//     other_model   from the first reboot after that request the phone reports fault.model
//   fault.at =                     hex bytes the arming request starts with (none: any)
//   fault.at_mode = any            any | normal | download: the mode the request must come in
//   fault.at_count = 1             the occurrence (1-based) of such a request that arms it
//   fault.replug_ms = -1           pull: back after this delay (process clock); -1 = never
//   fault.model = TR99             other_model: the DIAG model text; the emergency name
//                                  becomes "KW_<model>/V10A"
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "vphone/responder.h"

namespace vphone {

class FaultPlan {
 public:
  enum class Kind { None, Pull, Silent, BadFcs, Refuse, RebootNever, OtherModel };
  // What the phone does with one request.
  enum class Action { Answer, Pull, Drop, Refuse };

  void ApplyScenario(const Scenario& s);

  // Called for every checked request, before it is handled; counts the arming occurrences.
  Action OnRequest(Mode mode, std::span<const uint8_t> request);
  // Answers leave the phone at all (false once a silent fault has struck).
  bool AnswersAllowed() const { return !(armed_ && kind_ == Kind::Silent); }
  // Every answer frame goes out with a wrong check sequence.
  bool CorruptAnswers() const { return armed_ && kind_ == Kind::BadFcs; }
  // A mode switch now leaves the port gone for good.
  bool RebootNever() const { return armed_ && kind_ == Kind::RebootNever; }
  // The pull's replug delay; nullopt: the port stays gone.
  std::optional<uint64_t> ReplugDelayMs() const;
  // At a reboot: the model keys for the responders once the phone has turned into another
  // model (applied once).
  std::optional<Scenario> ModelOnBoot();

  Kind FaultKind() const { return kind_; }
  bool Armed() const { return armed_; }

 private:
  bool Matches(Mode mode, std::span<const uint8_t> request) const;

  Kind kind_ = Kind::None;
  Bytes at_;
  std::optional<Mode> atMode_;
  int64_t atCount_ = 1;
  int64_t replugMs_ = -1;
  std::string model_ = "TR99";
  int64_t seen_ = 0;
  bool armed_ = false;
  bool modelSwapped_ = false;
};

}  // namespace vphone
