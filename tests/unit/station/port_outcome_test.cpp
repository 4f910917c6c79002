// What the station makes of its ports at the end of a run: each port's record and the exit
// status.
#include <gtest/gtest.h>

#include <deque>

#include "core/options.h"
#include "core/port_report.h"
#include "core/run_exit_status.h"

namespace station {
namespace {

using std::chrono::milliseconds;

// One download on a port: the result word of its message, none (running) or a refused pane.
enum class Download { Running, Refused, Ok, Failed1015, UnknownStep, Failed500 };

SessionRecord Session(Download d) {
  SessionRecord s;
  s.started = SteadyTime{} + milliseconds(1000);
  s.ended = s.started + milliseconds(2500);
  s.refused = d == Download::Refused;
  s.hasResult = d != Download::Running && d != Download::Refused;
  s.result = d == Download::Ok           ? 1
             : d == Download::Failed1015 ? 1015
             : d == Download::Failed500  ? 500
                                         : 0;
  return s;
}

PortSlot Slot(int com, std::vector<Download> downloads, bool connectFailed = false) {
  PortSlot slot(com);
  int n = 0;
  for (Download d : downloads) {
    SessionRecord& s = slot.sessions.Start({});
    s = Session(d);
    // Each download's record names its phone; only the last one's reaches the report.
    s.record = tr52::DownloadRecord{};
    s.record->facts.model = "phone " + std::to_string(++n);
  }
  slot.connectEverFailed = connectFailed;
  return slot;
}

TEST(PortOutcome, ExitStatusTellsFailureFromTimeLimit) {
  struct Row {
    const char* name;
    std::vector<std::vector<Download>> ports;
    bool batch, timedOut, stopped;
    int status;
  };
  using D = Download;
  const std::vector<Row> rows = {
      {"all ok", {{D::Ok}, {D::Ok}}, true, false, false, kExitOk},
      {"one failed", {{D::Ok}, {D::Failed1015}}, true, false, false, kExitPortFailed},
      {"unknown step notice fails", {{D::UnknownStep}}, true, false, false, kExitPortFailed},
      {"refused pane fails", {{D::Refused}}, true, false, false, kExitPortFailed},
      {"failure beats the time limit",
       {{D::Failed500}, {D::Running}},
       true,
       true,
       false,
       kExitPortFailed},
      {"still running at the time limit",
       {{D::Ok}, {D::Running}},
       true,
       true,
       false,
       kExitTimeLimit},
      {"batch port without phone at the time limit",
       {{D::Ok}, {}},
       true,
       true,
       false,
       kExitTimeLimit},
      {"interactive port without phone is fine", {{D::Ok}, {}}, false, true, false, kExitOk},
      {"interactive: every phone counts",
       {{D::Failed1015, D::Ok}},
       false,
       true,
       false,
       kExitPortFailed},
      {"interactive: running at the time limit",
       {{D::Ok, D::Running}},
       false,
       true,
       false,
       kExitTimeLimit},
      {"running without a time limit", {{D::Running}}, true, false, false, kExitPortFailed},
      {"a stop that cut nothing keeps the run's status",
       {{D::Failed1015}},
       true,
       false,
       true,
       kExitPortFailed},
      {"an interactive stop after its downloads", {{D::Ok}, {}}, false, false, true, kExitOk},
      {"a stop leaving a download",
       {{D::Failed1015}, {D::Running}},
       false,
       false,
       true,
       kExitInterrupted},
      {"a stop before a batch port saw a phone",
       {{D::Ok}, {}},
       true,
       false,
       true,
       kExitInterrupted},
      {"the time limit during a stop", {{D::Running}}, true, true, true, kExitTimeLimit},
  };
  for (const auto& row : rows) {
    std::deque<PortSlot> slots;
    int com = 1;
    for (const auto& downloads : row.ports) slots.push_back(Slot(com++, downloads));
    EXPECT_EQ(RunExitStatus(slots, row.batch, row.timedOut, row.stopped), row.status) << row.name;
  }
  std::deque<PortSlot> notOpened;
  notOpened.push_back(Slot(1, {}, true));
  EXPECT_EQ(RunExitStatus(notOpened, true, true, false), kExitPortFailed);
  EXPECT_EQ(RunExitStatus(notOpened, false, true, false), kExitOk);
}

TEST(PortOutcome, ReportOfAPortNamesItsResultAndCarriesTheRecordOfItsLastDownload) {
  struct Row {
    const char* name;
    std::vector<Download> downloads;
    bool connectFailed;
    PortOutcome outcome;
    std::optional<int> result;
    std::optional<std::string> resultName;
    std::optional<double> seconds;
  };
  using D = Download;
  const std::vector<Row> rows = {
      {"ok", {D::Ok}, false, PortOutcome::Ok, 0, "success", 2.5},
      {"failed", {D::Failed1015}, false, PortOutcome::Failed, 1015, "ZU3G_ERROR_NO_IMAGE", 2.5},
      {"unknown step",
       {D::UnknownStep},
       false,
       PortOutcome::Failed,
       std::nullopt,
       "unknown step notice",
       2.5},
      {"running",
       {D::Running},
       false,
       PortOutcome::Unfinished,
       std::nullopt,
       std::nullopt,
       std::nullopt},
      {"refused",
       {D::Refused},
       false,
       PortOutcome::Failed,
       std::nullopt,
       std::nullopt,
       std::nullopt},
      {"no phone", {}, false, PortOutcome::Unfinished, std::nullopt, std::nullopt, std::nullopt},
      {"port never opened",
       {},
       true,
       PortOutcome::Failed,
       std::nullopt,
       std::nullopt,
       std::nullopt},
      {"second phone", {D::Failed1015, D::Ok}, false, PortOutcome::Ok, 0, "success", 2.5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PortSlot slot = Slot(5, row.downloads, row.connectFailed);
    const PortReport r = MakePortReport(slot);
    EXPECT_EQ(r.com, 5);
    EXPECT_EQ(r.outcome, row.outcome);
    EXPECT_EQ(r.result, row.result);
    EXPECT_EQ(r.resultName, row.resultName);
    EXPECT_EQ(r.seconds.has_value(), row.seconds.has_value());
    if (r.seconds && row.seconds) {
      EXPECT_NEAR(*r.seconds, *row.seconds, 1e-9);
    }
    EXPECT_EQ(r.downloads, static_cast<int>(row.downloads.size()));
    EXPECT_FALSE(r.detail.empty());
    EXPECT_EQ(r.record.has_value(), !row.downloads.empty());
    if (r.record) {
      EXPECT_EQ(r.record->facts.model, "phone " + std::to_string(row.downloads.size()));
    }
  }
}

TEST(PortOutcome, ResultDescriptionsCarryCodeAndName) {
  const std::vector<std::pair<unsigned, std::string>> rows = {
      {1, "OK (result 0: success)"},
      {0, "FAILED (unknown step notice)"},
      {500, "FAILED (result 500: download thread failed or download-mode time-out)"},
      {1015, "FAILED (result 1015: ZU3G_ERROR_NO_IMAGE)"},
      {4242, "FAILED (result 4242: unknown result)"},
  };
  for (const auto& [word, text] : rows) EXPECT_EQ(DescribeResult(word), text);
}

}  // namespace
}  // namespace station
