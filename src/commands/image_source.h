// Where the command clients read the images they write: the module's image catalogue in a
// download; a test or a tool may hand a client its own source instead.
#pragma once

#include <cstdint>
#include <functional>

#include "package/image_type.h"

namespace tr52 {

class ImageCatalogue;

// One image as the commands see it. `data` stays valid while the download runs.
struct ImageView {
  bool loaded = false;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

using ImageSource = std::function<ImageView(ImageType)>;

// Reads the slots of `catalogue`, which must outlive the source.
ImageSource ImagesOf(const ImageCatalogue& catalogue);

}  // namespace tr52
