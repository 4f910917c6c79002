// A SQLite file system over the default one that can be told to answer every write as a full
// disk does (SQLITE_FULL, what SQLite makes of ENOSPC), for tests of a history whose disk fills.
#pragma once

namespace tr52test {

inline constexpr const char* kFullDiskVfs = "tr52-full-disk";

// Registers the file system (once; later calls do nothing).
void RegisterFullDiskVfs();
// From now on writes fail (true) or go through again (false).
void SetDiskFull(bool full);

}  // namespace tr52test
