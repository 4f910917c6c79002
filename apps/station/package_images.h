// The image sizes of a .dz package, read from its sub headers without extracting anything.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace station {

// Image type name ("AMSS", "EFS GANG", ...) → the image's size in bytes (the whole image, also
// when the package stores it in parts). nullopt when the package cannot be read; `error` then
// says why.
std::optional<std::map<std::string, uint64_t>> PackageImageSizes(const std::string& path,
                                                                 std::string& error);

}  // namespace station
