// The process-wide image catalogue: one slot per image type, loaded once per process from the
// firmware package (or from plain image files) and read by every port's download.
//
// Locks: the slot lock guards loading, releasing and resetting slots; the load lock serialises
// LoadImages across sessions. Readers of a slot's data and size read without the lock once
// LoadImages has succeeded (slots are not released while downloads run).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "package/image_buffer.h"
#include "package/loaded_package.h"

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

struct ImageSlot {
  int loaded = 0;     // 1 once loaded successfully
  ImageBuffer data;   // the image; empty when not loaded or not in the package
  uint32_t size = 0;  // bytes of data that hold the image
  std::string path;   // the .dz package or the plain image file it comes from
  std::string name;   // the image's name in the package (a plain file: the file's name)
};

// Guards every slot access that changes a slot (load, release, reset, path).
std::recursive_mutex& ImageSlotLock();

// The slot of a type (0..29). Readers use data/size without the lock after LoadImages
// succeeded; writers hold ImageSlotLock(). A type outside 0..29 gets a spare empty slot.
ImageSlot& GetImageSlot(int type);

// Convenience readers of one slot (no lock, see above).
bool IsImageLoaded(int type);
const uint8_t* ImageData(int type);
uint32_t ImageSize(int type);
std::string ImagePath(int type);

// Under the slot lock: sets the source path of one slot / of every slot selected by `mask`.
void SetImagePath(int type, const std::string& path);
void SetImagePaths(uint32_t mask, const std::string& path);

// Clears all 30 slots; only the first call of the process does anything (module load).
void ResetImageStore();
// Frees a loaded slot's data; loaded and size back to 0. The path stays.
void ReleaseImage(int type);
// ReleaseImage for every type (module unload).
void ReleaseAllImages();
// Frees the catalogue itself (slots and locks) when the module unloads, after
// ReleaseAllImages; a later use starts a new, empty catalogue.
void FreeImageStore();

// Makes sure the slot of `type` is loaded from its path: a path ending in "dz" is read through
// the package, anything else as a plain image file. Logs "Type : %d, Not Found : %s" on failure.
[[nodiscard]] bool LoadImage(int type);

// Once per process (under the load lock): the model check of the package at `dzPath`, then the
// images that `options` selects (bit n = type n) in their fixed order, then the facts of what was
// loaded (LoadedPackageFacts). Later calls return true at once once a call succeeded, whatever
// path and options they pass. A call that fails empties the slots it loaded, and so does a
// package replaced or changed on disk while it was read: the phones never get images of two
// packages, and the next call reads them all again.
[[nodiscard]] bool LoadImages(const std::string& dzPath, uint32_t options);

// The package the images of this process came from and each image as loaded; nullopt before
// LoadImages succeeded.
std::optional<LoadedPackage> LoadedPackageFacts();

// The process-wide flag that a LoadImages call succeeded.
bool ImagesLoaded();

// Opens the package and compares its model name, upper-cased, with "TR52"; logs the outcome.
[[nodiscard]] bool CheckDzModel(const std::string& dzPath);

// The name of NV item `item` from section "NV_ITEM" of "NvItemTable.txt" beside the host
// executable, or "NV ITEM <item>" when the file or the key is missing.
std::string NvItemName(int item);

// Tests only: returns the catalogue to the state of a freshly loaded module (all slots empty,
// the once-per-process flags down).
void ResetImageStoreForTesting();

}  // namespace tr52
