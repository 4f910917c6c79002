// The package the whole-download benchmarks flash: every image of the plug-in's mask, AMSS
// enciphered as a real package stores it, AMSS and EFS GANG as large as asked.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "dz_writer.h"
#include "package/image_store.h"
#include "session/result_codes.h"
#include "support/test_pattern.h"
#include "win/window.h"

namespace tr52bench {

struct Package {
  std::string path;
  uint64_t imageBytes = 0;
};

// Writes `path`; an empty path in the result (and a line on standard error) when it cannot.
inline Package WriteDownloadBenchPackage(const std::string& path, size_t amssMiB, size_t efsMiB) {
  static std::vector<std::vector<uint8_t>> data;  // the writer reads the images at Write
  const std::pair<int, size_t> images[] = {
      {tr52::IMAGE_AMSS, amssMiB << 20}, {tr52::IMAGE_EFS_GANG, efsMiB << 20},
      {tr52::IMAGE_PARTITION_TBL, 512},  {tr52::IMAGE_FLEXIBLE_LOGO, 64 << 10},
      {tr52::IMAGE_DBL, 32 << 10},       {tr52::IMAGE_FSBL, 64 << 10},
      {tr52::IMAGE_OSBL, 128 << 10},
  };
  Package package;
  tr52::DzWriter writer;
  for (const auto& [type, size] : images) {
    data.push_back(tr52test::Pattern(size, static_cast<uint32_t>(type)));
    writer.Add({static_cast<uint32_t>(type), tr52::ImageTypeName(type), type == tr52::IMAGE_AMSS,
                data.back()});
    package.imageBytes += size;
  }
  package.path = path;
  if (!writer.Write(package.path)) {
    std::fprintf(stderr, "cannot write the package %s: %s\n", path.c_str(), writer.Error().c_str());
    package.path.clear();
  }
  return package;
}

// The download's result code for the low word of a result message (1 = success = code 0).
inline int ResultCode(win::WPARAM wParam) {
  const unsigned word = win::LOWORD(wParam);
  return word == 1 ? tr52::kResultOk : static_cast<int>(word);
}

}  // namespace tr52bench
