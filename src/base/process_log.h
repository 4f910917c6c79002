// The single process-wide log file, shared by every port and thread.
//
// Created fresh on first use beside the host executable (see DefaultPath); every line is
// "[hh:mm:ss:mmm]  : <indent><message>\r\n", written with one write call under one lock.
// Korean texts (given as UTF-8 in the sources) are written as their code page 949 bytes.
#pragma once

#include <iconv.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace tr52 {

template <typename>
class ModuleSingleton;

class ProcessLog {
 public:
  static constexpr int kMaxLine = 1024;
  // The least time between two tries to create the file.
  static constexpr uint64_t kRetryMs = 1000;

  static ProcessLog& Instance();
  // Writes the footer and frees the log object when the module unloads; later lines are
  // dropped instead of re-creating the file.
  static void ReleaseInstance();

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

  ProcessLog(const ProcessLog&) = delete;
  ProcessLog& operator=(const ProcessLog&) = delete;

 private:
  template <typename>
  friend class ModuleSingleton;
  ProcessLog();
  ~ProcessLog();
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
};

// Shorthand: ProcessLog::Instance().Printf(...).
int Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// UTF-8 text → code page 949 bytes; text that is plain ASCII or not valid UTF-8 is returned
// unchanged (bytes from a phone are written as they came).
std::string ToCp949(const std::string& utf8);

}  // namespace tr52
