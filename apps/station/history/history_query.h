// What a person asks of the history (the last N downloads, within a time range, of one COM,
// result, model, package or phone), as one SQL query for either engine: the local file and the
// line database answer the same question the same way.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace history {

struct HistoryFilter {
  std::optional<std::string> from;  // UTC bound in the rows' form, included
  std::optional<std::string> to;    // UTC bound, excluded
  std::optional<int> com;
  std::optional<std::string> result;  // "ok", "failed", "unfinished" or a result code
  std::optional<std::string> model;
  std::optional<std::string> packageMd5;  // lower-case hex
  std::optional<std::string> usbSerial;
  std::optional<std::string> station;
  int last = 0;  // the newest `last` downloads; 0: every one
};

enum class Dialect { kSqlite, kPostgres };

// Which columns come back: every one, or (for summaries over many rows) the outcome and times
// with the bulky texts left empty.
enum class Columns { kAll, kOutcome };

struct SqlQuery {
  std::string sql;
  std::vector<std::string> params;  // text, typed by the columns they are compared with
};

// True when `text` is a value of HistoryFilter::result.
bool ValidResultFilter(const std::string& text);

// The downloads the filter selects, oldest first, in the row column order (history_schema.h).
SqlQuery RowQuery(const HistoryFilter& filter, Dialect dialect, Columns columns = Columns::kAll);

}  // namespace history
