// libpq behind one small RAII wrapper: a connection and its results. Every wait is bounded by
// the caller's time limit (libpq's own calls would wait for as long as the network lets them):
// a server that is down, refuses, drops the connection or stops answering becomes a PgError
// within that limit, and the connection is then of no further use.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace history {

class PgError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PgResult {
 public:
  int Rows() const;
  int Columns() const;
  bool IsNull(int row, int column) const;
  std::string Text(int row, int column) const;
  std::optional<std::string> OptText(int row, int column) const;

 private:
  friend class PgConnection;
  struct Clear {
    void operator()(PGresult* r) const;
  };
  explicit PgResult(PGresult* r) : result_(r) {}
  std::unique_ptr<PGresult, Clear> result_;
};

using PgParams = std::vector<std::optional<std::string>>;  // text values; nullopt is NULL

class PgConnection {
 public:
  // Connects to `url` (a postgresql:// URI or "key=value ..." string) within `limit`.
  PgConnection(const std::string& url, std::chrono::milliseconds limit);

  // Runs one statement with parameters ($1, $2, ...) within `limit`; returns its rows.
  PgResult Exec(const std::string& sql, const PgParams& params, std::chrono::milliseconds limit);
  // Runs one or more statements without parameters.
  void ExecScript(const std::string& sql, std::chrono::milliseconds limit);

 private:
  struct Finish {
    void operator()(PGconn* c) const;
  };
  PgResult Collect(std::chrono::steady_clock::time_point deadline);
  std::unique_ptr<PGconn, Finish> conn_;
};

// `url` fit to show: a password in it is replaced by "***".
std::string RedactedUrl(const std::string& url);

}  // namespace history
