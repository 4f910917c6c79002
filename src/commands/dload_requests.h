// Requests and answers of the download-mode commands (the download protocol, the maker's
// extensions and the pipelined write), as bytes. Builders make the request payload (before
// framing); a builder whose inputs do not fit the request gives an empty request. Parsers read
// an answer payload with bounds checks and give nothing when it is too short.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tr52 {

// What GetParameters read (all zero before and after a failed read).
struct DloadParams {
  uint8_t valid = 0;
  uint8_t paramByte = 0;   // answer byte 2
  uint32_t paramWord = 0;  // answer bytes 35..38
  uint8_t flag0 = 0;       // bits 0..4 of answer byte 39
  uint8_t flag1 = 0;       // the phone offers the RAM download prepared by Dl_Init
  uint8_t flag2 = 0;
  uint8_t flag3 = 0;
  uint8_t flag4 = 0;
  uint8_t flag6 = 0;  // bit 6: the phone offers the RAM download prepared by Dl_Init_2nd
};

constexpr size_t kRamInitLength = 518;
constexpr size_t kRamInit2ndLength = 522;
constexpr size_t kRamWriteLength = 8200;
constexpr uint32_t kRamChunk = 8192;
constexpr uint32_t kModemHeaderMax = 512;

// Answer bytes each parser needs (the figure of a "short answer" log line).
constexpr size_t kParametersAnswerSize = 40;
constexpr size_t kCommModeAnswerSize = 6;
constexpr size_t kRamInitAnswerSize = 11;
constexpr size_t kRamWriteAnswerSize = 6;
constexpr size_t kRamProgramAnswerSize = 7;
constexpr size_t kAsyncAckSize = 15;

std::vector<uint8_t> BuildGetParameters();
std::vector<uint8_t> BuildGetCommMode();
// The AMSS size and the modem header (at most 512 bytes) at byte 6; 518 bytes.
std::vector<uint8_t> BuildRamInit(uint32_t amssSize, std::span<const uint8_t> header);
// Region, image size and (for AMSS) the modem header at byte 10; 522 bytes.
std::vector<uint8_t> BuildRamInit2nd(uint32_t region, uint32_t size,
                                     std::span<const uint8_t> header);
// One chunk (at most 8192 bytes) at `offset`; always 8200 bytes, zero after the chunk.
std::vector<uint8_t> BuildRamWrite(uint32_t offset, std::span<const uint8_t> chunk);
std::vector<uint8_t> BuildRamProgram();
std::vector<uint8_t> BuildVersionQuery();
// DLOAD_UNLOCK_F with the 8-byte code.
std::vector<uint8_t> BuildUnlock(std::span<const uint8_t, 8> code);
std::vector<uint8_t> BuildDloadReset();

// The 16 bytes before the data of a pipelined write packet: offset, packet length, sequence
// and kind (0 first, 1 next, 2 last).
constexpr size_t kAsyncHeaderLength = 16;
std::array<uint8_t, kAsyncHeaderLength> BuildAsyncWriteHeader(uint32_t offset, uint16_t length,
                                                              uint32_t sequence, uint32_t kind);

std::optional<DloadParams> ParseParameters(std::span<const uint8_t> answer);
std::optional<uint32_t> ParseCommMode(std::span<const uint8_t> answer);

// Answer of both RAM initialisations.
struct RamInitAnswer {
  uint32_t region = 0;
  uint32_t errorNumber = 0;
};
std::optional<RamInitAnswer> ParseRamInitAnswer(std::span<const uint8_t> answer);
// The error number of a RAM write answer.
std::optional<uint32_t> ParseRamWriteAnswer(std::span<const uint8_t> answer);
struct RamProgramAnswer {
  uint8_t nandError = 0;
  uint32_t errorNumber = 0;
};
std::optional<RamProgramAnswer> ParseRamProgramAnswer(std::span<const uint8_t> answer);

// The model name of a DLOAD_VERREQ_F answer: as many bytes as its length byte says. Nothing
// when the answer ends before them; ModelNameAnswerSize is then the reach it needed.
std::optional<std::string> ParseModelName(std::span<const uint8_t> answer);
size_t ModelNameAnswerSize(std::span<const uint8_t> answer);

// One acknowledgement of the pipelined write.
struct AsyncAck {
  uint32_t sequence = 0;
  uint32_t interval = 0;  // in a lost-packet acknowledgement: the lost packet
  uint32_t errorNumber = 0;
  uint8_t nandError = 0;
};
std::optional<AsyncAck> ParseAsyncAck(std::span<const uint8_t> answer);

}  // namespace tr52
