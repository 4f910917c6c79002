// A firmware package shaped like a real TR52 one, for tests and benchmarks that run whole
// downloads: every image of the plug-in's mask, the partition table small enough for its open
// request, boot loaders of some KiB, AMSS and EFS GANG as large as asked.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dz_writer.h"
#include "package/image_type.h"
#include "support/test_pattern.h"

namespace tr52test {

struct DownloadPackage {
  std::string path;
  std::map<int, std::vector<uint8_t>> images;  // image type -> bytes
};

struct DownloadPackageShape {
  size_t amssBytes = 200 * 1024;
  size_t efsGangBytes = 96 * 1024;
  bool withEfsGang = true;
};

inline DownloadPackage WriteDownloadPackage(const std::string& path,
                                            const DownloadPackageShape& shape = {}) {
  DownloadPackage package;
  package.path = path;
  package.images[tr52::IMAGE_PARTITION_TBL] = Pattern(300, 8);
  package.images[tr52::IMAGE_DBL] = Pattern(24 * 1024 + 17, 24);
  package.images[tr52::IMAGE_FSBL] = Pattern(40 * 1024 + 3, 25);
  package.images[tr52::IMAGE_OSBL] = Pattern(96 * 1024 + 511, 26);
  package.images[tr52::IMAGE_FLEXIBLE_LOGO] = Pattern(64 * 1024 + 100, 16);
  package.images[tr52::IMAGE_AMSS] = Pattern(shape.amssBytes, 3);
  if (shape.withEfsGang) package.images[tr52::IMAGE_EFS_GANG] = Pattern(shape.efsGangBytes, 6);
  tr52::DzWriter writer;
  for (const auto& [type, data] : package.images)
    writer.Add(
        {static_cast<uint32_t>(type), tr52::ImageTypeName(type), type == tr52::IMAGE_AMSS, data});
  if (!writer.Write(path)) package.path.clear();
  return package;
}

}  // namespace tr52test
