#include "vphone/efs_tree.h"

#include <algorithm>
#include <cstdio>

#include "vphone/scenario.h"

namespace vphone {

namespace {

constexpr uint32_t kOpenCreate = 0x40;
constexpr uint32_t kOpenTruncate = 0x200;
// No file of the handset's flash is larger; an offset beyond it is answered "no space".
constexpr uint64_t kMaxFileSize = 256ull << 20;

uint64_t Fnv1a(const Bytes& data) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : data) {
    h ^= b;
    h *= 1099511628211ull;
  }
  return h;
}

Bytes Pattern(const std::string& seed, size_t size) {
  Bytes out(size);
  uint32_t x = 2166136261u;
  for (char c : seed) x = (x ^ static_cast<uint8_t>(c)) * 16777619u;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return out;
}

}  // namespace

EfsTree::EfsTree() {
  FillDefault();
}

std::string EfsTree::Canonical(const std::string& hostPath) {
  std::string p = hostPath;
  while (!p.empty() && (p.back() == '\n' || p.back() == '/')) p.pop_back();
  std::string out = "/";
  size_t start = 0;
  while (start <= p.size()) {
    size_t slash = p.find('/', start);
    if (slash == std::string::npos) slash = p.size();
    const std::string piece = p.substr(start, slash - start);
    if (!piece.empty()) {
      if (out.size() > 1) out += '/';
      out += piece;
    }
    start = slash + 1;
  }
  return out;
}

std::string EfsTree::Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

void EfsTree::FillDefault() {
  nodes_.clear();
  nodes_["/"] = Node{true, {}};
  for (const char* d :
       {"/VIZED", "/VIZED/Common", "/VIZED/Internet", "/VIZED/Media", "/VIZED/Media/Images",
        "/VIZED/Media/Sounds", "/VIZED/Obigo", "/VIZED/Pxo", "/brew", "/brew/mod"})
    nodes_[d] = Node{true, {}};
  for (const char* f : {"/VIZED/Common/config.dat", "/VIZED/Internet/bookmarks.txt",
                        "/VIZED/Media/Images/wallpaper.jpg", "/VIZED/Media/Images/photo1.jpg",
                        "/VIZED/Media/Sounds/ring.mid", "/VIZED/Obigo/cache.bin",
                        "/VIZED/Pxo/app.pxo", "/brew/mod/game.mod", "/brew/shared.dat"})
    nodes_[f] = Node{false, Pattern(f, 300 + std::string(f).size() * 13)};
}

void EfsTree::ApplyScenario(const Scenario& s) {
  if (ScenarioString(s, "efs.fill", "default") == "none") {
    nodes_.clear();
    nodes_["/"] = Node{true, {}};
  }
  for (const auto& [key, value] : s) {
    if (key.rfind("efs.error.", 0) == 0) {
      if (auto n = ParseInt(value)) errors_[Canonical(key.substr(10))] = static_cast<uint32_t>(*n);
    }
  }
  if (auto it = s.find("efs.refuse_rmdir"); it != s.end())
    refuseRmdir_.insert(Canonical(it->second));
  capacity_ =
      static_cast<uint64_t>(ScenarioInt(s, "efs.capacity", static_cast<int64_t>(capacity_)));
  queryAnswered_ = ScenarioBool(s, "efs.query", queryAnswered_);
  dotEntries_ = ScenarioBool(s, "efs.dot_entries", dotEntries_);
}

bool EfsTree::HasRoomFor(uint64_t bytes) const {
  return capacity_ == 0 || DataBytes() + bytes <= capacity_;
}

uint32_t EfsTree::ForcedError(const std::string& path) const {
  auto it = errors_.find(path);
  return it == errors_.end() ? 0 : it->second;
}

const EfsTree::Node* EfsTree::Find(const std::string& path) const {
  auto it = nodes_.find(path);
  return it == nodes_.end() ? nullptr : &it->second;
}

void EfsTree::PutDirectory(const std::string& path) {
  const std::string p = Canonical(path);
  if (p != "/") PutDirectory(Parent(p));
  nodes_[p].directory = true;
}

void EfsTree::PutFile(const std::string& path, const Bytes& data) {
  const std::string p = Canonical(path);
  PutDirectory(Parent(p));
  nodes_[p] = Node{false, data};
}

uint64_t EfsTree::DataBytes() const {
  uint64_t total = 0;
  for (const auto& [path, node] : nodes_) total += node.data.size();
  return total;
}

bool EfsTree::IsOpen(const std::string& path) const {
  for (const auto& [fd, p] : openFiles_)
    if (p == path) return true;
  return false;
}

std::vector<EfsTree::Entry> EfsTree::Children(const std::string& path) const {
  std::vector<Entry> out;
  const std::string prefix = path == "/" ? "/" : path + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    const std::string rest = it->first.substr(prefix.size());
    if (rest.empty() || rest.find('/') != std::string::npos) continue;
    out.push_back({rest, it->second.directory, static_cast<uint32_t>(it->second.data.size())});
  }
  return out;
}

uint32_t EfsTree::MakeDirectory(const std::string& path) {
  if (Find(path)) return EFS_EEXIST;
  const Node* parent = Find(Parent(path));
  if (!parent) return EFS_ENOENT;
  if (!parent->directory) return EFS_ENOTDIR;
  nodes_[path] = Node{true, {}};
  return EFS_OK;
}

uint32_t EfsTree::RemoveDirectory(const std::string& path) {
  const Node* node = Find(path);
  if (!node) return EFS_ENOENT;
  if (!node->directory) return EFS_ENOTDIR;
  if (path == "/" || refuseRmdir_.count(path)) return EFS_EACCES;
  if (!Children(path).empty()) return EFS_ENOTEMPTY;
  nodes_.erase(path);
  return EFS_OK;
}

uint32_t EfsTree::Unlink(const std::string& path) {
  const Node* node = Find(path);
  if (!node) return EFS_ENOENT;
  if (node->directory) return EFS_EISDIR;
  if (IsOpen(path)) return EFS_ETXTBSY;
  nodes_.erase(path);
  return EFS_OK;
}

uint32_t EfsTree::Open(const std::string& path, uint32_t flags, int32_t& fd) {
  fd = -1;
  Node* node = nodes_.count(path) ? &nodes_[path] : nullptr;
  if (node && node->directory) return EFS_EISDIR;
  if (!node) {
    if (!(flags & kOpenCreate)) return EFS_ENOENT;
    const Node* parent = Find(Parent(path));
    if (!parent) return EFS_ENOENT;
    if (!parent->directory) return EFS_ENOTDIR;
    node = &nodes_[path];
  }
  if (flags & kOpenTruncate) node->data.clear();
  fd = nextFd_++;
  openFiles_[fd] = path;
  return EFS_OK;
}

uint32_t EfsTree::Write(int32_t fd, uint32_t offset, const uint8_t* data, size_t size) {
  auto it = openFiles_.find(fd);
  if (it == openFiles_.end()) return EFS_EBADF;
  Node& node = nodes_[it->second];
  const uint64_t end = static_cast<uint64_t>(offset) + size;
  const uint64_t grow = end > node.data.size() ? end - node.data.size() : 0;
  if (end > kMaxFileSize || (capacity_ && DataBytes() + grow > capacity_)) return EFS_ENOSPC;
  if (end > node.data.size()) node.data.resize(end);
  std::copy(data, data + size, node.data.begin() + offset);
  return EFS_OK;
}

std::string EfsTree::OpenPath(int32_t fd) const {
  auto it = openFiles_.find(fd);
  return it == openFiles_.end() ? std::string() : it->second;
}

uint32_t EfsTree::Close(int32_t fd) {
  return openFiles_.erase(fd) ? EFS_OK : EFS_EBADF;
}

uint32_t EfsTree::OpenDir(const std::string& path, uint32_t& handle) {
  handle = 0;
  const Node* node = Find(path);
  if (!node) return EFS_ENOENT;
  if (!node->directory) return EFS_ENOTDIR;
  std::vector<Entry> entries;
  if (dotEntries_) {
    entries.push_back({".", true, 0});
    entries.push_back({"..", true, 0});
  }
  // The phone lists in its own order, not sorted: newest name first.
  auto children = Children(path);
  entries.insert(entries.end(), children.rbegin(), children.rend());
  handle = nextHandle_++;
  listings_[handle] = std::move(entries);
  return EFS_OK;
}

uint32_t EfsTree::ReadDir(uint32_t handle, uint32_t sequence, Entry& entry) const {
  entry = Entry{};
  auto it = listings_.find(handle);
  if (it == listings_.end()) return EFS_EBADF;
  if (sequence == 0) return EFS_EINVAL;
  if (sequence <= it->second.size()) entry = it->second[sequence - 1];
  return EFS_OK;
}

uint32_t EfsTree::CloseDir(uint32_t handle) {
  return listings_.erase(handle) ? EFS_OK : EFS_EBADF;
}

uint32_t EfsTree::Stat(const std::string& path, Node const*& node) const {
  node = Find(path);
  return node ? EFS_OK : EFS_ENOENT;
}

uint32_t EfsTree::RemoveBelow(const std::string& path) {
  const Node* node = Find(path);
  if (!node) return EFS_ENOENT;
  if (!node->directory) return EFS_ENOTDIR;
  const std::string prefix = path == "/" ? "/" : path + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end();) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    it = nodes_.erase(it);
  }
  return EFS_OK;
}

void EfsTree::DropHandles() {
  openFiles_.clear();
  listings_.clear();
}

void EfsTree::DumpState(std::ostream& out) const {
  char hash[24];
  for (const auto& [path, node] : nodes_) {
    if (node.directory) {
      out << "efs dir " << path << '\n';
    } else {
      std::snprintf(hash, sizeof hash, "%016llx",
                    static_cast<unsigned long long>(Fnv1a(node.data)));
      out << "efs file " << path << ' ' << node.data.size() << ' ' << hash << '\n';
    }
  }
}

}  // namespace vphone
