#include "commands/nand_requests.h"

#include <algorithm>

#include "base/byte_reader.h"

namespace tr52 {

namespace {

constexpr uint8_t kNandRamWrite = 0x01;
constexpr uint8_t kNandProgram = 0x21;
constexpr uint8_t kNandFinalizeF = 0x22;
constexpr uint8_t kNandEraseF = 0x24;
constexpr uint8_t kNandImageInit = 0x31;
constexpr uint8_t kNandSecMode = 0x48;
constexpr uint8_t kOpenPartitionTable = 0x40;
constexpr uint8_t kOpenMasterRom = 0x49;

constexpr int kOpenTimeoutMs = 70000;
constexpr int kShortTimeoutMs = 3000;

constexpr NandOpenForm kOpenForms[] = {
    {kOpenPartitionTable, 4, 512, 516, kOpenTimeoutMs},
    {0x44, 3, 512, 515, kOpenTimeoutMs},
    {0x45, 3, 512, 515, kShortTimeoutMs},
    {kOpenMasterRom, 9, 256, 265, kShortTimeoutMs},
};

}  // namespace

const NandOpenForm* NandOpenFormOf(uint8_t command) {
  for (const auto& form : kOpenForms)
    if (form.command == command) return &form;
  return nullptr;
}

std::vector<uint8_t> BuildNandSecMode(uint8_t secMode) {
  return {kNandSecMode, secMode};
}

std::vector<uint8_t> BuildNandOpenWithFile(uint8_t command, bool overrideFlag,
                                           std::span<const uint8_t> image) {
  const NandOpenForm* form = NandOpenFormOf(command);
  if (form == nullptr || image.size() > form->maxImage) return {};
  std::vector<uint8_t> r(form->length, 0);
  r[0] = command;
  if (command != kOpenMasterRom) {
    r[1] = 0x02;
    r[2] = 0x00;
  }
  if (command == kOpenPartitionTable) r[3] = overrideFlag ? 1 : 0;
  std::copy(image.begin(), image.end(), r.begin() + static_cast<ptrdiff_t>(form->dataOffset));
  return r;
}

std::vector<uint8_t> BuildNandImageInit(uint32_t code) {
  std::vector<uint8_t> r(5, 0);
  r[0] = kNandImageInit;
  StoreU32le(r.data() + 1, code);
  return r;
}

std::vector<uint8_t> BuildNandRamWrite(uint32_t target, uint16_t packetLength,
                                       std::span<const uint8_t> piece) {
  if (piece.size() > packetLength) return {};
  std::vector<uint8_t> r(6 + static_cast<size_t>(packetLength), 0);
  r[0] = kNandRamWrite;
  r[1] = static_cast<uint8_t>(target >> 16);
  r[2] = static_cast<uint8_t>(target >> 8);
  r[3] = static_cast<uint8_t>(target);
  StoreU16be(r.data() + 4, packetLength);
  std::copy(piece.begin(), piece.end(), r.begin() + 6);
  return r;
}

std::vector<uint8_t> BuildNandProgram(uint32_t address, uint32_t length) {
  std::vector<uint8_t> r(9, 0);
  r[0] = kNandProgram;
  StoreU32be(r.data() + 1, address);
  StoreU32be(r.data() + 5, length);
  return r;
}

std::vector<uint8_t> BuildNandFinalize() {
  return {kNandFinalizeF};
}

std::vector<uint8_t> BuildNandEraseEfs() {
  return {kNandEraseF};
}

}  // namespace tr52
