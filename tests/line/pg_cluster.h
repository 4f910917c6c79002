// A private PostgreSQL server for the tests of the line database: initdb and pg_ctl of the
// machine's PostgreSQL in a temporary folder, listening only on a Unix socket in that folder (no
// TCP), run as an unprivileged user (the server refuses root: a test run by root runs it as
// nobody through setpriv). It is stopped and removed at the end, and by a watchdog process
// if the test program dies first.
#pragma once

#include <sys/types.h>

#include <string>

namespace tr52test {

class PgCluster {
 public:
  // Makes and starts the cluster; Ready() tells whether that worked, Why() why not.
  PgCluster();
  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  bool Ready() const { return ready_; }
  // The server programs are not installed (the tests that need them skip).
  bool Missing() const { return missing_; }
  const std::string& Why() const { return why_; }

  // A libpq connection string for `database` as the cluster's superuser.
  std::string Url(const std::string& database) const;
  const std::string& Folder() const { return folder_; }

  // Stops the server (fast shutdown: connections are cut) and starts it again.
  bool Stop();
  bool Start();

 private:
  // Runs a server program as the server's user; its output goes to `log`. True on status 0.
  bool Run(const std::string& program, const std::string& args, const std::string& log);

  std::string bin_;     // the server programs' folder
  std::string folder_;  // data, socket, logs
  bool ready_ = false;
  bool missing_ = false;
  bool running_ = false;
  std::string why_;
  pid_t watchdog_ = -1;
  int watchdogPipe_ = -1;
};

}  // namespace tr52test
