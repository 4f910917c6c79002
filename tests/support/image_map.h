// Images a test hands a download client straight from memory, keyed by image type.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "commands/image_source.h"

namespace tr52test {

using ImageMap = std::map<int, std::vector<uint8_t>>;

// Reads `images`, which must outlive the source; a type not in the map has no image.
inline tr52::ImageSource ImagesFrom(const ImageMap& images) {
  return [&images](tr52::ImageType type) {
    const auto it = images.find(static_cast<int>(type));
    if (it == images.end()) return tr52::ImageView{};
    return tr52::ImageView{true, it->second.data(), static_cast<uint32_t>(it->second.size())};
  };
}

}  // namespace tr52test
