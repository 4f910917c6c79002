#include "renderer_choice.h"

namespace station {
namespace {

// True when `debug` (flags separated by commas, colons, semicolons or spaces) has a flag about
// OpenGL ("gl-disable", "gl-gles", "opengl"...): the user is looking at GL and keeps it as set.
bool MentionsGl(const std::string& debug) {
  size_t start = 0;
  while (start <= debug.size()) {
    const size_t end = debug.find_first_of(",:; ", start);
    const std::string flag = debug.substr(start, end == std::string::npos ? end : end - start);
    if (flag == "gl" || flag.rfind("gl-", 0) == 0 || flag == "opengl") return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

}  // namespace

RendererEnvironment ChooseRenderer(const RendererEnvironment& user) {
  RendererEnvironment chosen = user;
  if (!chosen.renderer || chosen.renderer->empty()) chosen.renderer = "cairo";
  if (*chosen.renderer != "cairo") return chosen;
  const std::string debug = chosen.debug.value_or("");
  if (MentionsGl(debug)) return chosen;
  chosen.debug = debug.empty() ? "gl-disable" : debug + ",gl-disable";
  return chosen;
}

}  // namespace station
