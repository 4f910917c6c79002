#include "package/image_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <limits>
#include <vector>

#include "base/module_singleton.h"
#include "base/printable_text.h"
#include "base/process_log.h"
#include "package/dz_archive.h"
#include "platform/crypto.h"

namespace tr52 {

namespace {

const char* const kImageTypeNames[kImageTypeCount] = {
    "BOOTLOADER",   "BOOTCODE",      "BOOTSHELL",     "AMSS",           "MEDIA",
    "MODULE",       "EFS GANG",      "FACTORY",       "PARTITION TBL",  "PBL",
    "QCSBL HEADER", "QCSBL",         "OEMSBL HEADER", "OEMSBL",         "AMSS MODEM HEADER",
    "H3G FLEX",     "FLEXIBLE LOGO", "MASTER ROM",    "MASTER ROM MAP", "APPSBLHD",
    "APPSBL",       "WINCE",         "APPS",          "EFS GANG APPS",  "DBL",
    "FSBL",         "OSBL",          "DSP1",          "ZIMAGE_RAMDISK", "SYSTEM",
};

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

struct Store {
  std::recursive_mutex slotLock;
  std::mutex loadLock;
  ImageSlot slots[kImageTypeCount + 1];  // the last one answers types out of range
  bool resetDone = false;
  std::atomic<bool> imagesLoaded{false};
  std::optional<LoadedPackage> package;  // under slotLock
};

Store& TheStore() {
  return ModuleSingleton<Store>::Get();
}

bool ValidType(int type) {
  return type >= 0 && type < kImageTypeCount;
}

bool EndsInDz(const std::string& path) {
  return path.size() >= 2 && path.compare(path.size() - 2, 2, "dz") == 0;
}

// A plain image file, whole.
bool LoadPlainFile(ImageSlot& slot) {
  int fd = ::open(slot.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<uint64_t>(st.st_size) <= std::numeric_limits<uint32_t>::max();
  slot.data.Clear();
  slot.size = 0;
  const size_t length = ok ? static_cast<size_t>(st.st_size) : 0;
  if (ok && !slot.data.Resize(length)) ok = false;
  size_t done = 0;
  while (ok && done < length) {
    ssize_t n = ::read(fd, slot.data.data() + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (!ok) {
    slot.data.Clear();
    return false;
  }
  slot.size = static_cast<uint32_t>(length);
  const auto slash = slot.path.rfind('/');
  slot.name = slash == std::string::npos ? slot.path : slot.path.substr(slash + 1);
  return true;
}

bool LoadFromPath(int type, ImageSlot& slot) {
  if (!EndsInDz(slot.path)) return LoadPlainFile(slot);
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

}  // namespace

const char* ImageTypeName(int type) {
  return ValidType(type) ? kImageTypeNames[type] : "UNKNOWN";
}

std::recursive_mutex& ImageSlotLock() {
  return TheStore().slotLock;
}

ImageSlot& GetImageSlot(int type) {
  Store& s = TheStore();
  return ValidType(type) ? s.slots[type] : s.slots[kImageTypeCount];
}

bool IsImageLoaded(int type) {
  return ValidType(type) && GetImageSlot(type).loaded != 0;
}
const uint8_t* ImageData(int type) {
  return ValidType(type) ? GetImageSlot(type).data.data() : nullptr;
}
uint32_t ImageSize(int type) {
  return ValidType(type) ? GetImageSlot(type).size : 0;
}

std::string ImagePath(int type) {
  std::lock_guard<std::recursive_mutex> lock(ImageSlotLock());
  return ValidType(type) ? GetImageSlot(type).path : std::string();
}

void SetImagePath(int type, const std::string& path) {
  if (!ValidType(type)) return;
  std::lock_guard<std::recursive_mutex> lock(ImageSlotLock());
  GetImageSlot(type).path = path;
}

void SetImagePaths(uint32_t mask, const std::string& path) {
  for (int t = 0; t < kImageTypeCount; ++t)
    if (mask & (1u << t)) SetImagePath(t, path);
}

void ResetImageStore() {
  Store& s = TheStore();
  std::lock_guard<std::recursive_mutex> lock(s.slotLock);
  if (s.resetDone) return;
  s.resetDone = true;
  for (ImageSlot& slot : s.slots) slot = ImageSlot{};
}

void ReleaseImage(int type) {
  if (!ValidType(type)) return;
  std::lock_guard<std::recursive_mutex> lock(ImageSlotLock());
  ImageSlot& slot = GetImageSlot(type);
  if (!slot.loaded) return;
  slot.data.Clear();
  slot.loaded = 0;
  slot.size = 0;
}

void ReleaseAllImages() {
  for (int t = 0; t < kImageTypeCount; ++t) ReleaseImage(t);
}

void FreeImageStore() {
  ModuleSingleton<Store>::Release();
}

bool LoadImage(int type) {
  if (!ValidType(type)) return false;
  bool ok;
  std::string path;
  {
    std::lock_guard<std::recursive_mutex> lock(ImageSlotLock());
    ImageSlot& slot = GetImageSlot(type);
    if (slot.loaded) return true;
    ok = LoadFromPath(type, slot);
    slot.loaded = ok ? 1 : 0;
    path = slot.path;
  }
  if (!ok) Log("Type : %d, Not Found : %s", type, PrintableText(path).c_str());
  return ok;
}

namespace {

// The facts of a load that succeeded: the package file as it was opened (it must not have been
// replaced or changed meanwhile) and the selected images as they sit in their slots.
bool DescribeLoad(const PackageFileWatch& watch, const std::string& dzPath, uint32_t options,
                  LoadedPackage& facts) {
  facts.path = dzPath;
  const bool read = watch.Digest(facts.size, facts.md5);
  if (!read || !watch.Unchanged()) {
    Log("DZ file %s was replaced or changed while its images were read: they are read again",
        PrintableText(dzPath).c_str());
    return false;
  }
  std::lock_guard<std::recursive_mutex> lock(ImageSlotLock());
  for (int type : kLoadOrder) {
    const ImageSlot& slot = GetImageSlot(type);
    if (!(options & (1u << type)) || slot.size == 0) continue;
    facts.images.push_back(
        {ImageTypeName(type), slot.name, slot.size, Md5Hex(Md5::Of(slot.data.data(), slot.size))});
  }
  return true;
}

}  // namespace

bool LoadImages(const std::string& dzPath, uint32_t options) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.loadLock);
  if (s.imagesLoaded) return true;
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
    std::lock_guard<std::recursive_mutex> hold(s.slotLock);
    s.package = std::move(facts);
  }
  s.imagesLoaded = true;
  return true;
}

std::optional<LoadedPackage> LoadedPackageFacts() {
  Store& s = TheStore();
  std::lock_guard<std::recursive_mutex> hold(s.slotLock);
  return s.package;
}

bool ImagesLoaded() {
  return TheStore().imagesLoaded;
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

void ResetImageStoreForTesting() {
  Store& s = TheStore();
  std::lock_guard<std::mutex> load(s.loadLock);
  std::lock_guard<std::recursive_mutex> lock(s.slotLock);
  for (ImageSlot& slot : s.slots) slot = ImageSlot{};
  s.resetDone = false;
  s.imagesLoaded = false;
  s.package.reset();
}

}  // namespace tr52
