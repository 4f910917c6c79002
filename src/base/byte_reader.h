// Bounds-checked reading and writing of little- and big-endian fields in byte buffers.
//
// Everything that comes from outside (phone answers, packages, EFS images, backup files) is
// parsed through these helpers instead of casting structs over buffers: a read past the end
// fails (returns false / nullopt) and never touches memory outside the span.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

namespace tr52 {

// Sequential reader over a span; every read checks what remains first.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteReader(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}

  size_t Position() const { return pos_; }
  size_t Size() const { return size_; }
  size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }

  [[nodiscard]] bool Seek(size_t pos) {
    if (pos > size_) return false;
    pos_ = pos;
    return true;
  }
  [[nodiscard]] bool Skip(size_t n) {
    if (n > Remaining()) return false;
    pos_ += n;
    return true;
  }

  std::optional<uint8_t> U8() {
    if (Remaining() < 1) return std::nullopt;
    return data_[pos_++];
  }
  std::optional<uint16_t> U16le() { return ReadLe<uint16_t>(); }
  std::optional<uint32_t> U32le() { return ReadLe<uint32_t>(); }
  std::optional<uint64_t> U64le() { return ReadLe<uint64_t>(); }
  std::optional<uint16_t> U16be() { return ReadBe<uint16_t>(); }
  std::optional<uint32_t> U32be() { return ReadBe<uint32_t>(); }

  // Copies n bytes out; false (and nothing consumed) when fewer remain.
  [[nodiscard]] bool Bytes(void* out, size_t n) {
    if (n > Remaining()) return false;
    if (n) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  // A view of the next n bytes, consumed; empty optional when fewer remain.
  std::optional<std::span<const uint8_t>> View(size_t n) {
    if (n > Remaining()) return std::nullopt;
    std::span<const uint8_t> v(data_ + pos_, n);
    pos_ += n;
    return v;
  }
  // A fixed-width text field: the characters up to the first NUL or the end of the field,
  // whichever comes first (a field without its NUL is taken up to its end only).
  std::optional<std::string> FixedText(size_t width) {
    if (width > Remaining()) return std::nullopt;
    const auto* p = reinterpret_cast<const char*>(data_ + pos_);
    pos_ += width;
    return std::string(p, strnlen(p, width));
  }

 private:
  template <typename T>
  std::optional<T> ReadLe() {
    if (Remaining() < sizeof(T)) return std::nullopt;
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
      v |= static_cast<T>(static_cast<T>(data_[pos_ + i]) << (8 * i));
    pos_ += sizeof(T);
    return v;
  }
  template <typename T>
  std::optional<T> ReadBe() {
    if (Remaining() < sizeof(T)) return std::nullopt;
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>((v << 8) | data_[pos_ + i]);
    pos_ += sizeof(T);
    return v;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Fixed-position helpers for buffers whose size the caller has already checked.
inline uint16_t LoadU16le(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU32le(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
// One 8-byte load from any alignment (hot loops: compiles to a single load on little-endian
// hosts).
inline uint64_t LoadU64le(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}
inline uint16_t LoadU16be(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t LoadU32be(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void StoreU16le(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32le(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreU16be(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void StoreU32be(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace tr52
