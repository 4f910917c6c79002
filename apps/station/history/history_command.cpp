#include "history_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

#include "day_summary.h"
#include "history_paths.h"
#include "history_schema.h"
#include "history_store.h"
#include "line_store.h"
#include "time_text.h"

namespace history {
namespace {

constexpr int kDefaultLast = 20;

constexpr const char* kDescription =
    "Downloads in the TR52 station's history: the last ones, or those of a time range, a COM "
    "port, a result, a model, a package or a phone, as a table, CSV or JSON; or a summary per "
    "day. Times are local; a day given as --to is included.";

constexpr const char* kFooter = R"(
Files:
  $XDG_STATE_HOME/tr52/history.sqlite  a station's history (else ~/.local/state/tr52/...);
                                       the station's --history names another
Exit status: 0 done (also when no download matched), 1 the history could not be read, 2 bad
command line.)";

bool IsMd5(const std::string& text) {
  return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
         });
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

std::optional<HistoryCommand> ParseHistoryCommand(int argc, const char* const* argv,
                                                  std::string& text, int& status) {
  HistoryCommand command;
  CLI::App app{kDescription, "tr52-history"};
  app.footer(kFooter);
  std::optional<int> last, com;
  std::string from, to, day, result, md5, model, serial, station;
  bool csv = false, json = false;
  app.add_option("--history", command.historyPath,
                 "the station's history file (default: $XDG_STATE_HOME/tr52/history.sqlite)");
  app.add_option("--url", command.url,
                 "the line's PostgreSQL database (postgresql://...), every station's "
                 "downloads, instead of a station's file");
  app.add_option("-n,--last", last, "the newest N downloads (default 20, 0: all; a summary: all)")
      ->check(CLI::NonNegativeNumber);
  auto* fromOpt = app.add_option("--from", from,
                                 "from this local day or time on (2025-01-31, "
                                 "\"2025-01-31 08:00\"; UTC with a final Z)");
  auto* toOpt = app.add_option("--to", to, "up to this day (included) or time (excluded)");
  app.add_option("--day", day, "on this one day")->excludes(fromOpt)->excludes(toOpt);
  app.add_option("--com", com, "on this COM port")->check(CLI::Range(0, 255));
  app.add_option("--result", result, "ok, failed, unfinished, or a result code");
  app.add_option("--model", model, "of this model, as the phone names itself");
  app.add_option("--md5", md5, "from the package with this MD5");
  app.add_option("--serial", serial, "of the phone with this USB serial number");
  app.add_option("--station", station, "at this station");
  app.add_flag("--summary", command.summary,
               "per day: downloads, passed, failed, unfinished, median seconds, failures by code");
  auto* csvOpt = app.add_flag("--csv", csv, "CSV (every column; RFC 4180)");
  app.add_flag("--json", json, "JSON (every column)")->excludes(csvOpt);

  std::ostringstream out, err;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    status = app.exit(e, out, err) == 0 ? kHistoryOk : kHistoryUsage;
    text = out.str() + err.str();
    return std::nullopt;
  }
  auto fail = [&](const std::string& why) -> std::optional<HistoryCommand> {
    text = why + "\nRun with --help for more information.\n";
    status = kHistoryUsage;
    return std::nullopt;
  };

  HistoryFilter& f = command.filter;
  if (!day.empty()) {
    from = day;
    to = day;
  }
  if (!from.empty() && !(f.from = UtcBound(from, false)))
    return fail("--from: not a day or time: " + from);
  if (!to.empty() && !(f.to = UtcBound(to, true))) return fail("--to: not a day or time: " + to);
  if (!result.empty()) {
    if (!ValidResultFilter(result))
      return fail("--result: expected ok, failed, unfinished or a result code, got " + result);
    f.result = result;
  }
  if (!md5.empty()) {
    if (!IsMd5(md5)) return fail("--md5: expected 32 hexadecimal digits, got " + md5);
    f.packageMd5 = Lower(md5);
  }
  f.com = com;
  if (!model.empty()) f.model = model;
  if (!serial.empty()) f.usbSerial = serial;
  if (!station.empty()) f.station = station;
  f.last = last.value_or(command.summary ? 0 : kDefaultLast);
  command.format = csv ? Format::kCsv : json ? Format::kJson : Format::kTable;
  if (command.url.empty() && command.historyPath.empty()) {
    command.historyPath = DefaultHistoryPath();
    if (command.historyPath.empty())
      return fail("no home folder for the history: give --history PATH");
  }
  return command;
}

int RunHistoryCommand(const HistoryCommand& command, std::string& out, std::string& error) {
  const Columns columns = command.summary ? Columns::kOutcome : Columns::kAll;
  std::vector<DownloadRow> rows;
  try {
    if (!command.url.empty()) {
      LineStore line(command.url, false);
      rows = line.Query(command.filter, columns);
    } else {
      HistoryStore store(command.historyPath, StoreOptions{.mustExist = true});
      rows = store.Query(command.filter, columns);
    }
  } catch (const std::exception& e) {  // SqliteError, PgError, SchemaTooNew
    error =
        (command.url.empty() ? command.historyPath : RedactedUrl(command.url)) + ": " + e.what();
    return kHistoryFailed;
  }
  out = command.summary ? SummaryText(SummariseByDay(rows), command.format)
                        : RowsText(rows, command.format);
  return kHistoryOk;
}

}  // namespace history
