#include "full_disk_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <mutex>

namespace tr52test {
namespace {

std::atomic<bool> full{false};
sqlite3_vfs* real = nullptr;
sqlite3_vfs shim;
sqlite3_io_methods methods;

// Our file, followed by the default file system's own.
struct ShimFile {
  sqlite3_file base;
  sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* RealOf(sqlite3_file* f) {
  return reinterpret_cast<ShimFile*>(f)->Real();
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  sqlite3_file* r = RealOf(file);
  const int rc = real->xOpen(real, name, r, flags, outFlags);
  file->pMethods = r->pMethods ? &methods : nullptr;
  return rc;
}

void Fill() {
  methods.iVersion = 3;
  methods.xClose = [](sqlite3_file* f) { return RealOf(f)->pMethods->xClose(RealOf(f)); };
  methods.xRead = [](sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return RealOf(f)->pMethods->xRead(RealOf(f), b, n, o);
  };
  methods.xWrite = [](sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    if (full) return SQLITE_FULL;
    return RealOf(f)->pMethods->xWrite(RealOf(f), b, n, o);
  };
  methods.xTruncate = [](sqlite3_file* f, sqlite3_int64 size) {
    return RealOf(f)->pMethods->xTruncate(RealOf(f), size);
  };
  methods.xSync = [](sqlite3_file* f, int flags) {
    return RealOf(f)->pMethods->xSync(RealOf(f), flags);
  };
  methods.xFileSize = [](sqlite3_file* f, sqlite3_int64* size) {
    return RealOf(f)->pMethods->xFileSize(RealOf(f), size);
  };
  methods.xLock = [](sqlite3_file* f, int l) { return RealOf(f)->pMethods->xLock(RealOf(f), l); };
  methods.xUnlock = [](sqlite3_file* f, int l) {
    return RealOf(f)->pMethods->xUnlock(RealOf(f), l);
  };
  methods.xCheckReservedLock = [](sqlite3_file* f, int* out) {
    return RealOf(f)->pMethods->xCheckReservedLock(RealOf(f), out);
  };
  methods.xFileControl = [](sqlite3_file* f, int op, void* arg) {
    return RealOf(f)->pMethods->xFileControl(RealOf(f), op, arg);
  };
  methods.xSectorSize = [](sqlite3_file* f) { return RealOf(f)->pMethods->xSectorSize(RealOf(f)); };
  methods.xDeviceCharacteristics = [](sqlite3_file* f) {
    return RealOf(f)->pMethods->xDeviceCharacteristics(RealOf(f));
  };
  methods.xShmMap = [](sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return RealOf(f)->pMethods->xShmMap(RealOf(f), page, size, extend, out);
  };
  methods.xShmLock = [](sqlite3_file* f, int offset, int n, int flags) {
    return RealOf(f)->pMethods->xShmLock(RealOf(f), offset, n, flags);
  };
  methods.xShmBarrier = [](sqlite3_file* f) { RealOf(f)->pMethods->xShmBarrier(RealOf(f)); };
  methods.xShmUnmap = [](sqlite3_file* f, int remove) {
    return RealOf(f)->pMethods->xShmUnmap(RealOf(f), remove);
  };
  methods.xFetch = [](sqlite3_file* f, sqlite3_int64 o, int n, void** out) {
    return RealOf(f)->pMethods->xFetch(RealOf(f), o, n, out);
  };
  methods.xUnfetch = [](sqlite3_file* f, sqlite3_int64 o, void* p) {
    return RealOf(f)->pMethods->xUnfetch(RealOf(f), o, p);
  };
}

}  // namespace

void RegisterFullDiskVfs() {
  static std::once_flag once;
  std::call_once(once, [] {
    real = sqlite3_vfs_find(nullptr);
    Fill();
    shim = *real;
    shim.zName = kFullDiskVfs;
    shim.szOsFile = static_cast<int>(sizeof(ShimFile)) + real->szOsFile;
    shim.xOpen = Open;
    shim.pNext = nullptr;
    sqlite3_vfs_register(&shim, 0);
  });
}

void SetDiskFull(bool on) {
  full = on;
}

}  // namespace tr52test
