// Downloads on record for the tests of the history's queries and output, and the questions
// asked of them with the downloads each must answer: the station's file and the line database
// are asked the same ones.
#pragma once

#include <string>
#include <vector>

#include "history/download_row.h"
#include "history/history_query.h"

namespace tr52test {

inline history::DownloadRow SampleRow(const char* uid, const char* station, int com,
                                      const char* started, std::optional<double> seconds,
                                      std::optional<int64_t> result, const char* resultName) {
  history::DownloadRow r;
  r.uid = uid;
  r.station = station;
  r.com = com;
  r.started = started;
  r.hostPid = 4242;
  if (seconds) {
    r.seconds = seconds;
    // The end a whole number of seconds after the start (the samples start on the minute).
    r.ended = std::string(started).substr(0, 17) + (*seconds < 10 ? "0" : "") +
              std::to_string(static_cast<int>(*seconds)) + ".000Z";
    r.result = result;
    r.resultName = resultName;
    r.version = 2;
  }
  return r;
}

inline std::vector<history::DownloadRow> SampleRows() {
  const std::string md5a = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                    md5b = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
  std::vector<history::DownloadRow> rows = {
      SampleRow("a1", "s1", 5, "2025-01-30T08:00:00.000Z", 10, 0, "success"),
      SampleRow("a2", "s1", 6, "2025-01-30T09:00:00.000Z", 20, 1015, "ZU3G_ERROR_NO_IMAGE"),
      SampleRow("a3", "s1", 5, "2025-01-31T07:00:00.000Z", 30, 0, "success"),
      SampleRow("a4", "s2", 5, "2025-01-31T08:00:00.000Z", std::nullopt, std::nullopt, ""),
      SampleRow("a5", "s2", 7, "2025-01-31T23:30:00.000Z", 1, std::nullopt, "no progress pane"),
      SampleRow("a6", "s1", 6, "2025-02-01T00:10:00.000Z", 40, 0, "success"),
  };
  const char* serials[] = {"SER1", "SER2", "SER1", nullptr, "SER3", "SER2"};
  // An unfinished download never learnt its model: the end of a download tells it.
  const char* models[] = {"TR52", "TR52", "TR52", nullptr, "KW_TR52/V10A", "TR52"};
  for (size_t i = 0; i < rows.size(); ++i) {
    if (serials[i]) rows[i].usbSerial = serials[i];
    rows[i].usbPosition = "pci-0000:00:14.0-usb-0:" + std::to_string(rows[i].com);
    if (models[i]) rows[i].model = models[i];
    rows[i].packageMd5 = i == 1 || i == 4 ? md5b : md5a;
    rows[i].packagePath = "/fw/TR52.dz";
  }
  rows[0].device = "/dev/ttyACM0";
  rows[0].banner = "TR52V10A_091117";
  rows[0].flow = 1;
  rows[0].download = 1;
  rows[0].images =
      R"([{"type":"DBL","name":"dbl.mbn","address":null,"method":"nand","size":32768,"md5":"aa","written":true}])";
  return rows;
}

struct FilterCase {
  const char* name;
  history::HistoryFilter filter;
  std::vector<std::string> uids;  // in time order
};

inline std::vector<FilterCase> FilterCases() {
  using F = history::HistoryFilter;
  auto with = [](auto set) {
    F f;
    set(f);
    return f;
  };
  return {
      {"everything", F{}, {"a1", "a2", "a3", "a4", "a5", "a6"}},
      {"the last two", with([](F& f) { f.last = 2; }), {"a5", "a6"}},
      {"one day",
       with([](F& f) {
         f.from = "2025-01-31T00:00:00.000Z";
         f.to = "2025-02-01T00:00:00.000Z";
       }),
       {"a3", "a4", "a5"}},
      {"one COM", with([](F& f) { f.com = 5; }), {"a1", "a3", "a4"}},
      {"passed", with([](F& f) { f.result = "ok"; }), {"a1", "a3", "a6"}},
      {"failed", with([](F& f) { f.result = "failed"; }), {"a2", "a5"}},
      {"unfinished", with([](F& f) { f.result = "unfinished"; }), {"a4"}},
      {"one code", with([](F& f) { f.result = "1015"; }), {"a2"}},
      {"one model", with([](F& f) { f.model = "KW_TR52/V10A"; }), {"a5"}},
      {"one package",
       with([](F& f) { f.packageMd5 = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"; }),
       {"a2", "a5"}},
      {"one phone", with([](F& f) { f.usbSerial = "SER1"; }), {"a1", "a3"}},
      {"one phone's last",
       with([](F& f) {
         f.usbSerial = "SER1";
         f.last = 1;
       }),
       {"a3"}},
      {"one station", with([](F& f) { f.station = "s2"; }), {"a4", "a5"}},
      {"all at once",
       with([](F& f) {
         f.station = "s1";
         f.result = "ok";
         f.from = "2025-01-31T00:00:00.000Z";
       }),
       {"a3", "a6"}},
      {"nothing", with([](F& f) { f.usbSerial = "NONE"; }), {}},
  };
}

}  // namespace tr52test
