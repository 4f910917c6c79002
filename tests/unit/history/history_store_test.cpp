// The station's history file: rows written at a download's start and completed at its end, the
// schema and its migrations, people's questions, the last download of a phone or port, and the
// outbox of the line database.
#include "history/history_store.h"

#include <gtest/gtest.h>

#include "history/history_output.h"
#include "history/history_schema.h"
#include "history_sample.h"
#include "support/temp_dir.h"

namespace tr52test {
namespace {

using history::DownloadRow;
using history::HistoryStore;

std::vector<std::string> Uids(const std::vector<DownloadRow>& rows) {
  std::vector<std::string> uids;
  for (const auto& r : rows) uids.push_back(r.uid);
  return uids;
}

// The sample rows as a station writes them: the start, then (for the finished ones) the end.
void Fill(HistoryStore& store) {
  for (const DownloadRow& row : SampleRows()) {
    store.Insert(row);
    if (row.ended) store.Complete(row);
  }
}

TEST(HistoryStore, ARowStartsUnfinishedAndItsCompletionAddsEveryEndField) {
  TempDir dir;
  HistoryStore store(dir.File("h.sqlite"));
  const DownloadRow full = SampleRows()[0];
  DownloadRow start;
  start.uid = full.uid;
  start.station = full.station;
  start.com = full.com;
  start.usbPosition = full.usbPosition;
  start.usbSerial = full.usbSerial;
  start.started = full.started;
  start.hostPid = full.hostPid;
  store.Insert(start);
  store.Insert(start);  // a start written twice stays one row
  auto rows = store.Query({});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(history::OutcomeOf(rows[0]), history::Outcome::kUnfinished);
  EXPECT_EQ(rows[0].version, 1);

  store.Complete(full);
  rows = store.Query({});
  ASSERT_EQ(rows.size(), 1u);
  // Every column as it was given (the JSON form shows them all).
  EXPECT_EQ(history::RowsText(rows, history::Format::kJson),
            history::RowsText({full}, history::Format::kJson));
  EXPECT_EQ(rows[0].version, 2);
}

TEST(HistoryStore, OpeningMigratesOnceKeepsTheRowsAndRefusesWhatItCannotRead) {
  TempDir dir;
  const std::string path = dir.File("h.sqlite");
  {
    HistoryStore store(path);
    Fill(store);
  }
  struct Row {
    const char* name;
    std::function<void()> before;
    const char* error;  // empty: opens
  };
  const std::vector<Row> rows = {
      {"opened again", [] {}, ""},
      {"a newer schema",
       [&] {
         history::SqliteDb db(path, history::SqliteDb::Mode::kReadWrite);
         db.Exec("UPDATE schema_version SET version = 99");
       },
       "schema version 99"},
      {"no file where a query expects one", [&] {}, "no history file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    row.before();
    const std::string at = std::string(row.name).rfind("no file", 0) == 0 ? dir.File("x") : path;
    try {
      HistoryStore store(at, history::StoreOptions{.mustExist = true});
      EXPECT_STREQ(row.error, "");
      EXPECT_EQ(store.Query({}).size(), SampleRows().size());
      auto mode = store.Db().Prepare("PRAGMA journal_mode");
      ASSERT_TRUE(mode.Step());
      EXPECT_EQ(mode.Text(0), "wal");
      auto version = store.Db().Prepare("SELECT version FROM schema_version");
      ASSERT_TRUE(version.Step());
      EXPECT_EQ(version.Int(0), history::kSchemaVersion);
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(row.error), std::string::npos) << e.what();
      EXPECT_STRNE(row.error, "");
    }
  }
}

TEST(HistoryStore, EachQuestionGetsItsDownloadsInTimeOrder) {
  TempDir dir;
  HistoryStore store(dir.File("h.sqlite"));
  Fill(store);
  for (const FilterCase& c : FilterCases())
    EXPECT_EQ(Uids(store.Query(c.filter)), c.uids) << c.name;
  // A summary's rows leave the bulky text out but keep what it counts.
  const auto light = store.Query({}, history::Columns::kOutcome);
  ASSERT_EQ(light.size(), SampleRows().size());
  EXPECT_EQ(light[0].images, "[]");
  EXPECT_EQ(light[0].result, 0);
  EXPECT_EQ(light[0].seconds, 10);
}

TEST(HistoryStore, TheLastDownloadIsThePhonesThenTheHubPortsThenTheComNumbers) {
  TempDir dir;
  HistoryStore store(dir.File("h.sqlite"));
  Fill(store);
  struct Row {
    history::PortKey key;
    std::optional<std::string> uid;
  };
  const std::string hub5 = "pci-0000:00:14.0-usb-0:5";
  const std::vector<Row> rows = {
      {{"s9", 1, std::nullopt, "SER2"}, "a6"},  // the phone, wherever it was
      {{"s1", 9, hub5, std::nullopt}, "a3"},    // the hub port at this station
      {{"s2", 9, hub5, std::nullopt}, "a4"},
      {{"s1", 5, std::nullopt, std::nullopt}, "a3"},  // the COM number at this station
      {{"s2", 7, std::nullopt, std::nullopt}, "a5"},
      {{"s1", 7, std::nullopt, std::nullopt}, std::nullopt},
      {{"s1", 5, hub5, "NEW"}, std::nullopt},  // a phone never seen: not the port's last
  };
  for (const Row& row : rows) {
    const auto last = store.Last(row.key);
    EXPECT_EQ(last ? std::optional<std::string>(last->uid) : std::nullopt, row.uid)
        << row.key.station << " COM" << row.key.com;
  }
}

TEST(HistoryStore, TheOutboxHoldsARowUntilItsNewestVersionIsSent) {
  TempDir dir;
  HistoryStore store(dir.File("h.sqlite"));
  DownloadRow row = SampleRows()[0];
  auto due = [&] { return std::make_pair(Uids(store.Unsent(10)), store.UnsentCount()); };
  using Due = std::pair<std::vector<std::string>, int64_t>;
  store.Insert(row);
  EXPECT_EQ(due(), (Due{{"a1"}, 1}));
  store.MarkSent({{"a1", 1}});
  EXPECT_EQ(due(), (Due{{}, 0}));
  store.Complete(row);  // version 2: due again
  EXPECT_EQ(due(), (Due{{"a1"}, 1}));
  EXPECT_EQ(store.Unsent(10)[0].version, 2);
  store.MarkSent({{"a1", 1}});  // a late mark of the start changes nothing
  EXPECT_EQ(due(), (Due{{"a1"}, 1}));
  store.MarkSent({{"a1", 2}});
  EXPECT_EQ(due(), (Due{{}, 0}));
}

}  // namespace
}  // namespace tr52test
