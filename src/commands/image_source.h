// Where the command clients read the images they write: by default the process-wide image
// store; a test or a tool may hand a client its own source instead.
#pragma once

#include <cstdint>
#include <functional>

#include "package/image_store.h"

namespace tr52 {

// One image as the commands see it. `data` stays valid while the download runs.
struct ImageView {
  bool loaded = false;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

using ImageSource = std::function<ImageView(ImageType)>;

// Reads the slot of `type` from the process-wide image store.
ImageView StoreImage(ImageType type);

}  // namespace tr52
