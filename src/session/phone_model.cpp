#include "session/phone_model.h"

#include <algorithm>
#include <cctype>

#include "package/image_type.h"

namespace tr52 {

bool IsEmergencyModelName(const std::string& name) {
  return name.size() >= 2 && std::toupper(static_cast<unsigned char>(name[0])) == 'K' &&
         std::toupper(static_cast<unsigned char>(name[1])) == 'W';
}

std::string ModelFromEmergencyName(const std::string& name) {
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos || slash <= 3) return std::string();
  return name.substr(3, slash - 3);
}

bool IsDownloadedModel(const std::string& model) {
  std::string upper = model;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper == kModelCode;
}

}  // namespace tr52
