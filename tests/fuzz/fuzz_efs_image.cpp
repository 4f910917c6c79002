// Fuzz target: CEfs2Image::Attach on arbitrary bytes, then every object read back with
// ReadObject. Any read outside the input is caught by the sanitizers; the walk must stay
// consistent with what Attach accepted.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/process_log.h"
#include "phonedata/efs2_image.h"

namespace {

// Log lines of Attach would go to a file on every run: the log is opened and finished once in
// the temporary folder (its own name per process) and the file removed, so later lines go
// nowhere.
bool SilenceLog() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_efs_image-" +
                           std::to_string(getpid()) + "_log.txt";
  tr52::ProcessLog::Instance().Open(path);
  tr52::ProcessLog::Instance().Finish();
  std::remove(path.c_str());
  return true;
}
const bool kSilenced = SilenceLog();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)kSilenced;
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
