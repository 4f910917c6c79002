// The plug-in's records of this station's downloads, read as the plug-in appends them to its
// record file: each look reads only what was added since the one before, never the whole file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "session/download_record.h"

namespace station {

class DownloadRecordFeed {
 public:
  // Starts at the end the file has now: records of earlier runs are never read. Only records
  // of the process `pid` (the station's own downloads) are taken.
  DownloadRecordFeed(std::string path, unsigned pid);

  // The record of the download of `com` that ended last (the plug-in writes it before it
  // reports the result), read together with whatever else was appended; nullopt when the
  // plug-in wrote none.
  std::optional<tr52::DownloadRecord> Take(int com);

  const std::string& Path() const { return path_; }

 private:
  void ReadAppended();

  std::string path_;
  unsigned pid_;
  uint64_t offset_ = 0;  // where the next complete line starts
  dev_t dev_ = 0;        // the file read so far; another file is read from its start
  ino_t ino_ = 0;
  std::map<int, tr52::DownloadRecord> pending_;  // by COM number, not taken yet
};

}  // namespace station
