// The history's tables, as numbered migrations: a file or database records the version it has
// reached in `schema_version`, and opening it applies the migrations it lacks. The local file
// (SQLite) and the line database (PostgreSQL) hold the same table `downloads`, column for
// column, in each engine's types; the local file adds the outbox's bookkeeping.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "sqlite_db.h"

namespace history {

// The schema this program writes.
inline constexpr int kSchemaVersion = 1;

// The file or database is of a schema newer than this program knows: it is not touched.
class SchemaTooNew : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Migration i (from 0) takes a database from version i to version i + 1.
const std::vector<std::string>& SqliteMigrations();
const std::vector<std::string>& PgMigrations();

// Applies what the file lacks, all in one transaction. Throws SqliteError or SchemaTooNew.
void MigrateSqlite(SqliteDb& db);

// The columns of `downloads` both engines share, in the order the stores read and write them.
inline constexpr const char* kRowColumns =
    "uid, station, com, usb_position, usb_serial, device, model, banner, flow, package_path, "
    "package_md5, images, result, result_name, end_step, started, ended, seconds, host_pid, "
    "download, version";
inline constexpr int kRowColumnCount = 21;

}  // namespace history
