#include "package/image_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <limits>

#include "base/module_singleton.h"
#include "base/process_log.h"
#include "package/dz_archive.h"

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
  std::string name;
  if (!archive.ReadImage(static_cast<uint32_t>(type), name, slot.data, slot.size)) {
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
  if (!ok) Log("Type : %d, Not Found : %s", type, path.c_str());
  return ok;
}

bool LoadImages(const std::string& dzPath, uint32_t options) {
  Store& s = TheStore();
  std::lock_guard<std::mutex> lock(s.loadLock);
  if (s.imagesLoaded) return true;
  if (!CheckDzModel(dzPath)) return false;
  bool ok = true;
  for (int type : kLoadOrder) {
    if (!(options & (1u << type))) continue;
    if (!LoadImage(type)) {
      ok = false;
      break;
    }
  }
  s.imagesLoaded = ok;
  return ok;
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
  if (upper == kModelCode) {
    Log("DLL[%s]Model NAME match. DZ file: %s", kModelCode, model.c_str());
    return true;
  }
  Log("DLL[%s]Model NAME dosen't match. DZ file: %s", kModelCode, model.c_str());
  return false;
}

void ResetImageStoreForTesting() {
  Store& s = TheStore();
  std::lock_guard<std::mutex> load(s.loadLock);
  std::lock_guard<std::recursive_mutex> lock(s.slotLock);
  for (ImageSlot& slot : s.slots) slot = ImageSlot{};
  s.resetDone = false;
  s.imagesLoaded = false;
}

}  // namespace tr52
