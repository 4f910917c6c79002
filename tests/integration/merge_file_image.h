// A media or module merge file for a download's image catalogue.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "package/image_catalogue.h"
#include "phonedata/efs2_image_writer.h"
#include "support/temp_dir.h"

namespace tr52test {

// Writes a merge file of `kind` with one folder and one 3000-byte file below it into `dir` and
// loads it into the slot of `type`.
inline void LoadMergeFile(tr52::ImageCatalogue& images, TempDir& dir, int type, uint32_t kind,
                          const std::string& folder) {
  tr52::Efs2ImageWriter writer(kind);
  writer.AddDirectory(folder);
  writer.AddFile(folder + "added.bin", std::vector<uint8_t>(3000, 0x5A));
  const std::vector<uint8_t> image = writer.Build();
  const std::string path = dir.File(std::string(tr52::ImageTypeName(type)) + ".efs");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  images.SetImagePath(type, path);
  ASSERT_TRUE(images.LoadImage(type));
}

}  // namespace tr52test
