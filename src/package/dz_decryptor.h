// Deciphers the stored data of one enciphered sub file: RC4 keyed with the MD5 digest of the
// package pass phrase, the key stream restarting at every chunk.
//
// Since every chunk starts the key stream afresh, every chunk is XORed with the same bytes: the
// key stream is made once, as long as the longest chunk asked for, and applied from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/crypto.h"

namespace tr52 {

class DzDecryptor {
 public:
  DzDecryptor();
  // Deciphers one chunk in place, from the start of the key stream.
  void DecryptChunk(uint8_t* data, size_t size);
  // The same transformation; the package writer enciphers with it.
  void EncryptChunk(uint8_t* data, size_t size) { DecryptChunk(data, size); }

 private:
  Rc4 rc4_;
  std::vector<uint8_t> keyStream_;  // the first keyStream_.size() bytes of the key stream
};

}  // namespace tr52
