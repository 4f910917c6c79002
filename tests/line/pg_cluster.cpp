#include "pg_cluster.h"

#include <fcntl.h>
#include <glob.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace tr52test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr const char* kSuperuser = "tr52";

// The newest installed server's programs (Debian keeps them per major version).
std::string ServerBin() {
  if (const char* bin = std::getenv("TR52_PG_BIN"); bin && *bin) return bin;
  glob_t found{};
  std::vector<std::string> bins;
  if (::glob("/usr/lib/postgresql/*/bin/pg_ctl", 0, nullptr, &found) == 0)
    for (size_t i = 0; i < found.gl_pathc; ++i)
      bins.push_back(fs::path(found.gl_pathv[i]).parent_path().string());
  ::globfree(&found);
  std::sort(bins.begin(), bins.end(), [](const std::string& a, const std::string& b) {
    return std::atoi(fs::path(a).parent_path().filename().c_str()) <
           std::atoi(fs::path(b).parent_path().filename().c_str());
  });
  return bins.empty() ? "" : bins.back();
}

std::string Tail(const std::string& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  return s.size() > 1500 ? s.substr(s.size() - 1500) : s;
}

}  // namespace

PgCluster::PgCluster() {
  bin_ = ServerBin();
  if (bin_.empty() || ::access((bin_ + "/initdb").c_str(), X_OK) != 0) {
    missing_ = true;
    why_ = "the PostgreSQL server programs (initdb, pg_ctl) are not installed";
    return;
  }
  std::string tmpl = (fs::temp_directory_path() / "tr52-pg-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) {
    why_ = "cannot make a folder for the server";
    return;
  }
  folder_ = tmpl;
  if (::geteuid() == 0 && ::chown(folder_.c_str(), kNobody, kNobody) != 0) {
    why_ = "cannot give " + folder_ + " to nobody";
    return;
  }
  // The watchdog stops the server and removes the folder when this process dies: it waits for
  // the end of a pipe only this process writes to.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) == 0) {
    watchdog_ = ::fork();
    if (watchdog_ == 0) {
      ::close(fds[1]);
      char c;
      while (::read(fds[0], &c, 1) != 0) {
      }
      Run("pg_ctl", "-D " + folder_ + "/data -m immediate -w stop", "/dev/null");
      std::error_code ec;
      fs::remove_all(folder_, ec);
      ::_exit(0);
    }
    ::close(fds[0]);
    watchdogPipe_ = fds[1];
  }
  // Trust on the socket only: the folder is the server user's own.
  if (!Run("initdb", "-D " + folder_ + "/data -A trust -U " + kSuperuser + " -E UTF8 --locale=C -N",
           folder_ + "/initdb.log")) {
    why_ = "initdb failed: " + Tail(folder_ + "/initdb.log");
    return;
  }
  ready_ = Start();
}

PgCluster::~PgCluster() {
  if (running_) Stop();
  if (watchdogPipe_ >= 0) ::close(watchdogPipe_);  // the watchdog removes the folder
  if (watchdog_ > 0) ::waitpid(watchdog_, nullptr, 0);
}

bool PgCluster::Run(const std::string& program, const std::string& args, const std::string& log) {
  // From the root folder: the server's user may not enter the test's working folder.
  std::string command = "cd / && " + bin_ + "/" + program + " " + args + " >" + log + " 2>&1";
  if (::geteuid() == 0)
    command = "setpriv --reuid=" + std::to_string(kNobody) + " --regid=" + std::to_string(kNobody) +
              " --clear-groups -- sh -c '" + command + "'";
  return std::system(command.c_str()) == 0;
}

std::string PgCluster::Url(const std::string& database) const {
  return "host=" + folder_ + " dbname=" + database + " user=" + kSuperuser;
}

bool PgCluster::Start() {
  // No TCP; the socket in the folder; no waiting for the disk (the data is thrown away).
  const std::string options = "-k " + folder_ +
                              " -c listen_addresses= -c fsync=off -c synchronous_commit=off "
                              "-c full_page_writes=off -c shared_buffers=16MB";
  running_ = Run("pg_ctl",
                 "-D " + folder_ + "/data -l " + folder_ + "/server.log -w -t 120 -o \"" + options +
                     "\" start",
                 folder_ + "/pg_ctl.log");
  if (!running_) why_ = "the server did not start: " + Tail(folder_ + "/server.log");
  return running_;
}

bool PgCluster::Stop() {
  const bool stopped =
      Run("pg_ctl", "-D " + folder_ + "/data -m fast -w -t 60 stop", folder_ + "/pg_ctl.log");
  running_ = running_ && !stopped;
  return stopped;
}

}  // namespace tr52test
