#include "vphone/scripted_responder.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include "vphone/scenario.h"

namespace vphone {

void ScriptedResponder::Add(ScriptRule rule) {
  std::lock_guard lock(mutex_);
  rules_.push_back(std::move(rule));
}

void ScriptedResponder::Clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

void ScriptedResponder::Answer(Bytes prefix, Bytes answer, int uses) {
  AnswerFrames(std::move(prefix), {std::move(answer)}, uses);
}

void ScriptedResponder::AnswerFrames(Bytes prefix, std::vector<Bytes> answers, int uses) {
  ScriptRule r{std::move(prefix), {}, uses};
  r.reply.frames = std::move(answers);
  Add(std::move(r));
}

void ScriptedResponder::AnswerLate(Bytes prefix, Bytes answer, uint32_t delayMs, int uses) {
  ScriptRule r{std::move(prefix), {}, uses};
  r.reply.frames = {std::move(answer)};
  r.reply.delayMs = delayMs;
  Add(std::move(r));
}

void ScriptedResponder::AnswerBadFcs(Bytes prefix, Bytes answer, int uses) {
  ScriptRule r{std::move(prefix), {}, uses};
  r.reply.frames = {std::move(answer)};
  r.reply.badFcsFrame = 0;
  Add(std::move(r));
}

void ScriptedResponder::Silent(Bytes prefix, int uses) {
  ScriptRule r{std::move(prefix), {}, uses};
  r.reply.silent = true;
  Add(std::move(r));
}

void ScriptedResponder::RefuseDiag(Bytes prefix, uint8_t code, int uses) {
  ScriptRule r{std::move(prefix), {}, uses};
  r.reply.frames = {{code}};
  r.echo = true;
  Add(std::move(r));
}

void ScriptedResponder::RefuseDload(Bytes prefix, uint8_t msb, uint8_t lsb, int uses) {
  Answer(std::move(prefix), {0x03, msb, lsb}, uses);
}

void ScriptedResponder::VanishMidAnswer(Bytes prefix, Bytes answer, long bytes, int uses) {
  ScriptRule r{std::move(prefix), {}, uses};
  r.reply.frames = {std::move(answer)};
  r.reply.cutAfterBytes = bytes;
  r.reply.next = Reply::Switch::Gone;
  Add(std::move(r));
}

bool ScriptedResponder::Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) {
  std::lock_guard lock(mutex_);
  for (auto& rule : rules_) {
    if (rule.uses == 0) continue;
    if (std::find(rule.modes.begin(), rule.modes.end(), mode) == rule.modes.end()) continue;
    if (rule.prefix.size() > request.size() ||
        !std::equal(rule.prefix.begin(), rule.prefix.end(), request.begin()))
      continue;
    if (rule.uses > 0) --rule.uses;
    ++matches_;
    reply = rule.reply;
    if (rule.echo && !reply.frames.empty()) {
      // A DIAG refusal carries the start of the request it refuses.
      size_t n = std::min<size_t>(request.size(), 16);
      reply.frames[0].insert(reply.frames[0].end(), request.begin(), request.begin() + n);
    }
    return true;
  }
  return false;
}

void ScriptedResponder::DumpState(std::ostream& out) const {
  std::lock_guard lock(mutex_);
  out << "script rules " << rules_.size() << "\n"
      << "script matches " << matches_ << "\n";
}

bool ScriptedResponder::ParseRule(const std::string& text, ScriptRule& rule) {
  auto arrow = text.find("->");
  if (arrow == std::string::npos) return false;
  auto prefix = ParseHexBytes(text.substr(0, arrow));
  if (!prefix) return false;
  rule = ScriptRule{*prefix, {}, -1};
  std::istringstream in(text.substr(arrow + 2));
  std::string word;
  if (!(in >> word)) return false;
  std::string rest;
  std::getline(in, rest);
  auto number = [](std::string& s) -> std::optional<int64_t> {
    std::istringstream words(s);
    std::string n;
    if (!(words >> n)) return std::nullopt;
    std::getline(words, s);
    return ParseInt(n);
  };
  if (word == "silent") {
    rule.reply.silent = true;
    return rest.find_first_not_of(" \t") == std::string::npos;
  }
  if (word == "badfcs" || word == "late" || word == "vanish") {
    if (word == "late") {
      auto ms = number(rest);
      if (!ms || *ms < 0) return false;
      rule.reply.delayMs = static_cast<uint32_t>(*ms);
    } else if (word == "vanish") {
      auto n = number(rest);
      if (!n || *n < 0) return false;
      rule.reply.cutAfterBytes = static_cast<long>(*n);
      rule.reply.next = Reply::Switch::Gone;
    } else {
      rule.reply.badFcsFrame = 0;
    }
    auto frame = ParseHexBytes(rest);
    if (!frame || frame->empty()) return false;
    rule.reply.frames.push_back(*frame);
    return true;
  }
  std::istringstream frames(word + rest);
  std::string one;
  while (std::getline(frames, one, ';')) {
    auto frame = ParseHexBytes(one);
    if (!frame || frame->empty()) return false;
    rule.reply.frames.push_back(*frame);
  }
  return !rule.reply.frames.empty();
}

void ScriptedResponder::ApplyScenario(const Scenario& s) {
  for (auto it = s.lower_bound("script."); it != s.end() && it->first.rfind("script.", 0) == 0;
       ++it) {
    ScriptRule rule;
    if (ParseRule(it->second, rule))
      Add(std::move(rule));
    else
      std::cerr << "vphone: scenario key " << it->first << ": malformed rule \"" << it->second
                << "\"\n";
  }
}

int ScriptedResponder::Matches() const {
  std::lock_guard lock(mutex_);
  return matches_;
}

}  // namespace vphone
