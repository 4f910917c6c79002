#include "base/process_log.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>

#include "base/printable_text.h"
#include "platform/clock.h"
#include "platform/process_info.h"
#include "platform/program_files.h"

extern char** environ;

namespace tr52 {
namespace {

thread_local int t_depth = 0;
// The living log targets form a chain, newest first, linked through the targets themselves, so
// routing allocates nothing: the module's route must leave no memory behind when the host unloads
// the module. Only LogTarget changes the chain, under the lock; g_target is the newest target's
// log, read without the lock on every line.
std::mutex g_targetsLock;
LogTarget* g_newestTarget = nullptr;
std::atomic<ProcessLog*> g_target{nullptr};

struct WallTime {
  struct tm tm;
  unsigned ms;
};

WallTime Now() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  WallTime w{};
  localtime_r(&tv.tv_sec, &w.tm);
  w.ms = static_cast<unsigned>(tv.tv_usec / 1000);
  return w;
}

bool IsAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// Starts the log viewer "Tail" found beside the host executable on the log file, detached and
// without a shell. Never from the working directory: whoever can put a program there would
// have it run. A missing viewer is not an error. Everything the child needs is prepared
// before fork: between fork and exec only async-signal-safe calls are made, since another
// thread may hold the allocator's lock at the moment of the fork.
void StartViewer(const std::string& logPath) {
  const std::string viewer = ExecutableDir() + "Tail";
  struct stat st;
  if (stat(viewer.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(viewer.c_str(), X_OK) != 0)
    return;
  char* const argv[] = {const_cast<char*>(viewer.c_str()), const_cast<char*>(logPath.c_str()),
                        nullptr};
  // Double fork so the viewer is re-parented to init and never left as our zombie.
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      execve(argv[0], argv, environ);
      _exit(127);
    }
    _exit(0);
  }
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// UTF-8 → code page 949 through an open converter (see ToCp949).
std::string ConvertToCp949(iconv_t cd, const std::string& utf8) {
  if (IsAscii(utf8) || cd == kNoConverter) return utf8;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial state
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* o = out.data();
  size_t outLeft = out.size();
  const size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
  if (rc == static_cast<size_t>(-1) || inLeft != 0) return utf8;  // not UTF-8: keep the bytes
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

std::string ToCp949(const std::string& utf8) {
  if (IsAscii(utf8)) return utf8;
  iconv_t cd = iconv_open("CP949", "UTF-8");
  std::string out = ConvertToCp949(cd, utf8);
  if (cd != kNoConverter) iconv_close(cd);
  return out;
}

// The converter is opened once, with the log object: opening one may load the converter's
// code, which needs the loader's lock, and a worker thread must never wait for that lock while
// the module is being unloaded (the unload holds it and waits for the workers).
ProcessLog::ProcessLog() : cp949_(iconv_open("CP949", "UTF-8")) {}

ProcessLog::~ProcessLog() {
  Finish();
  if (cp949_ != kNoConverter) iconv_close(cp949_);
}

std::string ProcessLog::LogPathFor(const std::string& executablePath) {
  const auto slash = executablePath.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = executablePath.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return executablePath + "_log.txt";
  return executablePath.substr(0, dot) + "_log.txt";
}

std::string ProcessLog::DefaultPath() {
  return ProgramFilePath(LogPathFor(ExecutablePath()), ProgramFileKind::kState);
}

void ProcessLog::SetDepth(int depth) {
  t_depth = depth < 0 ? 0 : (depth > 99 ? 99 : depth);
}

bool ProcessLog::IsOpen() {
  std::lock_guard<std::recursive_mutex> g(lock_);
  return opened_;
}

std::string ProcessLog::Path() {
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!path_.empty()) return path_;
  }
  return DefaultPath();
}

void ProcessLog::EnsureOpen() {
  std::string path;
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (opened_ || finished_) return;
    // A creation that failed is tried again at a later line, at most once a second: a full
    // disk or a folder briefly unwritable must not cost every later line of the process.
    if (failed_ && NowMs() - failedAtMs_ < kRetryMs) return;
    path = failed_ ? path_ : DefaultPath();
  }
  t_depth = 0;
  Open(path);
}

void ProcessLog::Open(const std::string& path) {
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    finished_ = false;
    if (opened_) return;
    unlink(path.c_str());
    // Never through a link that appeared in the meantime, and never into a FIFO or a device.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                 0644);
    int err = errno;
    struct stat st;
    if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd_);
      fd_ = -1;
      err = EINVAL;
    }
    if (fd_ < 0) {
      // Said once; later lines are dropped, and creation tried again a second later.
      if (!failed_)
        fprintf(stderr, "tr52: cannot create the log file %s: %s\n", path.c_str(), strerror(err));
      failed_ = true;
      failedAtMs_ = NowMs();
      path_ = path;
      return;  // no file: no viewer either
    }
    failed_ = false;
    opened_ = true;
    path_ = path;
    const WallTime w = Now();
    char buf[kMaxLine];
    WriteLineLocked("=============================================");
    snprintf(buf, sizeof buf,
             "Log is started on %02u.%02u.%04u, at %02u:%02u:%02u:%03u, \r\nexecutable: %s "
             "(ProcID: 0x%08x), \r\ncompile time : %s %s",
             static_cast<unsigned>(w.tm.tm_mday), static_cast<unsigned>(w.tm.tm_mon + 1),
             static_cast<unsigned>(w.tm.tm_year + 1900), static_cast<unsigned>(w.tm.tm_hour),
             static_cast<unsigned>(w.tm.tm_min), static_cast<unsigned>(w.tm.tm_sec), w.ms,
             PrintableText(ExecutablePath()).c_str(), ProcessId(), __DATE__, __TIME__);
    WriteLineLocked(buf);
    // The version text comes from the host's string table; this host has none.
    WriteLineLocked("Version : ");
    if (dropped_ > 0) {
      snprintf(buf, sizeof buf, "%u lines were lost while the log file could not be created",
               dropped_);
      WriteLineLocked(buf);
      dropped_ = 0;
    }
  }
  StartViewer(path);
}

bool ProcessLog::WriteLineLocked(const std::string& message) {
  const WallTime w = Now();
  char stamp[32];
  snprintf(stamp, sizeof stamp, "[%02u:%02u:%02u:%03u]", static_cast<unsigned>(w.tm.tm_hour),
           static_cast<unsigned>(w.tm.tm_min), static_cast<unsigned>(w.tm.tm_sec), w.ms);
  std::string line;
  line.reserve(message.size() + 32 + static_cast<size_t>(t_depth));
  line += stamp;
  line += "  : ";
  line.append(static_cast<size_t>(t_depth), ' ');
  line += message;
  line += "\r\n";
  if (line.size() > static_cast<size_t>(kMaxLine)) return false;
  const ssize_t n = ::write(fd_, line.data(), line.size());
  if (n >= 0 && static_cast<size_t>(n) < line.size()) fsync(fd_);
  return true;
}

int ProcessLog::VPrintf(const char* format, va_list args) {
  EnsureOpen();
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (!opened_) {
    if (failed_) ++dropped_;
    return 0;
  }
  // The 1024-byte limit holds for the bytes written, i.e. after the conversion to code page
  // 949, where a Korean character takes two bytes instead of its three in the UTF-8 source.
  // A UTF-8 text of 2048 bytes or more cannot shrink below 1024.
  char buf[2 * kMaxLine];
  const int n = vsnprintf(buf, sizeof buf, format, args);
  if (n < 0 || n >= static_cast<int>(sizeof buf)) return -1;
  const std::string message = ConvertToCp949(cp949_, std::string(buf, static_cast<size_t>(n)));
  if (message.size() >= static_cast<size_t>(kMaxLine)) return -1;
  // A line that would pass 1024 bytes is dropped; say so instead of claiming success.
  return WriteLineLocked(message) ? 0 : -1;
}

int ProcessLog::Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int r = VPrintf(format, args);
  va_end(args);
  return r;
}

void ProcessLog::Finish() {
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (!opened_) return;
  WriteLineLocked("Log finished");
  ::close(fd_);
  fd_ = -1;
  opened_ = false;
  finished_ = true;
}

LogTarget::LogTarget(ProcessLog& log) : log_(log) {
  std::lock_guard<std::mutex> hold(g_targetsLock);
  older_ = g_newestTarget;
  if (older_ != nullptr) older_->newer_ = this;
  g_newestTarget = this;
  g_target.store(&log_, std::memory_order_release);
}

LogTarget::~LogTarget() {
  std::lock_guard<std::mutex> hold(g_targetsLock);
  if (older_ != nullptr) older_->newer_ = newer_;
  if (newer_ != nullptr) {
    newer_->older_ = older_;
  } else {
    g_newestTarget = older_;
  }
  g_target.store(g_newestTarget == nullptr ? nullptr : &g_newestTarget->log_,
                 std::memory_order_release);
}

std::vector<std::string> ProcessLog::FreshNotes(const std::vector<std::string>& notes,
                                                const std::string& scope) {
  std::lock_guard<std::mutex> hold(notesLock_);
  std::set<std::string> now;
  std::vector<std::string> fresh;
  for (const std::string& note : notes) {
    if (note.rfind(scope, 0) != 0) continue;
    if (now.insert(note).second && !toldNotes_.count(note)) fresh.push_back(note);
  }
  for (auto it = toldNotes_.begin(); it != toldNotes_.end();)
    it = it->rfind(scope, 0) == 0 ? toldNotes_.erase(it) : std::next(it);
  toldNotes_.insert(now.begin(), now.end());
  return fresh;
}

void LogLastingNotes(const std::vector<std::string>& notes, const std::string& scope) {
  ProcessLog* log = g_target.load(std::memory_order_acquire);
  if (log == nullptr) return;
  for (const std::string& note : log->FreshNotes(notes, scope))
    log->Printf("%s", PrintableText(note).c_str());
}

int Log(const char* format, ...) {
  ProcessLog* log = g_target.load(std::memory_order_acquire);
  if (log == nullptr) return 0;
  va_list args;
  va_start(args, format);
  const int r = log->VPrintf(format, args);
  va_end(args);
  return r;
}

std::string CurrentLogPath() {
  ProcessLog* log = g_target.load(std::memory_order_acquire);
  return log != nullptr ? log->Path() : ProcessLog::DefaultPath();
}

}  // namespace tr52
