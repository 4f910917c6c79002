// Requests of the NAND programmer, as bytes. Builders make the request payload (before
// framing); a builder whose inputs do not fit the request gives an empty request. The
// programmer's answers carry nothing but their acceptance, which the link classifies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tr52 {

// The open request that carries an image, per command byte: where the image goes, how much of
// it fits, the request's length and the wait for its answer.
struct NandOpenForm {
  uint8_t command;
  size_t dataOffset;
  uint32_t maxImage;
  size_t length;
  int timeoutMs;
};
// The form of `command`; null for a command that carries no image.
const NandOpenForm* NandOpenFormOf(uint8_t command);

// DLOAD_NAND_SEC_MODE: 1 trusted, 0 non-trusted.
std::vector<uint8_t> BuildNandSecMode(uint8_t secMode);
// An open with the image in the request (partition table 0x40 with its override flag, headers
// 0x44 / 0x45, master ROM 0x49). Empty for an unknown command or an image that does not fit.
std::vector<uint8_t> BuildNandOpenWithFile(uint8_t command, bool overrideFlag,
                                           std::span<const uint8_t> image);
std::vector<uint8_t> BuildNandImageInit(uint32_t code);
// A RAM write of one packet: the 24-bit target offset in the block and the packet length big
// endian, then the piece (at most `packetLength` bytes, zero after it); 6 + packetLength bytes.
std::vector<uint8_t> BuildNandRamWrite(uint32_t target, uint16_t packetLength,
                                       std::span<const uint8_t> piece);
// Programs `length` bytes of RAM at NAND address `address` (both big endian).
std::vector<uint8_t> BuildNandProgram(uint32_t address, uint32_t length);
std::vector<uint8_t> BuildNandFinalize();
std::vector<uint8_t> BuildNandEraseEfs();

}  // namespace tr52
