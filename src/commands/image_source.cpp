#include "commands/image_source.h"

#include "package/image_catalogue.h"

namespace tr52 {

ImageSource ImagesOf(const ImageCatalogue& catalogue) {
  return [&catalogue](ImageType type) {
    ImageView view;
    view.loaded = catalogue.IsImageLoaded(type);
    view.data = catalogue.ImageData(type);
    view.size = view.data != nullptr ? catalogue.ImageSize(type) : 0;
    return view;
  };
}

}  // namespace tr52
