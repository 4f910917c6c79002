// The station's history file (SQLite): rows written at a download's start and completed at its
// end, people's queries, the last download of a port or phone, and the outbox of rows due in
// the line database. One thread uses a store at a time; several processes may share the file.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "download_row.h"
#include "history_query.h"
#include "sqlite_db.h"

namespace history {

// Where a phone was plugged in, as far as the station can tell.
struct PortKey {
  std::string station;
  int com = 0;
  std::optional<std::string> usbPosition;
  std::optional<std::string> usbSerial;
};

// A row's uid and the version of it that the line database has.
using SentMark = std::pair<std::string, int64_t>;

struct StoreOptions {
  bool mustExist = false;     // a query: a missing file is an error, not a new history
  const char* vfs = nullptr;  // SQLite's default file system unless named
  int busyMs = 2000;          // how long a statement waits for another process's lock
};

class HistoryStore {
 public:
  // Opens the file (creating it unless it must exist), in WAL mode with every commit on disk,
  // and applies the migrations it lacks. Throws SqliteError or SchemaTooNew.
  explicit HistoryStore(const std::string& path, const StoreOptions& options = {});

  // The row of a download that started; a uid already there is left as it is.
  void Insert(const DownloadRow& row);
  // The end of the download `row.uid`: every field the end tells, and version 2.
  void Complete(const DownloadRow& row);

  std::vector<DownloadRow> Query(const HistoryFilter& filter, Columns columns = Columns::kAll);
  // The newest download of the phone with the key's USB serial when it has one, else of its USB
  // position at this station, else of its COM number at this station.
  std::optional<DownloadRow> Last(const PortKey& key);

  // Up to `limit` rows the line database lacks (or has an older version of), oldest first.
  std::vector<DownloadRow> Unsent(int limit);
  int64_t UnsentCount();
  // The line database has these versions now.
  void MarkSent(const std::vector<SentMark>& marks);

  SqliteDb& Db() { return db_; }

 private:
  SqliteDb db_;
  SqliteStatement insert_;
  SqliteStatement complete_;
};

// Reads a row whose columns come in history_schema.h's order.
DownloadRow RowFromStatement(const SqliteStatement& statement);

}  // namespace history
