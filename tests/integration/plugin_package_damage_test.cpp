// A package damaged on disk between two downloads, through the plug-in's six operations.
//
// The images are read from the package once per process: a process that loaded them before the
// damage keeps writing the images it loaded, byte for byte; a process that reads the package
// after the damage (the module loaded afresh) ends its download with 501 and the log line of
// the image that could not be read, or of the package that could not be opened, and nothing
// else happens to the phone.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/dz_archive.h"
#include "package/dz_format.h"
#include "plugin_quick_host.h"

namespace tr52 {
namespace {

enum class Damage {
  Truncated,     // the file loses its last part (the offset table at its end goes with it)
  FlippedAmss,   // one byte of the enciphered AMSS data inverted
  FlippedDbl,    // one byte of the plain DBL data inverted
  FlippedTable,  // one byte of the partition table's sub header inverted
};

// The file offset of the stored data of image `type` (after its sub header).
uint64_t StoredDataOffset(const std::string& path, int type) {
  DzArchive archive;
  if (!archive.Open(path)) return 0;
  for (const DzEntry& e : archive.Entries())
    if (e.key == static_cast<uint32_t>(type)) return e.offset + dz::kSubHeaderSize;
  return 0;
}

void FlipByteAt(const std::string& path, uint64_t offset) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(static_cast<std::streamoff>(offset));
  char c = 0;
  f.get(c);
  f.seekp(static_cast<std::streamoff>(offset));
  f.put(static_cast<char>(~c));
}

// Damages the package; the image type whose load must fail (-1: the package cannot be opened).
int Apply(Damage damage, const std::string& path) {
  switch (damage) {
    case Damage::Truncated:
      std::filesystem::resize_file(path, std::filesystem::file_size(path) * 2 / 3);
      return -1;
    case Damage::FlippedAmss:
      FlipByteAt(path, StoredDataOffset(path, IMAGE_AMSS) + 100);
      return IMAGE_AMSS;
    case Damage::FlippedDbl:
      FlipByteAt(path, StoredDataOffset(path, IMAGE_DBL) + 40);
      return IMAGE_DBL;
    case Damage::FlippedTable:
      FlipByteAt(path, StoredDataOffset(path, IMAGE_PARTITION_TBL) - dz::kSubHeaderSize + 8);
      return IMAGE_PARTITION_TBL;
  }
  return -1;
}

struct DamageCase {
  const char* why;
  Damage damage;
  // The process loaded the images (in a successful download) before the damage.
  bool loadedBefore;
};

class PluginPackageDamage : public tr52test::PluginQuickHost {};

TEST_F(PluginPackageDamage, ADamagedPackageFailsWith501UnlessItsImagesWereLoadedBefore) {
  const DamageCase cases[] = {
      {"truncated, read afresh", Damage::Truncated, false},
      {"AMSS byte flipped, read afresh", Damage::FlippedAmss, false},
      {"DBL byte flipped, read afresh", Damage::FlippedDbl, false},
      {"partition table header byte flipped, read afresh", Damage::FlippedTable, false},
      {"truncated after the images were loaded", Damage::Truncated, true},
      {"AMSS byte flipped after the images were loaded", Damage::FlippedAmss, true},
      {"DBL byte flipped after the images were loaded", Damage::FlippedDbl, true},
  };
  int com = 70;
  int row = 0;
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.why);
    const tr52test::DownloadPackage package =
        tr52test::WriteDownloadPackage(dir_->File("TR52_DAMAGE_" + std::to_string(row++) + ".dz"));
    ASSERT_FALSE(package.path.empty());
    // A new package path empties the image store, as a freshly loaded module has it.
    UsePackage(package.path);

    if (c.loadedBefore) {
      auto phone = StartPhone(++com, vphone::Mode::Download, "cnv.saved = true");
      ASSERT_EQ(Download(com), win::MAKELONG(1, 1)) << "the download before the damage";
      EXPECT_TRUE(Close());
    }

    const int failing = Apply(c.damage, package.path);
    const size_t logFrom = LogLines().size();
    auto phone = StartPhone(++com, vphone::Mode::Download, "cnv.saved = true");
    const win::WPARAM result = Download(com);
    const std::vector<std::string> lines = LogLines();
    const std::vector<std::string> logged(lines.begin() + static_cast<std::ptrdiff_t>(logFrom),
                                          lines.end());
    const auto hasLine = [&logged](const std::string& line) {
      return std::find(logged.begin(), logged.end(), line) != logged.end();
    };

    if (c.loadedBefore) {
      // The images of the first load, not the damaged file, reach the phone.
      EXPECT_EQ(result, win::MAKELONG(1, 1)) << "low word " << (result & 0xFFFF);
      for (const auto& [type, bytes] : package.images) {
        const auto flashed = phone->Flash().Find(ImageTypeName(type));
        ASSERT_TRUE(flashed.has_value()) << ImageTypeName(type);
        // The partition table travels padded inside its open request.
        std::vector<uint8_t> data = flashed->data;
        if (type == IMAGE_PARTITION_TBL && data.size() > bytes.size()) data.resize(bytes.size());
        EXPECT_EQ(data, bytes) << ImageTypeName(type);
      }
      EXPECT_FALSE(
          hasLine("Open DZ File Failed. Check if the DZ file is located where you "
                  "select the directory"));
    } else {
      EXPECT_EQ(result, win::MAKELONG(501, 1)) << "low word " << (result & 0xFFFF);
      if (failing < 0) {
        EXPECT_TRUE(hasLine(
            "Open DZ File Failed. Check if the DZ file is located where you select the directory"));
      } else {
        EXPECT_TRUE(hasLine("Type : " + std::to_string(failing) + ", Not Found : " + package.path))
            << "no line names image " << ImageTypeName(failing);
      }
      // Nothing was written: the detection is all the phone saw.
      EXPECT_TRUE(phone->Flash().Names().empty());
    }
    EXPECT_TRUE(Close());
    win::PumpMessages(20);
    EXPECT_EQ(results_.size(), 1u) << "exactly one result per download";
  }
  UsePackage(package_->path);
}

}  // namespace
}  // namespace tr52
