#include "package_images.h"

#include "package/dz_archive.h"
#include "package/image_store.h"

namespace station {

std::optional<std::map<std::string, uint64_t>> PackageImageSizes(const std::string& path,
                                                                 std::string& error) {
  tr52::DzArchive archive;
  if (!archive.Open(path)) {
    error = archive.LastError();
    return std::nullopt;
  }
  std::map<std::string, uint64_t> sizes;
  for (const tr52::DzEntry& entry : archive.Entries()) {
    tr52::DzSubHeader header;
    if (!archive.ReadSubHeaderAt(entry.offset, header)) {
      error = archive.LastError();
      return std::nullopt;
    }
    // Every part of a split image announces the whole image's size; part 0 stands for it.
    if (header.partIndex != 0) continue;
    sizes[tr52::ImageTypeName(static_cast<int>(entry.key))] = header.totalSize;
  }
  return sizes;
}

}  // namespace station
