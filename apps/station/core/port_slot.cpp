#include "port_slot.h"

namespace station {

namespace {

bool Ok(const SessionRecord& s) {
  return s.hasResult && s.result == 1;
}
bool Failed(const SessionRecord& s) {
  return s.refused || (s.hasResult && s.result != 1);
}
bool Unfinished(const SessionRecord& s) {
  return !s.refused && !s.hasResult;
}

}  // namespace

SessionRecord& PortSessions::Start(SteadyTime started) {
  if (last_) {
    ++earlier_;
    earlierSucceeded_ += Ok(*last_) ? 1 : 0;
    earlierFailed_ = earlierFailed_ || Failed(*last_);
    earlierUnfinished_ = earlierUnfinished_ || Unfinished(*last_);
  }
  last_.emplace();
  last_->started = started;
  return *last_;
}

int PortSessions::Succeeded() const {
  return earlierSucceeded_ + (last_ && Ok(*last_) ? 1 : 0);
}

bool PortSessions::AnyFailed() const {
  return earlierFailed_ || (last_ && Failed(*last_));
}

bool PortSessions::AnyUnfinished() const {
  return earlierUnfinished_ || (last_ && Unfinished(*last_));
}

}  // namespace station
