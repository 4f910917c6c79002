#include "package/dz_decryptor.h"

#include <algorithm>
#include <cstring>

#include "package/dz_format.h"

namespace tr52 {

namespace {
Md5Digest PassPhraseKey() {
  return Md5::Of(dz::kPassPhrase, std::strlen(dz::kPassPhrase));
}
}  // namespace

DzDecryptor::DzDecryptor() : rc4_(PassPhraseKey().data(), 16) {}

void DzDecryptor::DecryptChunk(uint8_t* data, size_t size) {
  if (size > keyStream_.size()) {
    // The key stream is RC4 applied to zeros; a package's chunks need dz::kChunkSize of it.
    keyStream_.assign(std::max(size, dz::kChunkSize), 0);
    rc4_.Reset();
    rc4_.Apply(keyStream_.data(), keyStream_.size());
  }
  const uint8_t* key = keyStream_.data();
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t d, k;
    std::memcpy(&d, data + i, 8);
    std::memcpy(&k, key + i, 8);
    d ^= k;
    std::memcpy(data + i, &d, 8);
  }
  for (; i < size; ++i) data[i] ^= key[i];
}

}  // namespace tr52
