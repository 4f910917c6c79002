#include "package/dz_decryptor.h"

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
  rc4_.Reset();
  rc4_.Apply(data, size);
}

}  // namespace tr52
