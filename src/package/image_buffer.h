// An owned, growable byte buffer for whole firmware images.
//
// Images run to 80 MiB and more, so the buffer grows with realloc (large blocks are remapped,
// not copied) and new space is left uninitialised: every byte up to Size() has been written by
// whoever grew it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace tr52 {

class ImageBuffer {
 public:
  ImageBuffer() = default;
  ~ImageBuffer() { std::free(data_); }
  ImageBuffer(ImageBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  ImageBuffer& operator=(ImageBuffer&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Sets the size to n bytes, keeping the first min(n, size()) bytes; false (buffer unchanged)
  // when memory runs out.
  bool Resize(size_t n) {
    if (n == size_) return true;
    if (n == 0) {
      Clear();
      return true;
    }
    void* p = std::realloc(data_, n);
    if (!p) return false;
    data_ = static_cast<uint8_t*>(p);
    size_ = n;
    return true;
  }
  void Clear() {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
  }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace tr52
