// What the history does when its file or the line database fails: a damaged or locked file, a
// full disk, a server that refuses, drops the connection in the middle of a send, or stops
// answering. In every case the downloads go on (the calls return at once while the fault
// lasts), the fault is said once, and once it is gone every row is in the file, and in the line
// database, exactly once.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "full_disk_vfs.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/line_store.h"
#include "line_test_support.h"
#include "silent_proxy.h"
#include "support/temp_dir.h"

namespace tr52test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Everything one row of the table works on.
struct Bed {
  TempDir dir;
  std::string path = dir.File("history.sqlite");
  std::string url;  // the line database the recorder sends to; empty: none
  std::string database;
  std::optional<history::SqliteDb> lock;
  std::unique_ptr<SilentProxy> proxy;
};

struct Fault {
  const char* name;
  bool line;                             // the line database takes part (needs the server)
  std::function<void(Bed&)> prepare;     // before the recorder starts
  std::function<void(Bed&)> begin;       // the fault arises
  std::function<void(Bed&)> end;         // it is gone
  const char* said;                      // the one notice of the fault
  const char* recovered;                 // the one notice that it is over; nullptr: none
  std::function<void(Bed&)> check = {};  // more to see at the end
};

void Damage(const std::string& path) {
  // A history with rows, closed (so everything is in the file), then its pages after the first
  // overwritten: the schema reads, the tables do not.
  {
    history::HistoryStore store(path);
    for (int i = 0; i < 50; ++i) {
      history::DownloadRow row;
      row.uid = "old" + std::to_string(i);
      row.station = "s";
      row.started = "2025-01-01T00:00:00.000Z";
      store.Insert(row);
    }
  }
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(4096);
  const std::string junk(8192, '\x5a');
  f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
}

const std::vector<Fault>& Faults() {
  static const std::vector<Fault> faults = {
      {"damaged file",
       false,
       [](Bed& b) { Damage(b.path); },
       {},
       {},
       "is damaged",
       nullptr,
       [](Bed& b) {
         // The damaged file is kept beside the new one, as it was.
         int aside = 0;
         for (const auto& entry : fs::directory_iterator(b.dir.Path()))
           aside += entry.path().filename().string().rfind("history.sqlite.damaged-", 0) == 0 &&
                    fs::file_size(entry.path()) >= 12288;
         EXPECT_EQ(aside, 1);
       }},
      {"file locked by another program", false,
       [](Bed& b) { history::HistoryStore create(b.path); },
       [](Bed& b) {
         b.lock.emplace(b.path, history::SqliteDb::Mode::kReadWrite);
         b.lock->Exec("BEGIN EXCLUSIVE");
       },
       [](Bed& b) { b.lock.reset(); },  // rolled back and closed
       "cannot write", "is written again"},
      {"full disk",
       false,
       {},
       [](Bed&) { SetDiskFull(true); },
       [](Bed&) { SetDiskFull(false); },
       "cannot write",
       "is written again"},
      {"server refuses the connection",
       true,
       [](Bed& b) { b.url += " user=clerk"; },  // no such role yet
       {},
       [](Bed& b) {
         QueryRow(Cluster().Url("postgres"), "CREATE ROLE clerk LOGIN");
         QueryRow(Cluster().Url("postgres"), "ALTER DATABASE " + b.database + " OWNER TO clerk");
       },
       "cannot send rows to the line database",
       "is reached again"},
      {"server drops the connection mid-send",
       true,
       [](Bed& b) {
         // The table, and a trigger that ends its own connection at the first insert.
         history::LineStore made(b.url, true);
         QueryRow(b.url, "CREATE SEQUENCE drops");
         QueryRow(b.url,
                  "CREATE FUNCTION drop_once() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                  "IF nextval('drops') = 1 THEN PERFORM pg_terminate_backend(pg_backend_pid()); "
                  "END IF; RETURN NEW; END $$");
         QueryRow(b.url,
                  "CREATE TRIGGER drop_once BEFORE INSERT ON downloads FOR EACH ROW EXECUTE "
                  "FUNCTION drop_once()");
       },
       {},
       {},
       "cannot send rows to the line database",
       "is reached again"},
      {"server stops answering", true,
       [](Bed& b) {
         b.proxy = std::make_unique<SilentProxy>(Cluster().Folder() + "/.s.PGSQL.5432");
         b.url = "host=" + b.proxy->Folder() + " dbname=" + b.database + " user=tr52";
       },
       [](Bed& b) { b.proxy->Silent(true); }, [](Bed& b) { b.proxy->Silent(false); },
       "cannot send rows to the line database", "is reached again"},
  };
  return faults;
}

class Notices {
 public:
  void Add(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(text);
  }
  int Count(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& line : lines_) n += line.find(part) != std::string::npos;
    return n;
  }
  std::string All() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const auto& line : lines_) text += "  " + line + "\n";
    return text;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

// Complete rows in the file (another connection, as a person's query would read it).
long CompleteRows(const std::string& path) {
  try {
    history::HistoryStore store(path, history::StoreOptions{.mustExist = true, .busyMs = 50});
    long n = 0;
    for (const auto& row : store.Query({})) n += row.ended ? 1 : 0;
    return n;
  } catch (const std::exception&) {
    return -1;
  }
}

TEST(HistoryFaults, TheDownloadGoesOnTheFaultIsSaidOnceAndEveryRowLandsOnce) {
  RegisterFullDiskVfs();
  constexpr int kDownloads = 3;
  for (const Fault& fault : Faults()) {
    SCOPED_TRACE(fault.name);
    if (fault.line && Cluster().Missing()) {
      std::printf("skipped \"%s\": %s\n", fault.name, Cluster().Why().c_str());
      continue;
    }
    if (fault.line) {
      ASSERT_TRUE(Cluster().Ready()) << Cluster().Why();
    }
    Bed bed;
    if (fault.line) {
      bed.database = "faults_" + std::to_string(&fault - Faults().data());
      bed.url = FreshDatabase(bed.database);
    }
    if (fault.prepare) fault.prepare(bed);

    Notices notices;
    history::RecorderSettings settings;
    settings.stationId = "bench";
    settings.writer.path = bed.path;
    settings.writer.retry = milliseconds(100);
    settings.writer.store.vfs = kFullDiskVfs;
    settings.writer.store.busyMs = 50;
    if (fault.line) {
      history::SenderSettings line;
      line.url = bed.url;
      line.timeouts = {milliseconds(3000), milliseconds(3000)};
      line.retryFirst = milliseconds(50);
      line.retryMost = milliseconds(200);
      settings.line = line;
    }
    history::HistoryRecorder recorder(settings,
                                      [&](const std::string& text) { notices.Add(text); });
    if (fault.begin) fault.begin(bed);
    // The downloads while the fault lasts: the station's calls return without waiting for it.
    for (int i = 0; i < kDownloads; ++i) {
      const std::string uid = recorder.Started(60 + i);
      history::DownloadEnd end;
      end.result = 0;
      end.seconds = 1.5;
      recorder.Ended(uid, end);
    }
    EXPECT_TRUE(WaitFor([&] { return notices.Count(fault.said) > 0; }, std::chrono::seconds(20)))
        << notices.All();
    if (fault.end) fault.end(bed);
    EXPECT_TRUE(
        WaitFor([&] { return CompleteRows(bed.path) == kDownloads; }, std::chrono::seconds(20)))
        << notices.All();
    if (fault.line) {
      EXPECT_TRUE(
          WaitFor([&] { return CountLine(Cluster().Url(bed.database)).complete == kDownloads; },
                  std::chrono::seconds(20)))
          << notices.All();
    }
    recorder.Close();

    EXPECT_EQ(notices.Count(fault.said), 1) << notices.All();
    if (fault.recovered) {
      EXPECT_EQ(notices.Count(fault.recovered), 1) << notices.All();
    }
    EXPECT_EQ(notices.Count("lost"), 0) << notices.All();
    EXPECT_EQ(CompleteRows(bed.path), kDownloads);
    if (fault.line) {
      EXPECT_EQ(CountLine(Cluster().Url(bed.database)),
                (LineCount{kDownloads, kDownloads, kDownloads}));
    }
    if (fault.check) fault.check(bed);
  }
}

}  // namespace
}  // namespace tr52test
