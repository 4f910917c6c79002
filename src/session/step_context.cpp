#include "session/step_context.h"

#include <cstdarg>
#include <cstdio>

#include "base/process_log.h"
#include "base/progress_sink.h"
#include "link/phone_link.h"

namespace tr52 {

bool StepContext::LinkOpen() const {
  return link != nullptr && link->IsOpen();
}

bool StepContext::PostStep(unsigned wParam, win::LPARAM lParam) const {
  if (job.dialog == nullptr) return false;
  return win::PostMessage(job.dialog, job.notifyMsg, wParam, lParam);
}

void StepContext::PointProgressAt(unsigned stepCode) const {
  reporter->FollowStep(stepCode);
}

void StepContext::Announce(unsigned wParam, win::LPARAM lParam, const char* format, ...) const {
  if (job.dialog == nullptr) return;
  PostStep(wParam, lParam);
  char text[128];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  Log("[COM%d] 메시지 보냄 %s", job.port, text);
}

}  // namespace tr52
