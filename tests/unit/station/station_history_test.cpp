// The station's side of the history: the rows of a port's downloads, the board the front ends
// show, and what is said when a phone is plugged in.
#include "core/station_history.h"

#include <gtest/gtest.h>

#include <ctime>

#include "history/history_store.h"
#include "support/sample_record.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace station {
namespace {

using history::DownloadRow;

DownloadRow Row(const char* station, int com, std::optional<int64_t> result, const char* resultName,
                bool ended, std::optional<std::string> serial = {}) {
  DownloadRow r;
  r.station = station;
  r.com = com;
  r.started = "2025-01-31T08:15:02.047Z";
  if (ended) r.ended = "2025-01-31T08:16:40.512Z";
  r.result = result;
  if (resultName) r.resultName = resultName;
  r.usbSerial = std::move(serial);
  return r;
}

TEST(StationHistoryText, LabelsAndLinesTellTheEarlierDownload) {
  tr52test::ScopedEnv tz("TZ", "UTC");
  tzset();
  struct LabelRow {
    DownloadRow row;
    bool otherPort;
    std::string label;
  };
  const std::vector<LabelRow> labels = {
      {Row("s1", 5, 0, "success", true), false, "last: OK 01-31 08:16"},
      {Row("s1", 5, 1015, "ZU3G_ERROR_NO_IMAGE", true), false, "last: FAILED 1015 01-31 08:16"},
      {Row("s1", 5, std::nullopt, "no progress pane", true), true,
       "this phone: FAILED 01-31 08:16"},
      {Row("s1", 5, std::nullopt, nullptr, false), false, "last: unfinished 01-31 08:15"},
  };
  for (const auto& l : labels) EXPECT_EQ(LastDownloadLabel(l.row, l.otherPort), l.label);

  struct LineRow {
    DownloadRow now;
    std::optional<DownloadRow> previous;
    std::string line;
  };
  DownloadRow elsewhere = Row("s2", 7, 1015, "ZU3G_ERROR_NO_IMAGE", true, "R52X\n");
  elsewhere.model = "TR52";
  elsewhere.packageMd5 = "9a6920c36809cababb4a373984c8b81b";
  const std::vector<LineRow> lines = {
      {Row("s1", 5, {}, nullptr, false), std::nullopt, ""},  // a port's first: nothing to say
      {Row("s1", 5, {}, nullptr, false, "R52X\n"), std::nullopt,
       "history: no earlier download of this phone (USB serial R52X\\x0a) on record"},
      {Row("s1", 5, {}, nullptr, false), Row("s1", 5, 0, "success", true),
       "history: the last download on this port began 2025-01-31 08:15:02: OK"},
      {Row("s1", 5, {}, nullptr, false, "R52X\n"), elsewhere,
       "history: this phone (USB serial R52X\\x0a)'s last download began 2025-01-31 08:15:02 at "
       "s2 COM7: FAILED 1015 ZU3G_ERROR_NO_IMAGE, model TR52, package 9a6920c3"},
  };
  for (const auto& l : lines) EXPECT_EQ(PreviousDownloadText(l.now, l.previous), l.line);
  tz.Set(nullptr);
  tzset();
}

TEST(StationHistory, APortsDownloadsAreRowsAndItsLastOneIsOnTheBoard) {
  tr52test::TempDir dir;
  const std::string path = dir.File("history.sqlite");
  auto open = [&](const std::vector<int>& ports) {
    history::RecorderSettings settings;
    settings.stationId = "s1";
    settings.writer.path = path;
    return std::make_unique<StationHistory>(
        std::make_unique<history::HistoryRecorder>(settings, [](const std::string&) {}), ports);
  };
  PortSlot slot(5);
  std::vector<std::string> uids;  // of the three downloads, in order
  {
    auto history = open({5});
    for (unsigned word : {1u, 1015u}) {  // a success, then a failure with its code
      slot.sessions.Start(std::chrono::steady_clock::now());
      history->Started(slot);
      auto& session = slot.sessions.Last();
      EXPECT_EQ(session.historyUid.size(), 32u);
      uids.push_back(session.historyUid);
      session.hasResult = true;
      session.result = word;
      session.ended = session.started + std::chrono::milliseconds(2500);
      if (word == 1) session.record = tr52test::SampleRecord();
      history->Ended(slot);
    }
    EXPECT_EQ(history->Board().Label("COM5").rfind("last: FAILED 1015 ", 0), 0u)
        << history->Board().Label("COM5");
    slot.sessions.Start(std::chrono::steady_clock::now());  // a third, left unfinished
    history->Started(slot);
    uids.push_back(slot.sessions.Last().historyUid);
  }
  history::HistoryStore store(path, history::StoreOptions{.mustExist = true});
  std::map<std::string, DownloadRow> rows;  // by uid: they may start in the same millisecond
  for (auto& row : store.Query({})) rows[row.uid] = row;
  ASSERT_EQ(rows.size(), 3u);
  const DownloadRow& first = rows[uids[0]];
  EXPECT_EQ(first.result, 1010);  // the plug-in's record wins over the message word
  EXPECT_EQ(first.model, "TR52");
  const DownloadRow& second = rows[uids[1]];
  EXPECT_EQ(second.result, 1015);
  EXPECT_EQ(second.seconds, 2.5);
  EXPECT_EQ(history::OutcomeOf(rows[uids[2]]), history::Outcome::kUnfinished);

  // A station started again shows each port's last download at once.
  auto again = open({5, 6});
  again->Close();
  EXPECT_EQ(again->Board().Label("COM5").rfind("last: unfinished ", 0), 0u)
      << again->Board().Label("COM5");
  EXPECT_EQ(again->Board().Label("COM6"), "");
}

}  // namespace
}  // namespace station
