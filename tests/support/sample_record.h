// A download record with every field set, for the tests of its writer and its readers.
#pragma once

#include <string>

#include "session/download_record.h"

namespace tr52test {

inline tr52::DownloadRecord SampleRecord(const std::string& model = "TR52") {
  tr52::DownloadRecord r;
  r.hostPid = 4242;
  r.download = 7;
  r.com = 11;
  r.port = "/dev/pts/3";
  r.started = "2025-01-31T08:15:02.047Z";
  r.ended = "2025-01-31T08:16:40.512Z";
  r.result = 1010;
  r.resultName = "NandFlashWrite failed";
  r.facts.flow = 0;
  r.facts.bootModes = {2, 2};
  r.facts.model = model;
  r.facts.banner = "TR52V10A_091117";
  r.facts.images = {
      {"DBL", "dbl.mbn", std::nullopt, tr52::kMethodNand, 32768, "aa", true},
      {"AMSS", "", 0x30000u, tr52::kMethodRam, 100, "bb", false},
  };
  r.facts.package = tr52::LoadedPackage{"/fw/TR52.dz", 99, "cc", {{"DBL", "dbl.mbn", 32768, "aa"}}};
  r.facts.endStep = "write AMSS";
  return r;
}

}  // namespace tr52test
