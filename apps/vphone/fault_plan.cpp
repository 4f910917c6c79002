#include "vphone/fault_plan.h"

#include <algorithm>
#include <iostream>

#include "vphone/scenario.h"

namespace vphone {

namespace {

std::optional<FaultPlan::Kind> ParseKind(const std::string& text) {
  if (text == "none") return FaultPlan::Kind::None;
  if (text == "pull") return FaultPlan::Kind::Pull;
  if (text == "silent") return FaultPlan::Kind::Silent;
  if (text == "bad_fcs") return FaultPlan::Kind::BadFcs;
  if (text == "refuse") return FaultPlan::Kind::Refuse;
  if (text == "reboot_never") return FaultPlan::Kind::RebootNever;
  if (text == "other_model") return FaultPlan::Kind::OtherModel;
  return std::nullopt;
}

}  // namespace

void FaultPlan::ApplyScenario(const Scenario& s) {
  const std::string kind = ScenarioString(s, "fault.kind", "none");
  if (auto k = ParseKind(kind)) {
    kind_ = *k;
  } else {
    std::cerr << "vphone: scenario key fault.kind: unknown fault \"" << kind << "\"\n";
    kind_ = Kind::None;
  }
  if (auto at = ScenarioBytes(s, "fault.at")) at_ = *at;
  const std::string mode = ScenarioString(s, "fault.at_mode", "any");
  if (mode == "normal")
    atMode_ = Mode::Normal;
  else if (mode == "download")
    atMode_ = Mode::Download;
  else
    atMode_.reset();
  atCount_ = std::max<int64_t>(ScenarioInt(s, "fault.at_count", atCount_), 1);
  replugMs_ = ScenarioInt(s, "fault.replug_ms", replugMs_);
  model_ = ScenarioString(s, "fault.model", model_);
}

bool FaultPlan::Matches(Mode mode, std::span<const uint8_t> request) const {
  if (atMode_ && *atMode_ != mode) return false;
  return request.size() >= at_.size() && std::equal(at_.begin(), at_.end(), request.begin());
}

FaultPlan::Action FaultPlan::OnRequest(Mode mode, std::span<const uint8_t> request) {
  if (kind_ == Kind::None) return Action::Answer;
  const bool matches = Matches(mode, request);
  if (!armed_ && matches && ++seen_ >= atCount_) {
    armed_ = true;
    if (kind_ == Kind::Pull) return Action::Pull;
  }
  if (!armed_) return Action::Answer;
  switch (kind_) {
    case Kind::Silent:
      return Action::Drop;
    case Kind::Refuse:
      return matches ? Action::Refuse : Action::Answer;
    default:
      return Action::Answer;
  }
}

std::optional<uint64_t> FaultPlan::ReplugDelayMs() const {
  if (replugMs_ < 0) return std::nullopt;
  return static_cast<uint64_t>(replugMs_);
}

std::optional<Scenario> FaultPlan::ModelOnBoot() {
  if (!armed_ || kind_ != Kind::OtherModel || modelSwapped_) return std::nullopt;
  modelSwapped_ = true;
  return Scenario{{"diag.model", model_}, {"dload.model", "KW_" + model_ + "/V10A"}};
}

}  // namespace vphone
