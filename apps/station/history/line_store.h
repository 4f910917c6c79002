// The line's history in PostgreSQL: the same table as the station's file, filled by every
// station's outbox. A row is kept by its uid: sending it again (after a lost answer, a crash
// before the station noted it as sent) changes nothing, and a newer version of it (the
// completion of a download whose start was sent) replaces the older one.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "download_row.h"
#include "history_query.h"
#include "pg_connection.h"

namespace history {

struct LineTimeouts {
  std::chrono::milliseconds connect{10000};
  std::chrono::milliseconds statement{20000};
};

class LineStore {
 public:
  // Connects; with `migrate` applies the migrations the database lacks (the stations do), else
  // only checks that it holds a history this program can read (people's queries). Throws
  // PgError or SchemaTooNew.
  LineStore(const std::string& url, bool migrate, LineTimeouts timeouts = {});

  // Sends the rows in one statement; each lands once whatever was sent before.
  void Upsert(const std::vector<DownloadRow>& rows);
  std::vector<DownloadRow> Query(const HistoryFilter& filter, Columns columns = Columns::kAll);

  PgConnection& Connection() { return conn_; }

 private:
  void Migrate();
  void CheckVersion();

  LineTimeouts timeouts_;
  PgConnection conn_;
};

}  // namespace history
