// Builds EFS images (merge files) for packages, tests and the demo; the plug-in itself only
// reads them (CEfs2Image).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "phonedata/efs2_image.h"

namespace tr52 {

class Efs2ImageWriter {
 public:
  // kind: kEfs2KindMedia or kEfs2KindModule; version 3 writes the "EXTD" block, lower ones not.
  explicit Efs2ImageWriter(uint32_t kind = kEfs2KindMedia, uint32_t version = 3,
                           std::string model = "TR52");

  void SetDescription(std::string text) { description_ = std::move(text); }
  void AddDirectory(const std::string& phonePath);
  void AddFile(const std::string& phonePath, const std::vector<uint8_t>& contents);

  size_t DirectoryCount() const { return directories_; }
  size_t FileCount() const { return files_; }

  // The whole image: header (count A = directories, count B = files), description, extension
  // and the objects in the order they were added.
  std::vector<uint8_t> Build() const;

 private:
  uint32_t kind_;
  uint32_t version_;
  std::string model_;
  std::string description_;
  std::vector<uint8_t> objects_;
  size_t directories_ = 0;
  size_t files_ = 0;
};

}  // namespace tr52
