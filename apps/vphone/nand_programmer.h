// Download mode: the handset's NAND programmer. Security mode, the partition table, header and
// image opens, the classic write (RAM-write packets into a one-block buffer, then a program
// request that burns the block at a big-endian NAND address), finalize and EFS erase.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "vphone/download_context.h"
#include "vphone/responder.h"

namespace vphone {

// The handset's partitions as its image-open codes (0x31 + code) name them.
struct PartitionInfo {
  uint32_t code;
  const char* name;
  uint32_t start;
};
const PartitionInfo* FindPartitionByCode(uint32_t code);
// The partition that starts at a NAND address (null when none does).
const PartitionInfo* FindPartitionByStart(uint32_t start);

class NandProgrammer : public Responder {
 public:
  // RAM buffer of the programmer: one block, large enough for the 4 x 4224-byte geometry.
  static constexpr size_t kRamBlock = 16896;

  explicit NandProgrammer(DownloadContext& ctx) : ctx_(ctx) {}

  bool Handle(Mode mode, std::span<const uint8_t> request, Reply& reply) override;
  void ApplyScenario(const Scenario& s) override;
  void OnBoot(Mode mode) override;
  void DumpState(std::ostream& out) const override;

 private:
  Bytes OpenImage(const std::string& name, uint32_t start);
  Bytes PartitionTable(std::span<const uint8_t> req);
  Bytes Header(std::span<const uint8_t> req, size_t dataAt, const char* header, const char* image,
               uint32_t start);
  Bytes RamWrite(std::span<const uint8_t> req);
  Bytes Program(std::span<const uint8_t> req);

  DownloadContext& ctx_;

  bool partitionMismatch_ = false;
  int64_t failRamWrite_ = 0;
  int64_t failRamWriteCount_ = 1;
  int64_t failProgram_ = 0;
  bool eraseFail_ = false;

  std::array<uint8_t, kRamBlock> ram_{};
  std::string writing_;  // image the current classic write burns into (empty: none yet)
  int64_t ramWrites_ = 0;
  int64_t programs_ = 0;
  int finalizes_ = 0;
};

}  // namespace vphone
