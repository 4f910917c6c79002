// The image types of a firmware package: the key of an image in the package's offset table,
// the index of its slot in the catalogue, and its name in log lines.
#pragma once

#include <cstdint>

namespace tr52 {

// The key of an image in the package's offset table and the index of its slot; bit n of an
// image mask selects type n.
enum ImageType : int {
  IMAGE_BOOTLOADER = 0,
  IMAGE_BOOTCODE = 1,
  IMAGE_BOOTSHELL = 2,
  IMAGE_AMSS = 3,
  IMAGE_MEDIA = 4,
  IMAGE_MODULE = 5,
  IMAGE_EFS_GANG = 6,
  IMAGE_FACTORY = 7,
  IMAGE_PARTITION_TBL = 8,
  IMAGE_PBL = 9,
  IMAGE_QCSBL_HEADER = 10,
  IMAGE_QCSBL = 11,
  IMAGE_OEMSBL_HEADER = 12,
  IMAGE_OEMSBL = 13,
  IMAGE_AMSS_MODEM_HEADER = 14,
  IMAGE_H3G_FLEX = 15,
  IMAGE_FLEXIBLE_LOGO = 16,
  IMAGE_MASTER_ROM = 17,
  IMAGE_MASTER_ROM_MAP = 18,
  IMAGE_APPSBLHD = 19,
  IMAGE_APPSBL = 20,
  IMAGE_WINCE = 21,
  IMAGE_APPS = 22,
  IMAGE_EFS_GANG_APPS = 23,
  IMAGE_DBL = 24,
  IMAGE_FSBL = 25,
  IMAGE_OSBL = 26,
  IMAGE_DSP1 = 27,
  IMAGE_ZIMAGE_RAMDISK = 28,
  IMAGE_SYSTEM = 29,
};

constexpr int kImageTypeCount = 30;

// The package path goes into the slots of these types when a download starts.
constexpr uint32_t kDownloadImageMask = 0x07010148;

// "BOOTLOADER" ... "SYSTEM"; "UNKNOWN" for a number outside 0..29.
const char* ImageTypeName(int type);

// The model code a package must carry (compared after upper-casing the package's model name).
constexpr const char* kModelCode = "TR52";

}  // namespace tr52
