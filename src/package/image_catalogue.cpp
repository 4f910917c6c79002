#include "package/image_catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <limits>
#include <vector>

#include "base/printable_text.h"
#include "base/process_log.h"
#include "package/dz_archive.h"
#include "platform/crypto.h"

namespace tr52 {

namespace {

// The order in which LoadImages loads the selected types.
const int kLoadOrder[] = {
    IMAGE_PARTITION_TBL, IMAGE_PBL,           IMAGE_QCSBL_HEADER, IMAGE_QCSBL,
    IMAGE_OEMSBL_HEADER, IMAGE_OEMSBL,        IMAGE_H3G_FLEX,     IMAGE_AMSS_MODEM_HEADER,
    IMAGE_AMSS,          IMAGE_MEDIA,         IMAGE_MODULE,       IMAGE_EFS_GANG,
    IMAGE_EFS_GANG_APPS, IMAGE_FLEXIBLE_LOGO, IMAGE_DBL,          IMAGE_FSBL,
    IMAGE_OSBL,
};

const char kOpenFailed[] =
    "Open DZ File Failed. Check if the DZ file is located where you select the directory";

bool ValidType(int type) {
  return type >= 0 && type < kImageTypeCount;
}

bool EndsInDz(const std::string& path) {
  return path.size() >= 2 && path.compare(path.size() - 2, 2, "dz") == 0;
}

// A plain image file, whole, into `data`; its length in `size`.
bool LoadPlainFile(const std::string& path, ImageBuffer& data, uint32_t& size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<uint64_t>(st.st_size) <= std::numeric_limits<uint32_t>::max();
  data.Clear();
  size = 0;
  const size_t length = ok ? static_cast<size_t>(st.st_size) : 0;
  if (ok && !data.Resize(length)) ok = false;
  size_t done = 0;
  while (ok && done < length) {
    ssize_t n = ::read(fd, data.data() + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (!ok) {
    data.Clear();
    return false;
  }
  size = static_cast<uint32_t>(length);
  return true;
}

std::string FileName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

const ImageCatalogue::Slot* ImageCatalogue::Find(int type) const {
  return ValidType(type) ? &slots_[type] : nullptr;
}

bool ImageCatalogue::IsImageLoaded(int type) const {
  const Slot* slot = Find(type);
  return slot != nullptr && slot->loaded;
}

const uint8_t* ImageCatalogue::ImageData(int type) const {
  const Slot* slot = Find(type);
  return slot != nullptr ? slot->data.data() : nullptr;
}

uint32_t ImageCatalogue::ImageSize(int type) const {
  const Slot* slot = Find(type);
  return slot != nullptr ? slot->size : 0;
}

bool ImageCatalogue::HasImageData(int type) const {
  return IsImageLoaded(type) && ImageData(type) != nullptr && ImageSize(type) > 0;
}

std::string ImageCatalogue::ImagePath(int type) const {
  std::lock_guard<std::mutex> lock(slotLock_);
  const Slot* slot = Find(type);
  return slot != nullptr ? slot->path : std::string();
}

void ImageCatalogue::SetImagePath(int type, const std::string& path) {
  if (!ValidType(type)) return;
  std::lock_guard<std::mutex> lock(slotLock_);
  slots_[type].path = path;
}

void ImageCatalogue::SetImagePaths(uint32_t mask, const std::string& path) {
  for (int t = 0; t < kImageTypeCount; ++t)
    if (mask & (1u << t)) SetImagePath(t, path);
}

void ImageCatalogue::ReleaseImage(int type) {
  if (!ValidType(type)) return;
  std::lock_guard<std::mutex> lock(slotLock_);
  Slot& slot = slots_[type];
  if (!slot.loaded) return;
  slot.data.Clear();
  slot.loaded = false;
  slot.size = 0;
}

void ImageCatalogue::ReleaseAllImages() {
  for (int t = 0; t < kImageTypeCount; ++t) ReleaseImage(t);
}

bool ImageCatalogue::LoadSlotLocked(int type, Slot& slot) {
  if (!EndsInDz(slot.path)) {
    if (!LoadPlainFile(slot.path, slot.data, slot.size)) return false;
    slot.name = FileName(slot.path);
    return true;
  }
  DzArchive archive;
  if (!archive.Open(slot.path)) {
    Log("%s", kOpenFailed);
    return false;
  }
  slot.size = 0;
  slot.data.Clear();
  slot.name.clear();
  if (!archive.ReadImage(static_cast<uint32_t>(type), slot.name, slot.data, slot.size)) {
    slot.data.Clear();
    slot.size = 0;
    return false;
  }
  Log("Type : %s, size : %d", ImageTypeName(type), static_cast<int>(slot.size));
  return true;
}

bool ImageCatalogue::LoadImage(int type) {
  if (!ValidType(type)) return false;
  bool ok;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(slotLock_);
    Slot& slot = slots_[type];
    if (slot.loaded) return true;
    ok = LoadSlotLocked(type, slot);
    slot.loaded = ok;
    path = slot.path;
  }
  if (!ok) Log("Type : %d, Not Found : %s", type, PrintableText(path).c_str());
  return ok;
}

// The facts of a load that succeeded: the package file as it was opened (it must not have been
// replaced or changed meanwhile) and the selected images as they sit in their slots.
bool ImageCatalogue::DescribeLoad(const PackageFileWatch& watch, const std::string& dzPath,
                                  uint32_t options, LoadedPackage& facts) const {
  facts.path = dzPath;
  const bool read = watch.Digest(facts.size, facts.md5);
  if (!read || !watch.Unchanged()) {
    Log("DZ file %s was replaced or changed while its images were read: they are read again",
        PrintableText(dzPath).c_str());
    return false;
  }
  std::lock_guard<std::mutex> lock(slotLock_);
  for (int type : kLoadOrder) {
    const Slot& slot = slots_[type];
    if (!(options & (1u << type)) || slot.size == 0) continue;
    facts.images.push_back(
        {ImageTypeName(type), slot.name, slot.size, Md5Hex(Md5::Of(slot.data.data(), slot.size))});
  }
  return true;
}

bool ImageCatalogue::LoadImages(const std::string& dzPath, uint32_t options) {
  std::lock_guard<std::mutex> lock(loadLock_);
  if (imagesLoaded_) return true;
  // Opened before anything is read from it, so that its digest is that of the file the images
  // come from.
  const PackageFileWatch watch(dzPath);
  if (!CheckDzModel(dzPath)) return false;
  std::vector<int> loadedNow;
  bool ok = true;
  for (int type : kLoadOrder) {
    if (!(options & (1u << type))) continue;
    const bool already = IsImageLoaded(type);
    if (!LoadImage(type)) {
      ok = false;
      break;
    }
    if (!already) loadedNow.push_back(type);
  }
  LoadedPackage facts;
  if (ok) ok = DescribeLoad(watch, dzPath, options, facts);
  if (!ok) {
    // A later call (perhaps with another package) must not find half of this one loaded.
    for (int type : loadedNow) ReleaseImage(type);
    return false;
  }
  {
    std::lock_guard<std::mutex> hold(slotLock_);
    package_ = std::move(facts);
  }
  imagesLoaded_ = true;
  return true;
}

void ImageCatalogue::ResetForTesting() {
  std::lock_guard<std::mutex> load(loadLock_);
  std::lock_guard<std::mutex> lock(slotLock_);
  for (Slot& slot : slots_) {
    slot.loaded = false;
    slot.data.Clear();
    slot.size = 0;
    slot.path.clear();
    slot.name.clear();
  }
  imagesLoaded_ = false;
  package_.reset();
}

std::optional<LoadedPackage> ImageCatalogue::LoadedPackageFacts() const {
  std::lock_guard<std::mutex> hold(slotLock_);
  return package_;
}

bool CheckDzModel(const std::string& dzPath) {
  std::string model;
  {
    DzArchive archive;
    if (!archive.Open(dzPath)) {
      Log("%s", kOpenFailed);
      return false;
    }
    model = archive.ModelName();
  }
  std::string upper = model;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string shown = PrintableText(model);
  if (upper == kModelCode) {
    Log("DLL[%s]Model NAME match. DZ file: %s", kModelCode, shown.c_str());
    return true;
  }
  Log("DLL[%s]Model NAME dosen't match. DZ file: %s", kModelCode, shown.c_str());
  return false;
}

}  // namespace tr52
