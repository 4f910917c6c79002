#include "platform/crypto.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>

#include <vector>

namespace tr52 {

struct Md5::State {
  md5_ctx ctx;
};

Md5::Md5() : state_(std::make_unique<State>()) {
  md5_init(&state_->ctx);
}
Md5::~Md5() = default;

void Md5::Update(const void* data, size_t size) {
  if (size) md5_update(&state_->ctx, size, static_cast<const uint8_t*>(data));
}

Md5Digest Md5::Final() {
  Md5Digest d{};
  md5_digest(&state_->ctx, d.size(), d.data());  // also re-initialises the context
  return d;
}

Md5Digest Md5::Of(const void* data, size_t size) {
  Md5 m;
  m.Update(data, size);
  return m.Final();
}

struct Rc4::State {
  std::vector<uint8_t> key;
  arcfour_ctx initial;  // the schedule right after key set-up, copied on every Reset
  arcfour_ctx ctx;
};

Rc4::Rc4(const uint8_t* key, size_t keySize) : state_(std::make_unique<State>()) {
  state_->key.assign(key, key + keySize);
  arcfour_set_key(&state_->initial, keySize, key);
  state_->ctx = state_->initial;
}
Rc4::~Rc4() = default;

void Rc4::Reset() {
  state_->ctx = state_->initial;
}

void Rc4::Apply(uint8_t* data, size_t size) {
  if (size) arcfour_crypt(&state_->ctx, size, data, data);
}

std::string Md5Hex(const Md5Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : digest) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

}  // namespace tr52
