// The module's image catalogue: one slot per image type, loaded once from the firmware package
// (or from plain image files) and read by every port's download. The module root owns one;
// whoever needs images is handed it.
//
// Locks: the slot lock guards loading, releasing and the paths; the load lock serialises
// LoadImages across sessions. Readers of a slot's data and size read without a lock once
// LoadImages has succeeded (slots are not released while downloads run).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "package/image_buffer.h"
#include "package/image_type.h"
#include "package/loaded_package.h"

namespace tr52 {

class ImageCatalogue {
 public:
  ImageCatalogue() = default;
  ImageCatalogue(const ImageCatalogue&) = delete;
  ImageCatalogue& operator=(const ImageCatalogue&) = delete;

  // Readers of one slot (no lock, see above); a type outside 0..29 has no image.
  bool IsImageLoaded(int type) const;
  const uint8_t* ImageData(int type) const;
  uint32_t ImageSize(int type) const;
  // The image's bytes when loaded and not empty.
  bool HasImageData(int type) const;
  std::string ImagePath(int type) const;

  // Sets the source path of one slot / of every slot selected by `mask`.
  void SetImagePath(int type, const std::string& path);
  void SetImagePaths(uint32_t mask, const std::string& path);

  // Frees a loaded slot's data; the path stays.
  void ReleaseImage(int type);
  void ReleaseAllImages();

  // Makes sure the slot of `type` is loaded from its path: a path ending in "dz" is read through
  // the package, anything else as a plain image file. Logs "Type : %d, Not Found : %s" on
  // failure.
  [[nodiscard]] bool LoadImage(int type);

  // Once per catalogue (under the load lock): the model check of the package at `dzPath`, then
  // the images that `options` selects (bit n = type n) in their fixed order, then the facts of
  // what was loaded. Later calls return true at once once a call succeeded, whatever path and
  // options they pass. A call that fails empties the slots it loaded, and so does a package
  // replaced or changed on disk while it was read: the phones never get images of two
  // packages, and the next call reads them all again.
  [[nodiscard]] bool LoadImages(const std::string& dzPath, uint32_t options);

  // The package the images came from and each image as loaded; nullopt before LoadImages
  // succeeded.
  std::optional<LoadedPackage> LoadedPackageFacts() const;
  // A LoadImages call succeeded.
  bool ImagesLoaded() const { return imagesLoaded_; }

  // Tests only: back to a new catalogue's state (no image, no path, nothing loaded), so that a
  // suite sharing one module can switch packages. No download may run meanwhile.
  void ResetForTesting();

 private:
  struct Slot {
    std::atomic<bool> loaded{false};
    ImageBuffer data;   // the image; empty when not loaded or not in the package
    uint32_t size = 0;  // bytes of data that hold the image
    std::string path;   // the .dz package or the plain image file it comes from
    std::string name;   // the image's name in the package (a plain file: the file's name)
  };

  const Slot* Find(int type) const;
  bool LoadSlotLocked(int type, Slot& slot);
  bool DescribeLoad(const PackageFileWatch& watch, const std::string& dzPath, uint32_t options,
                    LoadedPackage& facts) const;

  mutable std::mutex slotLock_;
  std::mutex loadLock_;
  Slot slots_[kImageTypeCount];
  std::atomic<bool> imagesLoaded_{false};
  std::optional<LoadedPackage> package_;  // under slotLock_
};

// Opens the package and compares its model name, upper-cased, with "TR52"; logs the outcome.
[[nodiscard]] bool CheckDzModel(const std::string& dzPath);

}  // namespace tr52
