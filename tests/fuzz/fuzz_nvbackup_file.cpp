// Fuzz target: loading an NV backup file. The bytes are parsed in memory (ParseImage) and loaded
// through NvBackupSet::Open from an in-memory file; both must agree.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "phonedata/nv_backup_set.h"

namespace {

int MemFile() {
  static const int fd = memfd_create("nvbackup", 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<tr52::NvRecord> records;
  uint32_t count = 0;
  const bool parsed = tr52::NvBackupSet::ParseImage(data, size, records, &count);
  if (parsed && records.size() != count) std::abort();

  const int fd = MemFile();
  if (fd < 0) return 0;
  if (ftruncate(fd, 0) != 0) return 0;
  if (size && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  tr52::NvBackupSet set;
  const bool loaded = set.Open("/proc/self/fd/" + std::to_string(fd), tr52::NvBackupSet::kRead);
  if (loaded != parsed) std::abort();
  if (loaded) {
    if (set.Count() != records.size()) std::abort();
    tr52::NvRecord r;
    for (size_t i = 0; i < set.Count(); ++i)
      if (!set.Get(i, r) || !(r == records[i])) std::abort();
  } else if (set.Count() != 0) {
    std::abort();
  }
  return 0;
}
