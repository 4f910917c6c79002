#include "vphone/flash_store.h"

#include <nettle/sha2.h>

#include <cstdio>

namespace vphone {

const char* FlashMethodName(FlashMethod m) {
  switch (m) {
    case FlashMethod::Classic:
      return "classic";
    case FlashMethod::RamDownload:
      return "ram";
    case FlashMethod::Pipelined:
      return "pipelined";
    case FlashMethod::Header:
      return "header";
  }
  return "?";
}

std::string Sha256Hex(std::span<const uint8_t> data) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  sha256_update(&ctx, data.size(), data.data());
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof digest, digest);
  std::string hex;
  char b[3];
  for (uint8_t d : digest) {
    std::snprintf(b, sizeof b, "%02x", d);
    hex += b;
  }
  return hex;
}

namespace {
bool IsEfsImage(const std::string& name) {
  return name == "EFS GANG" || name == "EFS GANG APPS";
}
}  // namespace

void FlashStore::Begin(const std::string& name, uint32_t start, FlashMethod method) {
  std::lock_guard lock(mutex_);
  images_[name] = FlashImage{name, start, method, {}, 0};
  if (IsEfsImage(name)) ++efsGeneration_;
}

bool FlashStore::Write(const std::string& name, uint32_t address, std::span<const uint8_t> data) {
  std::lock_guard lock(mutex_);
  auto it = images_.find(name);
  if (it == images_.end()) return false;
  FlashImage& img = it->second;
  // Offset in 32-bit arithmetic: an image whose start is near the top of the address space
  // wraps, as the programmer's own address counter does.
  uint32_t offset = address - img.start;
  if (offset > kMaxImageBytes || data.size() > kMaxImageBytes - offset) return false;
  size_t end = static_cast<size_t>(offset) + data.size();
  if (img.data.size() < end) img.data.resize(end, 0xFF);  // erased NAND reads 0xFF
  std::copy(data.begin(), data.end(), img.data.begin() + offset);
  ++img.writes;
  return true;
}

void FlashStore::Put(const std::string& name, uint32_t start, FlashMethod method,
                     std::span<const uint8_t> data) {
  std::lock_guard lock(mutex_);
  images_[name] = FlashImage{name, start, method, Bytes(data.begin(), data.end()), 1};
  if (IsEfsImage(name)) ++efsGeneration_;
}

void FlashStore::EraseEfs() {
  std::lock_guard lock(mutex_);
  images_.erase("EFS GANG");
  ++efsErasures_;
  ++efsGeneration_;
}

uint64_t FlashStore::EfsGeneration() const {
  std::lock_guard lock(mutex_);
  return efsGeneration_;
}

std::optional<FlashImage> FlashStore::Find(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = images_.find(name);
  if (it == images_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> FlashStore::Names() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& [name, img] : images_) names.push_back(name);
  return names;
}

int FlashStore::EfsErasures() const {
  std::lock_guard lock(mutex_);
  return efsErasures_;
}

void FlashStore::Dump(std::ostream& out) const {
  std::lock_guard lock(mutex_);
  char start[16];
  for (const auto& [name, img] : images_) {
    std::snprintf(start, sizeof start, "0x%08X", img.start);
    out << "flash \"" << name << "\" method " << FlashMethodName(img.method) << " start " << start
        << " size " << img.data.size() << " sha256 " << Sha256Hex(img.data) << "\n";
  }
  out << "flash efs_erasures " << efsErasures_ << "\n";
}

}  // namespace vphone
