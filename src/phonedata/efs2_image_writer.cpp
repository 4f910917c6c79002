#include "phonedata/efs2_image_writer.h"

#include <array>
#include <cstring>

#include "base/byte_reader.h"

namespace tr52 {

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  const size_t at = out.size();
  out.resize(at + 4);
  StoreU32le(out.data() + at, v);
}

void PutField(std::vector<uint8_t>& out, uint32_t tag, const uint8_t* data, size_t size) {
  PutU32(out, tag);
  PutU32(out, static_cast<uint32_t>(size));
  out.insert(out.end(), data, data + size);
}

void PutObjectHead(std::vector<uint8_t>& out, uint32_t type, const std::string& path) {
  uint8_t typeBytes[4];
  StoreU32le(typeBytes, type);
  PutField(out, kEfs2TagType, typeBytes, 4);
  PutField(out, kEfs2TagPath, reinterpret_cast<const uint8_t*>(path.data()), path.size());
}

}  // namespace

Efs2ImageWriter::Efs2ImageWriter(uint32_t kind, uint32_t version, std::string model)
    : kind_(kind), version_(version), model_(std::move(model)) {}

void Efs2ImageWriter::AddDirectory(const std::string& phonePath) {
  PutObjectHead(objects_, 1, phonePath);
  ++directories_;
}

void Efs2ImageWriter::AddFile(const std::string& phonePath, const std::vector<uint8_t>& contents) {
  PutObjectHead(objects_, CEfs2Image::kTypeFile, phonePath);
  PutField(objects_, kEfs2TagData, contents.data(), contents.size());
  ++files_;
}

std::vector<uint8_t> Efs2ImageWriter::Build() const {
  // The header is filled in a fixed array first and appended whole.
  std::array<uint8_t, CEfs2Image::kHeaderSize> header{};
  uint8_t* h = header.data();
  StoreU32le(h, kEfs2Magic);
  StoreU32le(h + 4, 44);
  StoreU32le(h + 8, version_);
  const uint16_t time[8] = {2009, 11, 2, 17, 12, 0, 0, 0};
  for (int i = 0; i < 8; ++i) StoreU16le(h + 12 + 2 * i, time[i]);
  std::memcpy(h + 28, model_.data(), std::min<size_t>(model_.size(), 8));
  StoreU32le(h + 36, kind_);
  StoreU32le(h + 40, static_cast<uint32_t>(directories_));
  StoreU32le(h + 44, static_cast<uint32_t>(files_));
  StoreU32le(h + 48, static_cast<uint32_t>(description_.size()));

  std::array<uint8_t, CEfs2Image::kExtensionSize> ext{};
  StoreU32le(ext.data(), kEfs2TagExtension);
  const size_t extSize = version_ >= CEfs2Image::kCurrentVersion ? ext.size() : 0;

  // Sized once and filled by copies: header, description, extension, objects.
  std::vector<uint8_t> out(header.size() + description_.size() + extSize + objects_.size());
  size_t at = 0;
  auto append = [&](const void* data, size_t n) {
    if (n) std::memcpy(out.data() + at, data, n);
    at += n;
  };
  append(header.data(), header.size());
  append(description_.data(), description_.size());
  append(ext.data(), extSize);
  append(objects_.data(), objects_.size());
  return out;
}

}  // namespace tr52
