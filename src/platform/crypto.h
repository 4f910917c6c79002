// MD5 digests and the RC4 stream cipher (Nettle underneath).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tr52 {

using Md5Digest = std::array<uint8_t, 16>;

// Streaming MD5 (RFC 1321): Update any number of times, then Final.
class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  void Update(const void* data, size_t size);
  // The digest of everything fed so far; the object starts over afterwards.
  Md5Digest Final();

  static Md5Digest Of(const void* data, size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// RC4 with a fixed key. Reset() restarts the key stream from its beginning.
class Rc4 {
 public:
  Rc4(const uint8_t* key, size_t keySize);
  ~Rc4();
  Rc4(const Rc4&) = delete;
  Rc4& operator=(const Rc4&) = delete;

  void Reset();
  // Enciphers or deciphers in place (the same operation), continuing the key stream.
  void Apply(uint8_t* data, size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::string Md5Hex(const Md5Digest& digest);

}  // namespace tr52
