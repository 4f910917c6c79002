// A line of stations on one PostgreSQL database: three station processes on this machine, each
// with its own history file, serving virtual phones; the server is stopped while they download
// and started again a minute later. Every download must arrive in the line database once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "history/history_schema.h"
#include "history/line_store.h"
#include "history/sqlite_db.h"
#include "line_test_support.h"
#include "soak/soak_round.h"
#include "support/download_package.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "unit/history/history_sample.h"

namespace tr52test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path BinDir() {
  return fs::read_symlink("/proc/self/exe").parent_path();
}

// A station of the line: a copy of the station program in a folder of its own (its settings,
// log and history file), serving one COM port through a soak round.
struct LineStation {
  std::string id;
  fs::path dir;
  soak::SoakOptions options;
  std::vector<soak::PlannedDownload> plan;
  std::unique_ptr<soak::SoakRound> round;

  fs::path History() const { return dir / "history.sqlite"; }
  int Done() const { return static_cast<int>(round->Finished().size()); }
  int Said(const std::string& text) const {
    int n = 0;
    for (const auto& line : round->HistoryLines()) n += line.find(text) != std::string::npos;
    return n;
  }
};

// Runs every station's round (reads what it says, plugs its next phone) until `done` holds or
// the time is up; false then.
template <typename Done>
bool RunUntil(std::deque<LineStation>& line, Done done, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    for (auto& s : line) {
      s.round->Read(std::chrono::milliseconds(20));
      if (s.round->Watching()) s.round->Plug(false);
    }
  }
  return true;
}

std::string RunProgram(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// The line database takes a row's start and end in any order and any number of times, keeps the
// newest, and answers people's questions as a station's file does.
TEST(HistoryLine, TheNewestVersionOfEachRowIsKeptAndQueriesAnswerAsTheFileDoes) {
  REQUIRE_SERVER();
  const std::string url = FreshDatabase("line_rows");
  EXPECT_THROW(history::LineStore(url, false), history::PgError);  // no history there yet
  history::LineStore line(url, true);
  std::vector<history::DownloadRow> starts, ends;
  for (const auto& row : SampleRows()) {
    history::DownloadRow start = row;
    start.version = 1;
    start.ended.reset();
    start.result.reset();
    start.resultName.reset();
    start.seconds.reset();
    starts.push_back(start);
    ends.push_back(row);
  }
  line.Upsert(starts);
  line.Upsert(ends);
  line.Upsert(starts);  // sent again late: changes nothing
  line.Upsert(ends);    // sent twice: lands once
  EXPECT_EQ(CountLine(url), (LineCount{6, 6, 5}));
  const auto rows = line.Query({});
  ASSERT_EQ(rows.size(), ends.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].uid);
    EXPECT_EQ(rows[i].uid, ends[i].uid);
    EXPECT_EQ(rows[i].started, ends[i].started);
    EXPECT_EQ(rows[i].ended, ends[i].ended);
    EXPECT_EQ(rows[i].result, ends[i].result);
    EXPECT_EQ(rows[i].resultName, ends[i].resultName);
    EXPECT_EQ(rows[i].usbSerial, ends[i].usbSerial);
    EXPECT_EQ(rows[i].seconds, ends[i].seconds);
    EXPECT_EQ(rows[i].version, ends[i].version);
    EXPECT_EQ(nlohmann::json::parse(rows[i].images), nlohmann::json::parse(ends[i].images));
  }
  for (const FilterCase& c : FilterCases()) {
    std::vector<std::string> uids;
    for (const auto& row : line.Query(c.filter)) uids.push_back(row.uid);
    EXPECT_EQ(uids, c.uids) << c.name;
  }
  // A database of a newer schema is left alone.
  QueryRow(url, "UPDATE schema_version SET version = " +
                    std::to_string(history::PgMigrations().size() + 1) + " RETURNING version");
  EXPECT_THROW(history::LineStore(url, true), history::SchemaTooNew);
  EXPECT_THROW(history::LineStore(url, false), history::SchemaTooNew);
}

TEST(HistoryLine, ThreeStationsThroughAnOutageEachRowArrivesOnce) {
  REQUIRE_SERVER();
  for (const char* file : {"station", "TR52_091117_MP.so", "libtr52_win.so", "tr52-history"})
    if (!fs::exists(BinDir() / file)) GTEST_SKIP() << file << " not built";
  const std::string url = FreshDatabase("line_of_three");
  TempDir dir;
  const std::string ports = dir.File("ports");
  ASSERT_EQ(::mkdir(ports.c_str(), 0700), 0);
  ScopedEnv table("TR52_PORT_TABLE", ports);  // the phones of this process and the stations
  const auto package = WriteDownloadPackage(dir.File("TR52.dz"));
  ASSERT_FALSE(package.path.empty());

  // Enough downloads for a minute without the server and some after it.
  constexpr int kStations = 3, kDownloads = 12;
  constexpr std::chrono::seconds kOutage(60);
  std::deque<LineStation> line;
  for (int i = 0; i < kStations; ++i) {
    LineStation& s = line.emplace_back();
    s.id = "station-" + std::to_string(i + 1);
    s.dir = fs::path(dir.Path()) / s.id;
    fs::create_directories(s.dir);
    for (const char* file : {"station", "TR52_091117_MP.so", "libtr52_win.so"})
      fs::copy_file(BinDir() / file, s.dir / file);
    s.options.phones = 1;
    s.options.downloads = kDownloads;
    s.options.firstCom = 40 + i;
    s.options.timeScale = 50;
    s.options.rebootDelayMs = 300;
    s.options.stationArgs = {"--history", s.History().string(), "--station-id",
                             s.id,        "--history-url",      url};
    s.plan.resize(kDownloads);  // normal mode, no fault
    s.round = std::make_unique<soak::SoakRound>(
        s.options, s.plan, soak::SoakPaths{s.dir, s.dir / "station", package.path});
    std::string error;
    ASSERT_TRUE(s.round->Start(s.id, false, error)) << error;
  }
  auto each = [&](auto test) {
    for (const auto& s : line)
      if (!test(s)) return false;
    return true;
  };

  // Every station's first download reaches the line database.
  ASSERT_TRUE(RunUntil(
      line, [&] { return each([](const auto& s) { return s.Done() >= 1; }); },
      std::chrono::seconds(120)));
  ASSERT_TRUE(RunUntil(
      line, [&] { return CountLine(url).complete >= kStations; }, std::chrono::seconds(30)));

  // The server goes away for a minute, and at least two downloads of every station.
  const auto outage = Clock::now();
  std::vector<int> before;
  for (const auto& s : line) before.push_back(s.Done());
  ASSERT_TRUE(Cluster().Stop());
  ASSERT_TRUE(RunUntil(
      line,
      [&] {
        for (size_t i = 0; i < line.size(); ++i)
          if (line[i].Done() < before[i] + 2) return false;
        return Clock::now() - outage >= kOutage;
      },
      std::chrono::seconds(180)));
  int during = 0;
  for (size_t i = 0; i < line.size(); ++i) during += line[i].Done() - before[i];
  ASSERT_TRUE(Cluster().Start()) << Cluster().Why();
  std::printf("line: the server was away %.1f s, while %d downloads ran\n",
              std::chrono::duration<double>(Clock::now() - outage).count(), during);

  // The rest of the downloads; then everything is in the line database.
  ASSERT_TRUE(RunUntil(
      line, [&] { return each([](const auto& s) { return s.round->AllIdle(kDownloads); }); },
      std::chrono::seconds(240)));
  const long total = kStations * kDownloads;
  ASSERT_TRUE(RunUntil(
      line, [&] { return CountLine(url).complete >= total; }, std::chrono::seconds(30)));
  // Each station ends as its downloads did (0 all passed, 1 one failed), not cut short.
  long passed = 0;
  for (auto& s : line) {
    int failed = 0;
    for (const auto& done : s.round->Finished()) failed += done.code != 0 ? 1 : 0;
    passed += s.Done() - failed;
    EXPECT_EQ(s.round->Station().Stop(std::chrono::seconds(20)), failed ? 1 : 0) << s.id;
  }

  const LineCount arrived = CountLine(url);
  std::printf(
      "line: %ld downloads run, %ld rows in the line database, %ld distinct, %ld complete\n", total,
      arrived.rows, arrived.uids, arrived.complete);
  EXPECT_EQ(arrived, (LineCount{total, total, total}));
  // Each download once: by its station, station process and number in the plug-in's records.
  EXPECT_EQ(QueryRow(url,
                     "SELECT count(DISTINCT (station, host_pid, download)), "
                     "count(DISTINCT station), min(version) FROM downloads"),
            (std::vector<std::string>{std::to_string(total), "3", "2"}));
  for (const auto& s : line) {
    SCOPED_TRACE(s.id);
    // Each station said the outage once, and that it was over once.
    EXPECT_EQ(s.Said("cannot send rows to the line database"), 1);
    EXPECT_EQ(s.Said("is reached again"), 1);
    // Its own file has every row of its own, all complete and sent.
    history::SqliteDb file(s.History().string(), history::SqliteDb::Mode::kReadWrite);
    auto counts = file.Prepare(
        "SELECT count(*), count(ended), count(*) FILTER (WHERE sent_version = version) "
        "FROM downloads");
    ASSERT_TRUE(counts.Step());
    EXPECT_EQ(counts.Int(0), kDownloads);
    EXPECT_EQ(counts.Int(1), kDownloads);
    EXPECT_EQ(counts.Int(2), kDownloads);
  }

  // People query the whole line with tr52-history.
  const std::string history = (BinDir() / "tr52-history").string() + " --url '" + url + "'";
  const auto rows = nlohmann::json::parse(RunProgram(history + " --last 0 --json"), nullptr, false);
  ASSERT_TRUE(rows.is_array());
  EXPECT_EQ(rows.size(), static_cast<size_t>(total));
  const auto days =
      nlohmann::json::parse(RunProgram(history + " --summary --json"), nullptr, false);
  // Its summary counts every download, and passes as the stations saw them.
  long downloads = 0, ok = 0;
  for (const auto& day : days) {
    downloads += day.value("downloads", 0L);
    ok += day.value("ok", 0L);
  }
  EXPECT_EQ(downloads, total);
  EXPECT_EQ(ok, passed);
}

}  // namespace
}  // namespace tr52test
