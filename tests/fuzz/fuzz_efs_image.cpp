// Fuzz target: CEfs2Image::Attach on arbitrary bytes, then every object read back with
// ReadObject. Any read outside the input is caught by the sanitizers; the walk must stay
// consistent with what Attach accepted.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "phonedata/efs2_image.h"

// Attach logs what it rejects; no log is routed here, so those lines go nowhere.

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy into a buffer of exactly `size` bytes so that any over-read is detected.
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(bytes.get(), data, size);
  tr52::CEfs2Image image;
  if (!image.Attach(bytes.get(), size)) return 0;
  size_t cursor = 0;
  size_t previous = 0;
  uint64_t total = 0;
  for (uint64_t i = 0; i < image.WalkedObjects(); ++i) {
    uint32_t type = 0;
    std::string path;
    std::unique_ptr<uint8_t[]> contents;
    size_t length = 0;
    if (!image.ReadObject(type, path, cursor, contents, length)) std::abort();
    if (cursor <= previous || cursor > size || path.size() > tr52::CEfs2Image::kMaxPath)
      std::abort();
    if (type == tr52::CEfs2Image::kTypeFile && !contents) std::abort();
    previous = cursor;
    total += length;
  }
  if (size && cursor != size && image.WalkedObjects() > 0) std::abort();
  if (total > size) std::abort();
  return 0;
}
