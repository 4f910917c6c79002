// What one download saw and did, collected by the session and its steps as it runs, for the
// download's record: the flow taken, the booting modes the phone was found in, its model and
// banner as it sent them, each image written and how, the package the images came from, and the
// step that ended the download.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/loaded_package.h"
#include "session/result_codes.h"

namespace tr52 {

// How an image went to the phone.
inline constexpr const char kMethodNand[] = "nand";
inline constexpr const char kMethodRam[] = "ram";
inline constexpr const char kMethodPipelined[] = "pipelined";
inline constexpr const char kMethodPartitionTable[] = "partition table";

struct ImageWrite {
  std::string type;                 // image type name ("AMSS", ...)
  std::string name;                 // its name in the package; empty when unknown
  std::optional<uint32_t> address;  // NAND address of its first byte, when the host gives one
  std::string method;
  uint64_t size = 0;  // image bytes sent (all of them when written)
  std::string md5;    // of the bytes sent, lower-case hex
  bool written = false;
};

struct DownloadFacts {
  std::optional<int> flow;            // 1 normal-mode flow, 0 emergency flow; none before detection
  std::vector<int> bootModes;         // every detection's booting mode, in order
  std::optional<std::string> model;   // the first model name answer, bytes as sent
  std::optional<std::string> banner;  // the first banner, bytes as sent
  std::vector<ImageWrite> images;
  std::optional<LoadedPackage> package;
  std::optional<std::string> endStep;  // the step whose failure ended the download

  // Returns `code`; when it is a failure and no step was noted yet, notes `step` as the one that
  // ended the download (a step inside a step notes itself first: the innermost one is named).
  ResultCode EndsAt(std::string_view step, ResultCode code) {
    if (Failed(code) && !endStep) endStep = std::string(step);
    return code;
  }
};

}  // namespace tr52
