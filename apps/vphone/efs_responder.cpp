#include "vphone/efs_responder.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/byte_reader.h"

namespace vphone {

namespace {

constexpr uint8_t kSubsys = 0x4B;
constexpr uint8_t kEfsSubsystem = 0x13;

enum : uint16_t {
  kOpen = 2,
  kClose = 3,
  kWrite = 5,
  kUnlink = 8,
  kMkdir = 9,
  kRmdir = 10,
  kOpendir = 11,
  kReaddir = 12,
  kClosedir = 13,
  kStat = 15,
  kRmfiles = 50,
  kQuery = 51,
};

// A NUL-terminated path at `offset`; nullopt when the request has no NUL there.
std::optional<std::string> PathAt(std::span<const uint8_t> req, size_t offset) {
  if (offset >= req.size()) return std::nullopt;
  const auto* begin = req.data() + offset;
  const auto* end = static_cast<const uint8_t*>(std::memchr(begin, 0, req.size() - offset));
  if (!end) return std::nullopt;
  return EfsTree::Canonical(std::string(reinterpret_cast<const char*>(begin), end - begin));
}

Bytes Answer(std::span<const uint8_t> req, size_t size) {
  Bytes out(size, 0);
  std::copy(req.begin(), req.begin() + 4, out.begin());
  return out;
}

void Put(Bytes& out, size_t at, uint32_t v) {
  tr52::StoreU32le(out.data() + at, v);
}

Bytes BadLength(std::span<const uint8_t> req) {
  Bytes out{0x15};
  out.insert(out.end(), req.begin(), req.begin() + std::min<size_t>(req.size(), 16));
  return out;
}

}  // namespace

long EfsResponder::Count(uint16_t command) const {
  auto it = counts_.find(command);
  return it == counts_.end() ? 0 : it->second;
}

bool EfsResponder::Handle(Mode mode, std::span<const uint8_t> req, Reply& reply) {
  if (mode != Mode::Normal || req.size() < 4 || req[0] != kSubsys || req[1] != kEfsSubsystem)
    return false;
  const uint16_t cmd = tr52::LoadU16le(req.data() + 2);
  ++counts_[cmd];
  auto path = [&](size_t offset) { return PathAt(req, offset); };
  auto u32 = [&](size_t offset) { return tr52::LoadU32le(req.data() + offset); };
  // An error the scenario sets for the path wins over what the tree would say.
  auto forced = [&](const std::string& p) { return tree_.ForcedError(p); };

  switch (cmd) {
    case kOpen: {
      auto p = req.size() >= 13 ? path(12) : std::nullopt;
      if (!p) break;
      Bytes out = Answer(req, 12);
      int32_t fd = -1;
      uint32_t err = forced(*p);
      if (!err) err = tree_.Open(*p, u32(4), fd);
      Put(out, 4, static_cast<uint32_t>(err ? -1 : fd));
      Put(out, 8, err);
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kClose: {
      if (req.size() < 8) break;
      Bytes out = Answer(req, 8);
      Put(out, 4, tree_.Close(static_cast<int32_t>(u32(4))));
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kWrite: {
      if (req.size() < 12) break;
      const auto fd = static_cast<int32_t>(u32(4));
      const uint32_t offset = u32(8);
      const size_t size = req.size() - 12;
      Bytes out = Answer(req, 20);
      Put(out, 4, static_cast<uint32_t>(fd));
      Put(out, 8, offset);
      // A fault set for the open file's path applies to its writes too.
      uint32_t err = forced(tree_.OpenPath(fd));
      if (!err) err = tree_.Write(fd, offset, req.data() + 12, size);
      Put(out, 12, err ? 0 : static_cast<uint32_t>(size));
      Put(out, 16, err);
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kUnlink:
    case kRmdir:
    case kRmfiles: {
      auto p = path(4);
      if (!p) break;
      Bytes out = Answer(req, 8);
      uint32_t err = forced(*p);
      if (!err) {
        err = cmd == kUnlink  ? tree_.Unlink(*p)
              : cmd == kRmdir ? tree_.RemoveDirectory(*p)
                              : tree_.RemoveBelow(*p);
      }
      Put(out, 4, err);
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kMkdir: {
      auto p = req.size() >= 7 ? path(6) : std::nullopt;
      if (!p) break;
      Bytes out = Answer(req, 8);
      uint32_t err = forced(*p);
      if (!err) err = tree_.MakeDirectory(*p);
      Put(out, 4, err);
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kOpendir: {
      auto p = path(4);
      if (!p) break;
      Bytes out = Answer(req, 12);
      uint32_t handle = 0;
      uint32_t err = forced(*p);
      if (!err) err = tree_.OpenDir(*p, handle);
      Put(out, 4, handle);
      Put(out, 8, err);
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kReaddir: {
      if (req.size() < 12) break;
      EfsTree::Entry entry;
      const uint32_t err = tree_.ReadDir(u32(4), u32(8), entry);
      Bytes out = Answer(req, 40 + entry.name.size() + 1);
      Put(out, 4, u32(4));
      Put(out, 8, u32(8));
      Put(out, 12, err);
      Put(out, 16, entry.directory ? 1 : 0);
      Put(out, 20, entry.directory ? 040755 : 0100644);
      Put(out, 24, entry.size);
      Put(out, 28, 1258416000);
      Put(out, 32, 1258416000);
      Put(out, 36, 1258416000);
      std::copy(entry.name.begin(), entry.name.end(), out.begin() + 40);
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kClosedir: {
      if (req.size() < 8) break;
      Bytes out = Answer(req, 8);
      Put(out, 4, tree_.CloseDir(u32(4)));
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kStat: {
      auto p = path(4);
      if (!p) break;
      Bytes out = Answer(req, 32);
      const EfsTree::Node* node = nullptr;
      uint32_t err = forced(*p);
      if (!err) err = tree_.Stat(*p, node);
      Put(out, 4, err);
      if (!err && node) {
        Put(out, 8, node->directory ? 040755 : 0100644);
        Put(out, 12, static_cast<uint32_t>(node->data.size()));
        Put(out, 16, 1);
        Put(out, 20, 1258416000);
        Put(out, 24, 1258416000);
        Put(out, 28, 1258416000);
      }
      reply.frames.push_back(std::move(out));
      return true;
    }
    case kQuery: {
      if (!tree_.QueryAnswered()) {
        reply.frames.push_back({0x13, req[0], req[1], req[2], req[3]});
        return true;
      }
      Bytes out = Answer(req, 40);
      Put(out, 4, 80);     // longest name
      Put(out, 8, 1024);   // longest path
      Put(out, 12, 4096);  // largest write
      reply.frames.push_back(std::move(out));
      return true;
    }
    default:
      reply.frames.push_back({0x13, req[0], req[1], req[2], req[3]});
      return true;
  }
  reply.frames.push_back(BadLength(req));
  return true;
}

}  // namespace vphone
