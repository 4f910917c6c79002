// Reader of an EFS image (merge file): directories and files with their phone paths and
// contents, to be replayed into the phone's EFS2 file system.
//
// Layout (little-endian). Header, 52 bytes:
//   0 "EFS2"   4 44   8 version (3 current)   12 time (8 x u16)   28 model "TR52" + 4 NUL
//   36 kind "MEDI" or "MODU"   40 count A   44 count B   48 L = description length
// then the description (L bytes), for version >= 3 a 48-byte block starting "EXTD", then the
// objects: "OBTY" 4 type (0 file, else directory), "OBPT" <=260 path, files: "OBDT" n data.
// The image ends exactly after its last object. Every length is checked against what remains.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tr52 {

constexpr uint32_t kEfs2Magic = 0x32534645;         // "EFS2"
constexpr uint32_t kEfs2KindMedia = 0x4944454D;     // "MEDI"
constexpr uint32_t kEfs2KindModule = 0x55444F4D;    // "MODU"
constexpr uint32_t kEfs2TagExtension = 0x44545845;  // "EXTD"
constexpr uint32_t kEfs2TagType = 0x5954424F;       // "OBTY"
constexpr uint32_t kEfs2TagPath = 0x5450424F;       // "OBPT"
constexpr uint32_t kEfs2TagData = 0x5444424F;       // "OBDT"

// Everything below this phone folder is spared when media protection is on.
constexpr const char* kProtectedMediaPrefix = "/VIZED/Media/Images/";
bool IsProtectedMediaPath(const std::string& path);

class CEfs2Image {
 public:
  static constexpr size_t kHeaderSize = 52;
  static constexpr size_t kExtensionSize = 48;
  static constexpr size_t kMaxPath = 260;
  static constexpr uint32_t kCurrentVersion = 3;
  static constexpr uint32_t kTypeFile = 0;

  // Attaches to `length` bytes at `image` (which stay owned by the caller and must outlive the
  // reader) and validates the whole image. A length of 0 is accepted and holds no objects.
  [[nodiscard]] bool Attach(const uint8_t* image, size_t length);

  // The two header counts added.
  uint64_t ObjectCount() const;

  // Reads the object at `cursor` (0 = the first object) and moves `cursor` behind it. For a
  // file, `data` receives a new buffer with the contents and `size` their length; for a
  // directory `data` is reset and `size` 0. Never reads past the image.
  [[nodiscard]] bool ReadObject(uint32_t& type, std::string& path, size_t& cursor,
                                std::unique_ptr<uint8_t[]>& data, size_t& size) const;

  uint32_t Version() const { return version_; }
  uint32_t Kind() const { return kind_; }
  const std::string& Description() const { return description_; }
  size_t FirstObjectPosition() const { return firstObject_; }
  size_t Length() const { return length_; }
  // Objects actually found by the validating walk (the header counts are not checked).
  uint64_t WalkedObjects() const { return walkedObjects_; }

 private:
  const uint8_t* image_ = nullptr;
  size_t length_ = 0;
  std::array<uint8_t, kHeaderSize> header_{};
  std::array<uint8_t, kExtensionSize> extension_{};
  std::string description_;
  uint32_t version_ = 0;
  uint32_t kind_ = 0;
  uint64_t objectCount_ = 0;
  uint64_t walkedObjects_ = 0;
  size_t firstObject_ = 0;  // 0 = unknown
};

}  // namespace tr52
