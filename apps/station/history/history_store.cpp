#include "history_store.h"

#include <sys/stat.h>

#include "history_schema.h"

namespace history {
namespace {

SqliteDb OpenDb(const std::string& path, const StoreOptions& options) {
  if (options.mustExist) {
    // SQLite would make an empty file of a mistyped name; a query must say it is not there.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
      throw SqliteError(14 /* SQLITE_CANTOPEN */, "no history file " + path);
  }
  SqliteDb db(path,
              options.mustExist ? SqliteDb::Mode::kReadWrite : SqliteDb::Mode::kReadWriteCreate,
              options.vfs);
  db.BusyTimeout(options.busyMs);
  // WAL: readers never wait for the station's writes; FULL: a row committed is on disk, so a
  // power loss after a download started still shows it.
  db.Exec("PRAGMA journal_mode = WAL");
  db.Exec("PRAGMA synchronous = FULL");
  // A station runs for weeks: its memory must not grow with the file (the OS caches the rest).
  db.Exec("PRAGMA cache_size = -512");
  MigrateSqlite(db);
  return db;
}

constexpr const char* kInsertSql =
    "INSERT INTO downloads (uid, station, com, usb_position, usb_serial, device, started, "
    "host_pid, version) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 1) ON CONFLICT (uid) DO NOTHING";

constexpr const char* kCompleteSql =
    "UPDATE downloads SET device = coalesce(?2, device), model = ?3, banner = ?4, flow = ?5, "
    "package_path = ?6, package_md5 = ?7, images = ?8, result = ?9, result_name = ?10, "
    "end_step = ?11, ended = ?12, seconds = ?13, download = ?14, version = 2 WHERE uid = ?1";

}  // namespace

HistoryStore::HistoryStore(const std::string& path, const StoreOptions& options)
    : db_(OpenDb(path, options)),
      insert_(db_.Prepare(kInsertSql)),
      complete_(db_.Prepare(kCompleteSql)) {}

void HistoryStore::Insert(const DownloadRow& row) {
  insert_.Reset();
  insert_.Bind(1, row.uid)
      .Bind(2, row.station)
      .Bind(3, int64_t{row.com})
      .Bind(4, row.usbPosition)
      .Bind(5, row.usbSerial)
      .Bind(6, row.device)
      .Bind(7, row.started)
      .Bind(8, row.hostPid)
      .Run();
}

void HistoryStore::Complete(const DownloadRow& row) {
  complete_.Reset();
  complete_.Bind(1, row.uid)
      .Bind(2, row.device)
      .Bind(3, row.model)
      .Bind(4, row.banner)
      .Bind(5, row.flow)
      .Bind(6, row.packagePath)
      .Bind(7, row.packageMd5)
      .Bind(8, row.images)
      .Bind(9, row.result)
      .Bind(10, row.resultName)
      .Bind(11, row.endStep)
      .Bind(12, row.ended)
      .Bind(13, row.seconds)
      .Bind(14, row.download)
      .Run();
}

std::vector<DownloadRow> HistoryStore::Query(const HistoryFilter& filter, Columns columns) {
  const SqlQuery query = RowQuery(filter, Dialect::kSqlite, columns);
  auto statement = db_.Prepare(query.sql);
  for (size_t i = 0; i < query.params.size(); ++i)
    statement.Bind(static_cast<int>(i + 1), std::string_view(query.params[i]));
  std::vector<DownloadRow> rows;
  while (statement.Step()) rows.push_back(RowFromStatement(statement));
  return rows;
}

std::optional<DownloadRow> HistoryStore::Last(const PortKey& key) {
  const std::string select = std::string("SELECT ") + kRowColumns + " FROM downloads WHERE ";
  const char* order = " ORDER BY started DESC, id DESC LIMIT 1";
  SqliteStatement statement =
      key.usbSerial
          ? std::move(db_.Prepare(select + "usb_serial = ?" + order).Bind(1, *key.usbSerial))
      : key.usbPosition ? std::move(db_.Prepare(select + "usb_position = ? AND station = ?" + order)
                                        .Bind(1, *key.usbPosition)
                                        .Bind(2, key.station))
                        : std::move(db_.Prepare(select + "station = ? AND com = ?" + order)
                                        .Bind(1, key.station)
                                        .Bind(2, int64_t{key.com}));
  if (!statement.Step()) return std::nullopt;
  return RowFromStatement(statement);
}

std::vector<DownloadRow> HistoryStore::Unsent(int limit) {
  auto statement = db_.Prepare(std::string("SELECT ") + kRowColumns +
                               " FROM downloads WHERE sent_version < version ORDER BY id LIMIT ?");
  statement.Bind(1, int64_t{limit});
  std::vector<DownloadRow> rows;
  while (statement.Step()) rows.push_back(RowFromStatement(statement));
  return rows;
}

int64_t HistoryStore::UnsentCount() {
  auto statement = db_.Prepare("SELECT count(*) FROM downloads WHERE sent_version < version");
  return statement.Step() ? statement.Int(0) : 0;
}

void HistoryStore::MarkSent(const std::vector<SentMark>& marks) {
  auto statement =
      db_.Prepare("UPDATE downloads SET sent_version = ?2 WHERE uid = ?1 AND sent_version < ?2");
  for (const auto& [uid, version] : marks) {
    statement.Reset();
    statement.Bind(1, uid).Bind(2, version).Run();
  }
}

DownloadRow RowFromStatement(const SqliteStatement& s) {
  DownloadRow row;
  row.uid = s.Text(0);
  row.station = s.Text(1);
  row.com = static_cast<int>(s.Int(2));
  row.usbPosition = s.OptText(3);
  row.usbSerial = s.OptText(4);
  row.device = s.OptText(5);
  row.model = s.OptText(6);
  row.banner = s.OptText(7);
  row.flow = s.OptInt(8);
  row.packagePath = s.OptText(9);
  row.packageMd5 = s.OptText(10);
  row.images = s.OptText(11).value_or("[]");
  row.result = s.OptInt(12);
  row.resultName = s.OptText(13);
  row.endStep = s.OptText(14);
  row.started = s.Text(15);
  row.ended = s.OptText(16);
  row.seconds = s.OptReal(17);
  row.hostPid = s.OptInt(18);
  row.download = s.OptInt(19);
  row.version = s.OptInt(20).value_or(1);
  return row;
}

}  // namespace history
