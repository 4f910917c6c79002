// The phone's NAND as the tests see it: which image was programmed where and by which method,
// reassembled per image, with a SHA-256 per image in the dump.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "vphone/responder.h"

namespace vphone {

enum class FlashMethod { Classic, RamDownload, Pipelined, Header };
const char* FlashMethodName(FlashMethod m);

struct FlashImage {
  std::string name;
  uint32_t start = 0;  // NAND address of byte 0
  FlashMethod method = FlashMethod::Classic;
  Bytes data;
  uint32_t writes = 0;  // program operations that went into it
};

// Thread-safe: the phone thread writes, tests read copies.
class FlashStore {
 public:
  // Largest image the store keeps; writes past it are refused (the NAND would end there).
  static constexpr uint32_t kMaxImageBytes = 256u << 20;

  // Starts a fresh copy of `name` (an image programmed again replaces the old one).
  void Begin(const std::string& name, uint32_t start, FlashMethod method);
  // Writes bytes at a NAND address (32-bit arithmetic, as the programmer counts) into the
  // image begun last under `name`; false when no such image was begun or the bytes would
  // land before its start or beyond kMaxImageBytes.
  bool Write(const std::string& name, uint32_t address, std::span<const uint8_t> data);
  // Begin + Write in one (headers and tables that arrive whole).
  void Put(const std::string& name, uint32_t start, FlashMethod method,
           std::span<const uint8_t> data);
  void EraseEfs();

  std::optional<FlashImage> Find(const std::string& name) const;
  std::vector<std::string> Names() const;
  int EfsErasures() const;
  // Changes whenever the EFS (where the NV items live) is written or erased.
  uint64_t EfsGeneration() const;
  // One line per image, sorted by name: flash "<name>" method <m> start 0x%08X size <n>
  // sha256 <hex>; then "flash efs_erasures <n>".
  void Dump(std::ostream& out) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, FlashImage> images_;
  int efsErasures_ = 0;
  uint64_t efsGeneration_ = 0;
};

std::string Sha256Hex(std::span<const uint8_t> data);

}  // namespace vphone
