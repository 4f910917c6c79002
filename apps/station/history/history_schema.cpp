#include "history_schema.h"

namespace history {

const std::vector<std::string>& SqliteMigrations() {
  static const std::vector<std::string> migrations = {
      // 1: the downloads, and the outbox of the line database: a row is due there while the
      // version it has reached is newer than the one sent.
      R"(CREATE TABLE downloads (
           id INTEGER PRIMARY KEY,
           uid TEXT NOT NULL UNIQUE,
           station TEXT NOT NULL,
           com INTEGER NOT NULL,
           usb_position TEXT,
           usb_serial TEXT,
           device TEXT,
           model TEXT,
           banner TEXT,
           flow INTEGER,
           package_path TEXT,
           package_md5 TEXT,
           images TEXT NOT NULL DEFAULT '[]',
           result INTEGER,
           result_name TEXT,
           end_step TEXT,
           started TEXT NOT NULL,
           ended TEXT,
           seconds REAL,
           host_pid INTEGER,
           download INTEGER,
           version INTEGER NOT NULL DEFAULT 1,
           sent_version INTEGER NOT NULL DEFAULT 0);
         CREATE INDEX downloads_started ON downloads (started);
         CREATE INDEX downloads_serial ON downloads (usb_serial, started);
         CREATE INDEX downloads_position ON downloads (usb_position, started);
         CREATE INDEX downloads_port ON downloads (station, com, started);
         CREATE INDEX downloads_package ON downloads (package_md5, started);
         CREATE INDEX downloads_unsent ON downloads (id) WHERE sent_version < version;)",
  };
  return migrations;
}

const std::vector<std::string>& PgMigrations() {
  static const std::vector<std::string> migrations = {
      // 1: the downloads of every station of the line, kept by their row id; `received` is
      // when the line database first had the row.
      R"(CREATE TABLE downloads (
           uid text PRIMARY KEY,
           station text NOT NULL,
           com integer NOT NULL,
           usb_position text,
           usb_serial text,
           device text,
           model text,
           banner text,
           flow integer,
           package_path text,
           package_md5 text,
           images jsonb NOT NULL DEFAULT '[]',
           result integer,
           result_name text,
           end_step text,
           started timestamptz NOT NULL,
           ended timestamptz,
           seconds double precision,
           host_pid integer,
           download bigint,
           version integer NOT NULL,
           received timestamptz NOT NULL DEFAULT now());
         CREATE INDEX downloads_started ON downloads (started);
         CREATE INDEX downloads_serial ON downloads (usb_serial, started);
         CREATE INDEX downloads_position ON downloads (usb_position, started);
         CREATE INDEX downloads_port ON downloads (station, com, started);
         CREATE INDEX downloads_package ON downloads (package_md5, started);)",
  };
  return migrations;
}

namespace {

int64_t SqliteVersion(SqliteDb& db) {
  auto exists = db.Prepare("SELECT 1 FROM sqlite_master WHERE name = 'schema_version'");
  if (!exists.Step()) return 0;
  auto read = db.Prepare("SELECT max(version) FROM schema_version");
  return read.Step() ? read.OptInt(0).value_or(0) : 0;
}

}  // namespace

void MigrateSqlite(SqliteDb& db) {
  const auto latest = static_cast<int64_t>(SqliteMigrations().size());
  auto check = [latest](int64_t version) {
    if (version > latest)
      throw SchemaTooNew("the history file has schema version " + std::to_string(version) +
                         "; this program knows versions up to " + std::to_string(latest));
  };
  // A file that is up to date is only read: a query never waits for a station's write lock.
  int64_t version = SqliteVersion(db);
  check(version);
  if (version == latest) return;
  SqliteTransaction transaction(db);
  version = SqliteVersion(db);  // another process may have migrated it meanwhile
  check(version);
  if (version == latest) return;
  db.Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  for (; version < latest; ++version) db.Exec(SqliteMigrations()[static_cast<size_t>(version)]);
  db.Exec("DELETE FROM schema_version");
  db.Prepare("INSERT INTO schema_version (version) VALUES (?)").Bind(1, version).Run();
  transaction.Commit();
}

}  // namespace history
