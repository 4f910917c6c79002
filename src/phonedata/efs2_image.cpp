#include "phonedata/efs2_image.h"

#include <cstring>
#include <new>

#include "base/byte_reader.h"
#include "base/printable_text.h"
#include "base/process_log.h"

namespace tr52 {

namespace {

constexpr uint8_t kModel[8] = {'T', 'R', '5', '2', 0, 0, 0, 0};

// One object at the reader's position: type, path and (for a file) a view of its contents.
// Every length is compared with what remains before it is used.
struct RawObject {
  uint32_t type = 0;
  std::string path;
  std::span<const uint8_t> contents;
};

bool ReadRawObject(ByteReader& in, RawObject& out) {
  auto tag = in.U32le();
  auto len = in.U32le();
  if (!tag || !len || *tag != kEfs2TagType || *len != 4) return false;
  auto type = in.U32le();
  if (!type) return false;
  out.type = *type;
  tag = in.U32le();
  len = in.U32le();
  if (!tag || !len || *tag != kEfs2TagPath || *len > CEfs2Image::kMaxPath) return false;
  auto path = in.FixedText(*len);  // a NUL inside the field ends the path
  if (!path) return false;
  out.path = std::move(*path);
  out.contents = {};
  if (out.type != CEfs2Image::kTypeFile) return true;
  tag = in.U32le();
  len = in.U32le();
  if (!tag || !len || *tag != kEfs2TagData) return false;
  auto data = in.View(*len);
  if (!data) return false;
  out.contents = *data;
  return true;
}

}  // namespace

bool IsProtectedMediaPath(const std::string& path) {
  return path.rfind(kProtectedMediaPrefix, 0) == 0;
}

bool CEfs2Image::Attach(const uint8_t* image, size_t length) {
  *this = CEfs2Image{};
  image_ = image;
  length_ = length;
  if (length == 0) return true;
  if (!image) return false;
  ByteReader in(image, length);
  if (!in.Bytes(header_.data(), kHeaderSize)) {
    Log("Error : Read Header Data ");
    return false;
  }
  const uint32_t magic = LoadU32le(header_.data());
  version_ = LoadU32le(header_.data() + 8);
  kind_ = LoadU32le(header_.data() + 36);
  const uint32_t countA = LoadU32le(header_.data() + 40);
  const uint32_t countB = LoadU32le(header_.data() + 44);
  const uint32_t descLength = LoadU32le(header_.data() + 48);
  if (version_ != kCurrentVersion)
    Log("* File Version : %d, Lastest Version : %d", static_cast<int>(version_),
        static_cast<int>(kCurrentVersion));
  if (version_ < kCurrentVersion)
    Log("CEfs2Image Class Version : %d - File Version : (%d)", static_cast<int>(kCurrentVersion),
        static_cast<int>(version_));
  if (std::memcmp(header_.data() + 28, kModel, sizeof kModel) != 0) {
    std::string model(reinterpret_cast<const char*>(header_.data() + 28), 8);
    model.resize(strnlen(model.c_str(), 8));
    Log("ERROR Compare Model Name with phone : %s and DLL : %s is FAIL",
        PrintableText(model).c_str(), "TR52");
    return false;
  }
  if (magic != kEfs2Magic || (kind_ != kEfs2KindMedia && kind_ != kEfs2KindModule)) return false;
  auto desc = in.View(descLength);
  if (!desc) return false;
  description_.assign(reinterpret_cast<const char*>(desc->data()), desc->size());
  if (version_ >= kCurrentVersion) {
    if (!in.Bytes(extension_.data(), kExtensionSize)) return false;
    if (LoadU32le(extension_.data()) != kEfs2TagExtension) return false;
  }
  const size_t first = in.Position();
  RawObject object;
  uint64_t walked = 0;
  while (!in.AtEnd()) {
    if (!ReadRawObject(in, object)) return false;
    ++walked;
  }
  firstObject_ = first;
  objectCount_ = static_cast<uint64_t>(countA) + countB;
  walkedObjects_ = walked;
  return true;
}

uint64_t CEfs2Image::ObjectCount() const {
  return objectCount_;
}

bool CEfs2Image::ReadObject(uint32_t& type, std::string& path, size_t& cursor,
                            std::unique_ptr<uint8_t[]>& data, size_t& size) const {
  data.reset();
  size = 0;
  if (!image_ || firstObject_ < kHeaderSize) return false;
  ByteReader in(image_, length_);
  if (!in.Seek(cursor == 0 ? firstObject_ : cursor)) return false;
  if (in.Position() < firstObject_) return false;
  RawObject object;
  if (!ReadRawObject(in, object)) return false;
  type = object.type;
  path = std::move(object.path);
  if (type == kTypeFile) {
    size = object.contents.size();
    // A buffer that cannot be had comes back empty with its size set: the caller reports it.
    data.reset(new (std::nothrow) uint8_t[size ? size : 1]);
    if (data && size) std::memcpy(data.get(), object.contents.data(), size);
  }
  cursor = in.Position();
  return true;
}

}  // namespace tr52
