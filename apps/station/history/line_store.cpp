#include "line_store.h"

#include <sstream>

#include "history_schema.h"

namespace history {
namespace {

// Any number: migrations of stations that connect at once take turns on it.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(5252052)";

std::vector<std::string> ColumnNames() {
  std::vector<std::string> names;
  std::stringstream in(kRowColumns);
  std::string name;
  while (std::getline(in, name, ',')) names.push_back(name.substr(name.find_first_not_of(' ')));
  return names;
}

std::optional<std::string> Text(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  return StoredText(*value);
}

template <typename T>
std::optional<std::string> Number(const std::optional<T>& value) {
  if (!value) return std::nullopt;
  std::ostringstream out;
  out.precision(17);
  out << *value;
  return out.str();
}

// The parameters of one row, in the column order.
void AddParams(const DownloadRow& r, PgParams& p) {
  p.push_back(r.uid);
  p.push_back(StoredText(r.station));
  p.push_back(std::to_string(r.com));
  p.push_back(Text(r.usbPosition));
  p.push_back(Text(r.usbSerial));
  p.push_back(Text(r.device));
  p.push_back(Text(r.model));
  p.push_back(Text(r.banner));
  p.push_back(Number(r.flow));
  p.push_back(Text(r.packagePath));
  p.push_back(Text(r.packageMd5));
  p.push_back(r.images);  // written by our JSON writer: valid UTF-8, NUL escaped
  p.push_back(Number(r.result));
  p.push_back(Text(r.resultName));
  p.push_back(Text(r.endStep));
  p.push_back(r.started);
  p.push_back(r.ended);
  p.push_back(Number(r.seconds));
  p.push_back(Number(r.hostPid));
  p.push_back(Number(r.download));
  p.push_back(std::to_string(r.version));
}

}  // namespace

LineStore::LineStore(const std::string& url, bool migrate, LineTimeouts timeouts)
    : timeouts_(timeouts), conn_(url, timeouts.connect) {
  if (migrate)
    Migrate();
  else
    CheckVersion();
}

void LineStore::CheckVersion() {
  const PgResult exists =
      conn_.Exec("SELECT to_regclass('schema_version') IS NOT NULL", {}, timeouts_.statement);
  if (exists.Text(0, 0) != "t") throw PgError("the database holds no history yet");
  const PgResult version =
      conn_.Exec("SELECT coalesce(max(version), 0) FROM schema_version", {}, timeouts_.statement);
  if (std::stoll(version.Text(0, 0)) > static_cast<long long>(PgMigrations().size()))
    throw SchemaTooNew("the line database has schema version " + version.Text(0, 0) +
                       "; this program knows versions up to " +
                       std::to_string(PgMigrations().size()));
}

void LineStore::Migrate() {
  conn_.ExecScript("BEGIN", timeouts_.statement);
  try {
    conn_.Exec(kMigrationLock, {}, timeouts_.statement);
    conn_.ExecScript("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)",
                     timeouts_.statement);
    const PgResult read =
        conn_.Exec("SELECT coalesce(max(version), 0) FROM schema_version", {}, timeouts_.statement);
    size_t version = std::stoul(read.Text(0, 0));
    const auto& migrations = PgMigrations();
    if (version > migrations.size())
      throw SchemaTooNew("the line database has schema version " + std::to_string(version) +
                         "; this program knows versions up to " +
                         std::to_string(migrations.size()));
    if (version < migrations.size()) {
      for (; version < migrations.size(); ++version)
        conn_.ExecScript(migrations[version], timeouts_.statement);
      conn_.ExecScript("DELETE FROM schema_version", timeouts_.statement);
      conn_.Exec("INSERT INTO schema_version (version) VALUES ($1)", {std::to_string(version)},
                 timeouts_.statement);
    }
    conn_.ExecScript("COMMIT", timeouts_.statement);
  } catch (const SchemaTooNew&) {
    conn_.ExecScript("ROLLBACK", timeouts_.statement);
    throw;
  }
  // A PgError leaves a connection the caller drops: the server rolls the transaction back.
}

void LineStore::Upsert(const std::vector<DownloadRow>& rows) {
  if (rows.empty()) return;
  static const std::vector<std::string> names = ColumnNames();
  std::string sql = std::string("INSERT INTO downloads (") + kRowColumns + ") VALUES ";
  PgParams params;
  for (size_t r = 0; r < rows.size(); ++r) {
    sql += r == 0 ? "(" : ", (";
    for (size_t c = 0; c < names.size(); ++c) {
      const size_t n = r * names.size() + c + 1;
      std::string cast;
      if (names[c] == "images") cast = "::jsonb";
      if (names[c] == "started" || names[c] == "ended") cast = "::timestamptz";
      sql += (c == 0 ? "$" : ", $") + std::to_string(n) + cast;
    }
    sql += ")";
    AddParams(rows[r], params);
  }
  sql += " ON CONFLICT (uid) DO UPDATE SET ";
  for (size_t c = 1; c < names.size(); ++c)
    sql += (c == 1 ? "" : ", ") + names[c] + " = EXCLUDED." + names[c];
  // An older version (a start sent again after the completion) changes nothing.
  sql += " WHERE downloads.version < EXCLUDED.version";
  conn_.Exec(sql, params, timeouts_.statement);
}

std::vector<DownloadRow> LineStore::Query(const HistoryFilter& filter, Columns columns) {
  const SqlQuery query = RowQuery(filter, Dialect::kPostgres, columns);
  PgParams params(query.params.begin(), query.params.end());
  const PgResult result = conn_.Exec(query.sql, params, timeouts_.statement);
  std::vector<DownloadRow> rows;
  for (int i = 0; i < result.Rows(); ++i) {
    DownloadRow row;
    row.uid = result.Text(i, 0);
    row.station = result.Text(i, 1);
    row.com = std::stoi(result.Text(i, 2));
    row.usbPosition = result.OptText(i, 3);
    row.usbSerial = result.OptText(i, 4);
    row.device = result.OptText(i, 5);
    row.model = result.OptText(i, 6);
    row.banner = result.OptText(i, 7);
    if (auto v = result.OptText(i, 8)) row.flow = std::stoll(*v);
    row.packagePath = result.OptText(i, 9);
    row.packageMd5 = result.OptText(i, 10);
    row.images = result.OptText(i, 11).value_or("[]");
    if (auto v = result.OptText(i, 12)) row.result = std::stoll(*v);
    row.resultName = result.OptText(i, 13);
    row.endStep = result.OptText(i, 14);
    row.started = result.Text(i, 15);
    row.ended = result.OptText(i, 16);
    if (auto v = result.OptText(i, 17)) row.seconds = std::stod(*v);
    if (auto v = result.OptText(i, 18)) row.hostPid = std::stoll(*v);
    if (auto v = result.OptText(i, 19)) row.download = std::stoll(*v);
    row.version = std::stoll(result.Text(i, 20));
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace history
