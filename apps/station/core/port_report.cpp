#include "port_report.h"

#include "session/result_codes.h"

namespace station {

PortReport MakePortReport(const PortSlot& slot) {
  PortReport report;
  report.com = slot.port;
  report.downloads = slot.sessions.Count();
  if (slot.sessions.Empty()) {
    report.outcome = slot.connectEverFailed ? PortOutcome::Failed : PortOutcome::Unfinished;
    report.detail =
        slot.connectEverFailed ? "the phone's port could not be opened" : "no phone appeared";
    return report;
  }
  const SessionRecord& session = slot.sessions.Last();
  if (session.refused) {
    report.outcome = PortOutcome::Failed;
    report.detail = "the plug-in opened no progress pane";
  } else if (!session.hasResult) {
    report.outcome = PortOutcome::Unfinished;
    report.detail = "still downloading, no result";
  } else {
    report.result = ResultCodeOfWord(session.result);
    report.outcome =
        report.result == tr52::ToInt(tr52::ResultCode::Ok) ? PortOutcome::Ok : PortOutcome::Failed;
    report.resultName =
        report.result ? tr52::ResultCodeName(*report.result) : std::string("unknown step notice");
    report.detail = DescribeResult(session.result);
    report.seconds = std::chrono::duration<double>(session.ended - session.started).count();
  }

  report.record = session.record;
  return report;
}

}  // namespace station
