// Byte layout of the .dz firmware package, shared by the reader and the package writer.
//
// All integers are 32-bit little-endian; a magic is four ASCII bytes compared as one word.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tr52::dz {

constexpr uint32_t kMainMagic1 = 0x5854534D;    // "MSTX"
constexpr uint32_t kMainMagic2 = 0x5854454D;    // "METX"
constexpr uint32_t kSubMagic = 0x58545353;      // "SSTX"
constexpr uint32_t kOffsetMagic1 = 0x5854534F;  // "OSTX"
constexpr uint32_t kOffsetMagic2 = 0x58545345;  // "ESTX"

// Main header: 316 bytes at offset 0.
constexpr size_t kMainHeaderSize = 316;
constexpr size_t kMainVersion = 8;
constexpr size_t kMainModel = 24;
constexpr size_t kMainModelWidth = 276;  // up to the header digest
constexpr size_t kMainDigest = 300;      // MD5 of bytes 0..299

// Sub header: 196 bytes, followed by the stored data.
constexpr size_t kSubHeaderSize = 196;
constexpr size_t kSubEnciphered = 12;
constexpr size_t kSubStoredSize = 16;
constexpr size_t kSubName = 20;
constexpr size_t kSubNameWidth = 128;
constexpr size_t kSubTotalSize = 148;
constexpr size_t kSubPartIndex = 152;
constexpr size_t kSubImageDigest = 164;  // MD5 of the inflated data of this sub file
constexpr size_t kSubDigest = 180;       // MD5 of bytes 0..179

// Trailer: "OSTX", MD5 of the table, the table (count, entries, size word), "ESTX".
constexpr int32_t kMaxTableSize = 1024;
constexpr size_t kTrailerOverhead = 24;  // both magics and the digest; the table follows

// Stored data are copied, deciphered and read back in chunks of this size; the cipher's key
// stream restarts at every chunk.
constexpr size_t kChunkSize = 16384;

// Images at least this large are stored in parts of this size (version 3 and version 2).
constexpr uint32_t kPartSizeV3 = 0x5000000;
constexpr uint32_t kPartSizeV2 = 0xA000000;

// The pass phrase whose MD5 digest is the RC4 key of enciphered sub files.
constexpr char kPassPhrase[] = "cOrAlMoTh";

// The part size of a format version, 0 when that version never splits.
constexpr uint32_t PartSize(uint32_t version) {
  return version == 3 ? kPartSizeV3 : version == 2 ? kPartSizeV2 : 0;
}

}  // namespace tr52::dz
