#include "sqlite_db.h"

#include <sqlite3.h>

namespace history {
namespace {

[[noreturn]] void Throw(sqlite3* db, int rc) {
  const char* text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw SqliteError(db ? sqlite3_extended_errcode(db) : rc, text ? text : sqlite3_errstr(rc));
}

}  // namespace

bool SqliteError::Damaged() const {
  return Code() == SQLITE_CORRUPT || Code() == SQLITE_NOTADB;
}

void SqliteStatement::Finalize::operator()(sqlite3_stmt* s) const {
  sqlite3_finalize(s);
}

void SqliteStatement::Check(int rc) const {
  if (rc != SQLITE_OK) Throw(db_, rc);
}

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
  Check(sqlite3_bind_int64(statement_.get(), index, value));
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, double value) {
  Check(sqlite3_bind_double(statement_.get(), index, value));
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, std::string_view value) {
  Check(sqlite3_bind_text64(statement_.get(), index, value.data(), value.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8));
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, const std::optional<int64_t>& value) {
  if (value) return Bind(index, *value);
  Check(sqlite3_bind_null(statement_.get(), index));
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, const std::optional<double>& value) {
  if (value) return Bind(index, *value);
  Check(sqlite3_bind_null(statement_.get(), index));
  return *this;
}

SqliteStatement& SqliteStatement::Bind(int index, const std::optional<std::string>& value) {
  if (value) return Bind(index, std::string_view(*value));
  Check(sqlite3_bind_null(statement_.get(), index));
  return *this;
}

bool SqliteStatement::Step() {
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  // The statement keeps its error; reset so the connection can go on.
  sqlite3_reset(statement_.get());
  Throw(db_, rc);
}

void SqliteStatement::Run() {
  while (Step()) {
  }
}

void SqliteStatement::Reset() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

bool SqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

int64_t SqliteStatement::Int(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

double SqliteStatement::Real(int column) const {
  return sqlite3_column_double(statement_.get(), column);
}

std::string SqliteStatement::Text(int column) const {
  const auto* text = sqlite3_column_text(statement_.get(), column);
  const int size = sqlite3_column_bytes(statement_.get(), column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size)) : "";
}

std::optional<int64_t> SqliteStatement::OptInt(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Int(column);
}

std::optional<double> SqliteStatement::OptReal(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Real(column);
}

std::optional<std::string> SqliteStatement::OptText(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Text(column);
}

void SqliteDb::Close::operator()(sqlite3* db) const {
  sqlite3_close_v2(db);
}

SqliteDb::SqliteDb(const std::string& path, Mode mode, const char* vfs) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (mode == Mode::kReadWriteCreate) flags |= SQLITE_OPEN_CREATE;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, vfs);
  db_.reset(raw);  // a handle comes back even on failure, and must be closed
  if (rc != SQLITE_OK) Throw(raw, rc);
  sqlite3_extended_result_codes(raw, 1);
}

void SqliteDb::Exec(const std::string& sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return;
  const std::string text = message ? message : sqlite3_errstr(rc);
  sqlite3_free(message);
  throw SqliteError(sqlite3_extended_errcode(db_.get()), text);
}

SqliteStatement SqliteDb::Prepare(std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  const int rc =
      sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(statement);
    Throw(db_.get(), rc);
  }
  return SqliteStatement(db_.get(), statement);
}

int64_t SqliteDb::LastInsertRowId() const {
  return sqlite3_last_insert_rowid(db_.get());
}

int SqliteDb::Changes() const {
  return sqlite3_changes(db_.get());
}

void SqliteDb::BusyTimeout(int milliseconds) {
  sqlite3_busy_timeout(db_.get(), milliseconds);
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) {
  db_.Exec("BEGIN IMMEDIATE");
}

SqliteTransaction::~SqliteTransaction() {
  if (!open_) return;
  try {
    db_.Exec("ROLLBACK");
  } catch (const SqliteError&) {
    // Already rolled back by SQLite after the error that brought us here.
  }
}

void SqliteTransaction::Commit() {
  db_.Exec("COMMIT");
  open_ = false;
}

}  // namespace history
