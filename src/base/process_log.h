// The plug-in's log file, shared by every port and thread.
//
// The module root owns the log and routes Log() to it while the module is attached (LogTarget);
// a tool or a test routes it to a log of its own. The file is created fresh on the first line,
// beside the host executable (see DefaultPath); every line is
// "[hh:mm:ss:mmm]  : <indent><message>\r\n", written with one write call under one lock.
// Korean texts (given as UTF-8 in the sources) are written as their code page 949 bytes.
#pragma once

#include <iconv.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tr52 {

class ProcessLog {
 public:
  static constexpr int kMaxLine = 1024;
  // The least time between two tries to create the file.
  static constexpr uint64_t kRetryMs = 1000;

  // Opens the code page converter; the file waits for the first line (or Open).
  ProcessLog();
  // Writes the footer ("Log finished") when the file is open.
  ~ProcessLog();

  // printf-style; 0 = written (or dropped because the file is not open), -1 = dropped because
  // the message has 1024 bytes or more or the line would pass 1024 bytes. Opens the file on the
  // first call of the process.
  int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int VPrintf(const char* format, va_list args);

  // Creates the file (deleting an older one), writes the header and starts the viewer "Tail"
  // found beside the host executable. When the file cannot be created, says so once on
  // standard error and starts no viewer; lines are then dropped, and a line at least a second
  // (on the process clock) after the last try tries again. The header of a file created late
  // says how many lines were lost.
  void Open(const std::string& path);
  void EnsureOpen();
  bool IsOpen();
  // The file the lines go to: where the log was last opened, else where it will be created.
  std::string Path();

  // Writes "Log finished" and closes the file (module unload). Later lines are dropped until
  // Open is called again.
  void Finish();

  // Indentation depth (0..99) of the calling thread.
  static void SetDepth(int depth);

  // The log path for an executable path: the file name's extension (from its last '.')
  // replaced by "_log.txt", or "_log.txt" appended when the file name has no '.'.
  static std::string LogPathFor(const std::string& executablePath);
  // LogPathFor(ExecutablePath()), placed by the rule of platform/program_files.h (in the
  // user's state folder when the host's folder is not its own).
  static std::string DefaultPath();

  // Of `notes`, those starting with `scope` that this log has not been told since a call with
  // that scope last went without them; they are remembered as told. Notes of other scopes are
  // neither returned nor forgotten.
  std::vector<std::string> FreshNotes(const std::vector<std::string>& notes,
                                      const std::string& scope);

  ProcessLog(const ProcessLog&) = delete;
  ProcessLog& operator=(const ProcessLog&) = delete;

 private:
  // False when the line would pass kMaxLine bytes (nothing written).
  bool WriteLineLocked(const std::string& message);

  std::recursive_mutex lock_;
  int fd_ = -1;
  bool opened_ = false;
  bool finished_ = false;    // after Finish no line re-creates the file until Open
  bool failed_ = false;      // the file could not be created: lines are dropped until a retry
  uint64_t failedAtMs_ = 0;  // when the last creation failed (process clock)
  unsigned dropped_ = 0;     // lines dropped since then
  std::string path_;         // the file, or the one that could not be created
  iconv_t cp949_;            // UTF-8 → code page 949, used under the lock
  std::mutex notesLock_;
  std::set<std::string> toldNotes_;  // the lasting notes this log has written
};

// Routes Log() to `log` for the target's life. Log() writes to the log of the latest target
// still living: when a target ends, the one made before it that still lives takes over again,
// whatever order they end in.
class LogTarget {
 public:
  explicit LogTarget(ProcessLog& log);
  ~LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

 private:
  ProcessLog& log_;
  // Neighbours in the chain of living targets (guarded by the route's lock).
  LogTarget* older_ = nullptr;
  LogTarget* newer_ = nullptr;
};

// Printf on the log of the current target; with none the line is dropped (0).
int Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the notes of a lasting condition (a folder that cannot be made, an unsafe port table
// entry) to the current target's log, each on one line with outside text escaped. A caller that
// looks again about once a second would otherwise log the condition at every look: a note is
// written when it appears, and again only after a call with the same `scope` went without it.
// Only the notes starting with `scope` are considered. The memory is the log's, so a new log (a
// module loaded again) is told every condition that still holds.
void LogLastingNotes(const std::vector<std::string>& notes, const std::string& scope = "");

// The file of the current target's log (where its lines go or will go); the default path when
// no log is routed.
std::string CurrentLogPath();

// UTF-8 text → code page 949 bytes; text that is plain ASCII or not valid UTF-8 is returned
// unchanged (bytes from a phone are written as they came).
std::string ToCp949(const std::string& utf8);

}  // namespace tr52
