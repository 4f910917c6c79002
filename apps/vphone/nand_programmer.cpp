#include "vphone/nand_programmer.h"

#include <algorithm>
#include <cstdio>

#include "base/byte_reader.h"
#include "vphone/scenario.h"

namespace vphone {

namespace {

constexpr uint8_t kRamWriteCmd = 0x01;
constexpr uint8_t kProgramCmd = 0x21;
constexpr uint8_t kFinalizeCmd = 0x22;
constexpr uint8_t kEraseCmd = 0x24;
constexpr uint8_t kImageOpenCmd = 0x31;
constexpr uint8_t kPartitionCmd = 0x40;
constexpr uint8_t kPblOpenCmd = 0x41;
constexpr uint8_t kQcsblHdrOpenCmd = 0x42;
constexpr uint8_t kQcsblOpenCmd = 0x43;
constexpr uint8_t kOemsblHdrCmd = 0x44;
constexpr uint8_t kAmssHdrCmd = 0x45;
constexpr uint8_t kSecModeCmd = 0x48;
constexpr uint8_t kMasterRomHdrCmd = 0x49;
constexpr uint8_t kMakerCmd = 0x50;
constexpr uint8_t kSubH3gFlexOpen = 0x06;
constexpr uint8_t kSubAppsOpen = 0x0E;

constexpr uint8_t kErrPageTooBig = 6;
constexpr uint8_t kErrSecBadOrder = 44;

// Partition starts follow the host's NAND map where it gives one; the rest start at 1, as the
// host addresses them.
constexpr PartitionInfo kPartitions[] = {
    {5, "AMSS", 0x00030000},
    {6, "APPS", 1},
    {9, "EFS GANG", 0x01400000},
    {10, "APPSBL", 1},
    {11, "EFS GANG APPS", 1},
    {12, "WINCE", 1},
    {15, "DBL", 1},
    {16, "FSBL", 1},
    {17, "OSBL", 1},
    {21, "FLEXIBLE LOGO", 0x00010000},
};

}  // namespace

const PartitionInfo* FindPartitionByStart(uint32_t start) {
  if (start <= 1) return nullptr;  // 1 stands for "where the host puts it", not an address
  for (const auto& p : kPartitions)
    if (p.start == start) return &p;
  return nullptr;
}

const PartitionInfo* FindPartitionByCode(uint32_t code) {
  for (const auto& p : kPartitions)
    if (p.code == code) return &p;
  return nullptr;
}

void NandProgrammer::ApplyScenario(const Scenario& s) {
  partitionMismatch_ = ScenarioBool(s, "nand.partition_mismatch", partitionMismatch_);
  failRamWrite_ = ScenarioInt(s, "nand.fail_ram_write", failRamWrite_);
  failRamWriteCount_ = ScenarioInt(s, "nand.fail_ram_write_count", failRamWriteCount_);
  failProgram_ = ScenarioInt(s, "nand.fail_program", failProgram_);
  eraseFail_ = ScenarioBool(s, "nand.erase_fail", eraseFail_);
}

void NandProgrammer::OnBoot(Mode) {
  writing_.clear();
  ram_.fill(0);
}

bool NandProgrammer::Handle(Mode mode, std::span<const uint8_t> req, Reply& reply) {
  if (mode != Mode::Download || req.empty()) return false;
  auto answer = [&](Bytes b) {
    reply.frames.push_back(std::move(b));
    return true;
  };
  switch (req[0]) {
    case kSecModeCmd:
      if (req.size() != 2) return answer(DloadNak(0, kNakInvalidLen));
      if (req[1] > 1) return answer(DloadNak(1, kErrSecureBadMode));
      ctx_.secMode = req[1];
      return answer(DloadAck());
    case kPartitionCmd:
      return answer(PartitionTable(req));
    case kOemsblHdrCmd:
      return answer(Header(req, 3, "OEMSBL HEADER", "OEMSBL", 1));
    case kAmssHdrCmd:
      return answer(Header(req, 3, "AMSS MODEM HEADER", "AMSS", 0x00030000));
    case kMasterRomHdrCmd:
      return answer(Header(req, 9, "MASTER ROM HEADER", "MASTER ROM", 0xFFFFFFFE));
    case kPblOpenCmd:
      return answer(OpenImage("PBL", 1));
    case kQcsblHdrOpenCmd:
      return answer(OpenImage("QCSBL HEADER", 1));
    case kQcsblOpenCmd:
      return answer(OpenImage("QCSBL", 1));
    case kImageOpenCmd: {
      if (req.size() != 5) return answer(DloadNak(0, kNakInvalidLen));
      const PartitionInfo* p = FindPartitionByCode(tr52::LoadU32le(req.data() + 1));
      if (!p) return answer(DloadNak(1, kErrBadCmd));
      return answer(OpenImage(p->name, p->start));
    }
    case kMakerCmd:
      if (req.size() >= 2 && req[1] == kSubH3gFlexOpen) return answer(OpenImage("H3G FLEX", 1));
      if (req.size() >= 2 && req[1] == kSubAppsOpen) return answer(OpenImage("APPS", 1));
      return false;
    case kRamWriteCmd:
      return answer(RamWrite(req));
    case kProgramCmd:
      return answer(Program(req));
    case kFinalizeCmd:
      ++finalizes_;
      writing_.clear();
      ctx_.openImage.clear();
      return answer(DloadAck());
    case kEraseCmd:
      if (eraseFail_) return answer(DloadNak(1, kErrEraseFail));
      ctx_.flash.EraseEfs();
      return answer(DloadAck());
    default:
      return false;
  }
}

Bytes NandProgrammer::OpenImage(const std::string& name, uint32_t start) {
  ctx_.openImage = name;
  ctx_.openStart = start;
  writing_.clear();
  return DloadAck();
}

// 0x40 0x02 0x00 <override flag> <table>. The programmer refuses a table that differs from the
// one in flash unless the override flag is set.
Bytes NandProgrammer::PartitionTable(std::span<const uint8_t> req) {
  if (req.size() < 4 || req[1] != 0x02) return DloadNak(0, kNakInvalidLen);
  if (ctx_.secMode < 0) return DloadNak(1, kErrSecBadOrder);
  auto table = req.subspan(4);
  bool override = req[3] != 0;
  auto stored = ctx_.flash.Find("PARTITION TBL");
  bool differs =
      stored && !std::equal(stored->data.begin(), stored->data.end(), table.begin(), table.end());
  if (!override && (partitionMismatch_ || differs)) return DloadNak(1, kErrPartiNoMatch);
  ctx_.flash.Put("PARTITION TBL", 0, FlashMethod::Header, table);
  return DloadAck();
}

Bytes NandProgrammer::Header(std::span<const uint8_t> req, size_t dataAt, const char* header,
                             const char* image, uint32_t start) {
  if (req.size() < dataAt) return DloadNak(0, kNakInvalidLen);
  ctx_.flash.Put(header, 0, FlashMethod::Header, req.subspan(dataAt));
  return OpenImage(image, start);
}

// 0x01, 24-bit big-endian target offset, 16-bit big-endian size, data.
Bytes NandProgrammer::RamWrite(std::span<const uint8_t> req) {
  tr52::ByteReader r(req);
  (void)r.Skip(1);  // an empty request fails the reads below and is refused there
  auto hi = r.U8();
  auto lo = r.U16be();
  auto size = r.U16be();
  if (!hi || !lo || !size || r.Remaining() != *size) return DloadNak(0, kNakInvalidLen);
  uint32_t target = (static_cast<uint32_t>(*hi) << 16) | *lo;
  if (target + *size > kRamBlock) return DloadNak(1, kErrPageTooBig);
  ++ramWrites_;
  if (failRamWrite_ > 0 && ramWrites_ >= failRamWrite_ &&
      (failRamWriteCount_ < 0 || ramWrites_ < failRamWrite_ + failRamWriteCount_))
    return DloadNak(1, kErrWriteFail);
  std::copy(req.begin() + 6, req.end(), ram_.begin() + target);
  return DloadAck();
}

// 0x21, NAND address and byte count, both 32-bit big-endian: burns the first `count` bytes of
// the RAM block.
Bytes NandProgrammer::Program(std::span<const uint8_t> req) {
  if (req.size() != 9) return DloadNak(0, kNakInvalidLen);
  uint32_t address = tr52::LoadU32be(req.data() + 1);
  uint32_t count = tr52::LoadU32be(req.data() + 5);
  if (count > kRamBlock) return DloadNak(1, kErrPageTooBig);
  ++programs_;
  if (failProgram_ > 0 && programs_ == failProgram_) return DloadNak(1, kErrWriteFail);
  if (writing_.empty()) {
    if (!ctx_.openImage.empty()) {
      writing_ = ctx_.openImage;
    } else if (const PartitionInfo* p = FindPartitionByStart(address)) {
      // Without an open image the programmer writes by address: a write at a partition's
      // start fills that partition.
      writing_ = p->name;
    } else {
      char name[32];
      std::snprintf(name, sizeof name, "NAND 0x%08X", address);
      writing_ = name;
    }
    ctx_.flash.Begin(writing_, address, FlashMethod::Classic);
  }
  if (!ctx_.flash.Write(writing_, address, std::span(ram_.data(), count)))
    return DloadNak(1, kErrPastNandEnd);
  return DloadAck();
}

void NandProgrammer::DumpState(std::ostream& out) const {
  out << "nand sec_mode " << ctx_.secMode << "\n"
      << "nand open_image \"" << ctx_.openImage << "\"\n"
      << "nand ram_writes " << ramWrites_ << "\n"
      << "nand programs " << programs_ << "\n"
      << "nand finalizes " << finalizes_ << "\n";
}

}  // namespace vphone
