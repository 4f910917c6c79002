// The handset's EFS2 file system in memory: directories and files by full path, open files,
// open directory listings, and the faults a scenario may set.
//
// Paths are kept canonical: "/" followed by the names joined with "/", no trailing "/"
// ("/" is the root). Paths from the host come without their leading "/" and memory-card paths
// with a trailing line feed; Canonical() turns both into this form.
//
// Scenario keys (defaults in brackets):
//   efs.fill = default | none     the usual folders with a few files, or only the root
//   efs.error.<path> = n          every command on that path is answered with error n
//                                 (5: no space left, 26: file open, ...)
//   efs.refuse_rmdir = <path>     that directory cannot be removed (error 13)
//   efs.capacity = n              bytes of file data the phone can hold [0: unlimited]
//   efs.query = true              the phone answers the write-chunk query (command 51)
//   efs.dot_entries = false       listings start with "." and ".."
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "vphone/responder.h"

namespace vphone {

// EFS2 error numbers the phone answers with.
enum EfsErrno : uint32_t {
  EFS_OK = 0,
  EFS_ENOENT = 2,
  EFS_ENOSPC = 5,
  EFS_EBADF = 9,
  EFS_EACCES = 13,
  EFS_EEXIST = 17,
  EFS_ENOTDIR = 20,
  EFS_EISDIR = 21,
  EFS_EINVAL = 22,
  EFS_ETXTBSY = 26,
  EFS_ENOTEMPTY = 39,
};

class EfsTree {
 public:
  struct Node {
    bool directory = false;
    Bytes data;
  };
  struct Entry {
    std::string name;
    bool directory = false;
    uint32_t size = 0;
  };

  EfsTree();

  static std::string Canonical(const std::string& hostPath);

  void ApplyScenario(const Scenario& s);
  // "efs dir <path>" and "efs file <path> <size> <fnv-1a 64 hex>" lines, by path.
  void DumpState(std::ostream& out) const;
  // The usual folders: /VIZED/{Common,Internet,Media,Media/Images,Obigo,Pxo}, /brew, with a
  // few files.
  void FillDefault();

  // Fault set by the scenario for a canonical path (0 = none).
  uint32_t ForcedError(const std::string& path) const;
  bool QueryAnswered() const { return queryAnswered_; }

  // File system operations on canonical paths; results are EFS2 error numbers.
  uint32_t MakeDirectory(const std::string& path);
  uint32_t RemoveDirectory(const std::string& path);
  uint32_t Unlink(const std::string& path);
  uint32_t Open(const std::string& path, uint32_t flags, int32_t& fd);
  uint32_t Write(int32_t fd, uint32_t offset, const uint8_t* data, size_t size);
  uint32_t Close(int32_t fd);
  uint32_t OpenDir(const std::string& path, uint32_t& handle);
  // Entry `sequence` (1-based) of an open listing; past the end an empty name.
  uint32_t ReadDir(uint32_t handle, uint32_t sequence, Entry& entry) const;
  uint32_t CloseDir(uint32_t handle);
  uint32_t Stat(const std::string& path, Node const*& node) const;
  // Removes everything below a directory, keeping the directory.
  uint32_t RemoveBelow(const std::string& path);

  const std::map<std::string, Node>& Nodes() const { return nodes_; }
  const Node* Find(const std::string& path) const;
  // Adds a file (and its missing parent folders) directly, for scenarios and tests.
  void PutFile(const std::string& path, const Bytes& data);
  void PutDirectory(const std::string& path);
  size_t OpenFiles() const { return openFiles_.size(); }
  // The path an open descriptor refers to ("" when it is not open).
  std::string OpenPath(int32_t fd) const;
  uint64_t DataBytes() const;
  // Whether `bytes` more bytes of file data fit under efs.capacity.
  bool HasRoomFor(uint64_t bytes) const;

  // Files and directories dropped on reboot: open descriptors and listings.
  void DropHandles();

 private:
  static std::string Parent(const std::string& path);
  std::vector<Entry> Children(const std::string& path) const;
  bool IsOpen(const std::string& path) const;

  std::map<std::string, Node> nodes_;
  std::map<std::string, uint32_t> errors_;
  std::set<std::string> refuseRmdir_;
  uint64_t capacity_ = 0;
  bool queryAnswered_ = true;
  bool dotEntries_ = false;
  std::map<int32_t, std::string> openFiles_;
  std::map<uint32_t, std::vector<Entry>> listings_;
  int32_t nextFd_ = 3;
  uint32_t nextHandle_ = 1;
};

}  // namespace vphone
