// History figures: a file of 100,000 downloads; the cost of a download's rows to the station's
// thread (queued) and to the history's thread (written: a commit at the start and one at the
// end, each on disk), the queries people run (one phone, one day: the file opened, the rows
// read and laid out as a table, as tr52-history does), and the file's size per 1000 downloads.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "history/history_command.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDownloads = 100000;
constexpr int kPhones = 20000;  // each downloaded five times, on average
constexpr int kPerDay = 1000;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Seven images, as a download of a whole package writes them.
std::string ImagesJson() {
  std::string json = "[";
  const char* types[] = {"PARTITION TBL", "DBL",  "FSBL",    "OSBL",
                         "FLEXIBLE LOGO", "AMSS", "EFS GANG"};
  for (int i = 0; i < 7; ++i) {
    json += std::string(i ? "," : "") + R"({"type":")" + types[i] + R"(","name":")" + types[i] +
            R"(.bin","address":null,"method":"nand","size":)" + std::to_string(65536 << i) +
            R"(,"md5":"9a6920c36809cababb4a373984c8b81b","written":true})";
  }
  return json + "]";
}

std::string Day(int day) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "2025-%02d-%02d", 1 + day / 28, 1 + day % 28);
  return buf;
}

history::DownloadRow Download(int i, std::mt19937& rng, const std::string& images) {
  history::DownloadRow r;
  r.uid = history::NewRowId();
  r.station = "line-" + std::to_string(1 + i % 4);
  r.com = 100 + static_cast<int>(rng() % 16);
  char serial[32];
  std::snprintf(serial, sizeof serial, "R52X%06u", static_cast<unsigned>(rng() % kPhones));
  r.usbSerial = serial;
  r.usbPosition = "pci-0000:00:14.0-usb-0:" + std::to_string(r.com - 99);
  r.device = "/dev/ttyACM" + std::to_string(r.com - 100);
  const int day = i / kPerDay, second = (i % kPerDay) * 80;
  char started[40];
  std::snprintf(started, sizeof started, "%sT%02d:%02d:%02d.000Z", Day(day).c_str(), second / 3600,
                second / 60 % 60, second % 60);
  r.started = started;
  r.ended = started;
  r.seconds = 60.0 + static_cast<double>(rng() % 600) / 10;
  r.model = "TR52";
  r.banner = "TR52V10A_091117";
  r.flow = 1;
  r.packagePath = "/fw/TR52_" + std::to_string(day / 30) + ".dz";
  r.packageMd5 = std::string(32, static_cast<char>('a' + day / 30));
  r.images = images;
  const bool failed = rng() % 10 == 0;
  r.result = failed ? 1010 : 0;
  r.resultName = failed ? "NandFlashWrite failed" : "success";
  if (failed) r.endStep = "write AMSS";
  r.hostPid = 4242;
  r.download = i + 1;
  return r;
}

uintmax_t FileBytes(const std::string& path) {
  uintmax_t total = 0;
  std::error_code ec;
  for (const char* suffix : {"", "-wal"}) {
    const auto size = std::filesystem::file_size(path + suffix, ec);
    if (!ec) total += size;
  }
  return total;
}

// Median and slowest of `runs` runs of tr52-history's work for `filter`.
void TimeQuery(const char* label, const std::string& path, const history::HistoryFilter& filter) {
  history::HistoryCommand command;
  command.historyPath = path;
  command.filter = filter;
  std::vector<double> ms;
  size_t rows = 0;
  for (int run = 0; run < 15; ++run) {
    std::string out, error;
    const auto start = Clock::now();
    if (history::RunHistoryCommand(command, out, error) != history::kHistoryOk) {
      std::printf("query %s: %s\n", label, error.c_str());
      return;
    }
    ms.push_back(Ms(Clock::now() - start));
    rows = static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) - 1;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("query %-28s %5zu rows: median %6.2f ms, slowest %6.2f ms (goal: under 50 ms)\n",
              label, rows, ms[ms.size() / 2], ms.back());
}

}  // namespace

int main() {
  tr52test::TempDir dir;
  const std::string path = dir.File("history.sqlite");
  std::mt19937 rng(52);
  const std::string images = ImagesJson();

  // 100,000 downloads, each a start and an end, a thousand to a transaction.
  auto start = Clock::now();
  {
    history::HistoryStore store(path);
    for (int i = 0; i < kDownloads;) {
      history::SqliteTransaction transaction(store.Db());
      for (int n = 0; n < 1000 && i < kDownloads; ++n, ++i) {
        const auto row = Download(i, rng, images);
        store.Insert(row);
        store.Complete(row);
      }
      transaction.Commit();
    }
    store.Db().Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  }
  std::printf("history of %d downloads written in %.1f s (%.0f downloads/s in bulk)\n", kDownloads,
              Ms(Clock::now() - start) / 1000, kDownloads / (Ms(Clock::now() - start) / 1000));
  std::printf("file size: %.1f MiB, %.0f KiB per 1000 downloads\n",
              static_cast<double>(FileBytes(path)) / (1 << 20),
              static_cast<double>(FileBytes(path)) / 1024 / (kDownloads / 1000.0));

  // A station's downloads on that file: the calls its thread makes, and the history thread's
  // work for each (a start committed, then an end committed: two transactions on disk).
  {
    history::RecorderSettings settings;
    settings.stationId = "bench";
    settings.writer.path = path;
    history::HistoryRecorder recorder(
        settings, [](const std::string& t) { std::printf("notice: %s\n", t.c_str()); });
    constexpr int kMeasured = 1000;
    std::vector<double> callUs;
    Clock::duration written{};
    history::DownloadEnd end;
    end.result = 0;
    end.seconds = 75;
    for (int i = 0; i < kMeasured; ++i) {
      const auto t0 = Clock::now();
      const std::string uid = recorder.Started(100 + i % 16);
      const auto t1 = Clock::now();
      if (!recorder.Writer().Flush(std::chrono::seconds(10))) std::printf("flush failed\n");
      const auto t2 = Clock::now();
      recorder.Ended(uid, end);
      const auto t3 = Clock::now();
      if (!recorder.Writer().Flush(std::chrono::seconds(10))) std::printf("flush failed\n");
      const auto t4 = Clock::now();
      callUs.push_back(Ms((t1 - t0) + (t3 - t2)) * 1000);
      written += (t2 - t1) + (t4 - t3);
    }
    std::sort(callUs.begin(), callUs.end());
    std::printf(
        "per download, on the station's thread: median %.1f us, 99th percentile %.1f us "
        "(queued; goal: under 1 ms)\n",
        callUs[callUs.size() / 2], callUs[callUs.size() * 99 / 100]);
    std::printf(
        "per download, on the history's thread: %.2f ms (start and end each committed to disk; "
        "off the download threads)\n",
        Ms(written) / kMeasured);
  }

  // People's questions of the 100,000 downloads.
  history::HistoryFilter phone;
  phone.usbSerial = "R52X000042";
  TimeQuery("one USB serial (all)", path, phone);
  history::HistoryFilter day;
  day.from = Day(50) + "T00:00:00.000Z";
  day.to = Day(51) + "T00:00:00.000Z";
  TimeQuery("one day (all)", path, day);
  history::HistoryFilter last;
  last.last = 20;
  TimeQuery("the last 20", path, last);
  return 0;
}
