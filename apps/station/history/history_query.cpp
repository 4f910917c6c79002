#include "history_query.h"

#include <algorithm>

namespace history {
namespace {

// The row columns (history_schema.h's order) as each engine gives them back: the line
// database's times and images are turned into the local file's text forms.
std::string SelectList(Dialect dialect, Columns columns) {
  const bool pg = dialect == Dialect::kPostgres;
  const bool all = columns == Columns::kAll;
  auto utc = [pg](const char* column) {
    return pg ? std::string("to_char(") + column +
                    " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') AS " + column
              : std::string(column);
  };
  auto keep = [all](const char* column) { return all ? std::string(column) : "NULL"; };
  return "uid, station, com, " + keep("usb_position") + ", usb_serial, " + keep("device") +
         ", model, " + keep("banner") + ", flow, " + keep("package_path") + ", package_md5, " +
         (all ? (pg ? "images::text AS images" : "images") : "'[]'") +
         ", result, result_name, end_step, " + utc("started") + ", " + utc("ended") +
         ", seconds, host_pid, download, version";
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool ValidResultFilter(const std::string& text) {
  return text == "ok" || text == "failed" || text == "unfinished" || AllDigits(text);
}

SqlQuery RowQuery(const HistoryFilter& filter, Dialect dialect, Columns columns) {
  SqlQuery query;
  std::vector<std::string> where;
  auto param = [&](std::string value) {
    query.params.push_back(std::move(value));
    return dialect == Dialect::kPostgres
               ? std::string("$").append(std::to_string(query.params.size()))
               : std::string("?");
  };
  if (filter.from) where.push_back("downloads.started >= " + param(*filter.from));
  if (filter.to) where.push_back("downloads.started < " + param(*filter.to));
  if (filter.com) where.push_back("com = " + param(std::to_string(*filter.com)));
  if (filter.result) {
    const std::string& r = *filter.result;
    if (r == "ok")
      where.push_back("downloads.ended IS NOT NULL AND result = 0");
    else if (r == "failed")
      where.push_back("downloads.ended IS NOT NULL AND (result IS NULL OR result <> 0)");
    else if (r == "unfinished")
      where.push_back("downloads.ended IS NULL");
    else
      where.push_back("result = " + param(r));
  }
  if (filter.model) where.push_back("model = " + param(*filter.model));
  if (filter.packageMd5) where.push_back("package_md5 = " + param(*filter.packageMd5));
  if (filter.usbSerial) where.push_back("usb_serial = " + param(*filter.usbSerial));
  if (filter.station) where.push_back("station = " + param(*filter.station));

  std::string inner = "SELECT " + SelectList(dialect, columns) + " FROM downloads";
  for (size_t i = 0; i < where.size(); ++i) inner += (i == 0 ? " WHERE " : " AND ") + where[i];
  // The newest first to cut at `last`, then in time order for reading.
  inner += " ORDER BY downloads.started DESC, uid DESC";
  if (filter.last > 0) inner += " LIMIT " + std::to_string(filter.last);
  query.sql = "SELECT * FROM (" + inner + ") AS chosen ORDER BY started, uid";
  return query;
}

}  // namespace history
