#include "commands/image_source.h"

namespace tr52 {

ImageView StoreImage(ImageType type) {
  ImageView view;
  view.loaded = IsImageLoaded(type);
  view.data = ImageData(type);
  view.size = view.data != nullptr ? ImageSize(type) : 0;
  return view;
}

}  // namespace tr52
