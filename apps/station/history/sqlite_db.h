// The SQLite C API behind one small RAII wrapper: a connection, its prepared statements and a
// transaction that rolls back unless committed. Every failure throws SqliteError with SQLite's
// code and message, so callers handle a locked, full or damaged file in one place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace history {

class SqliteError : public std::runtime_error {
 public:
  SqliteError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
  // The primary result code (SQLITE_BUSY, SQLITE_FULL, SQLITE_CORRUPT, ...).
  int Code() const { return code_ & 0xff; }
  // The file is not a database or is damaged: it cannot be written again as it is.
  bool Damaged() const;

 private:
  int code_;
};

class SqliteStatement {
 public:
  SqliteStatement(SqliteStatement&&) noexcept = default;
  SqliteStatement& operator=(SqliteStatement&&) noexcept = default;

  // Parameters by position, from 1. A nullopt binds NULL.
  SqliteStatement& Bind(int index, int64_t value);
  SqliteStatement& Bind(int index, double value);
  SqliteStatement& Bind(int index, std::string_view value);
  SqliteStatement& Bind(int index, const std::string& value) {
    return Bind(index, std::string_view(value));
  }
  SqliteStatement& Bind(int index, const std::optional<int64_t>& value);
  SqliteStatement& Bind(int index, const std::optional<double>& value);
  SqliteStatement& Bind(int index, const std::optional<std::string>& value);

  // Runs to the next row: true when there is one, false when the statement is done.
  [[nodiscard]] bool Step();
  // Runs a statement that returns no rows.
  void Run();
  // Ready to run again with new parameters.
  void Reset();

  // Columns of the current row, from 0.
  bool IsNull(int column) const;
  int64_t Int(int column) const;
  double Real(int column) const;
  std::string Text(int column) const;
  std::optional<int64_t> OptInt(int column) const;
  std::optional<double> OptReal(int column) const;
  std::optional<std::string> OptText(int column) const;

 private:
  friend class SqliteDb;
  struct Finalize {
    void operator()(sqlite3_stmt* s) const;
  };
  SqliteStatement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
  void Check(int rc) const;

  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

class SqliteDb {
 public:
  enum class Mode { kReadWriteCreate, kReadWrite };

  // Opens (or creates) the database at `path` through the VFS `vfs` (nullptr: the default one).
  SqliteDb(const std::string& path, Mode mode, const char* vfs = nullptr);
  SqliteDb(SqliteDb&&) noexcept = default;
  SqliteDb& operator=(SqliteDb&&) noexcept = default;

  // Runs one or more statements without parameters.
  void Exec(const std::string& sql);
  SqliteStatement Prepare(std::string_view sql);
  int64_t LastInsertRowId() const;
  int Changes() const;
  // How long a statement waits for another connection's lock before SQLITE_BUSY.
  void BusyTimeout(int milliseconds);

 private:
  struct Close {
    void operator()(sqlite3* db) const;
  };
  std::unique_ptr<sqlite3, Close> db_;
};

// BEGIN IMMEDIATE (the write lock at once, so a busy database fails here rather than halfway);
// rolled back when it goes out of scope without Commit.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  void Commit();

 private:
  SqliteDb& db_;
  bool open_ = true;
};

}  // namespace history
