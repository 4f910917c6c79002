// Which of the toolkit's renderers the desktop station asks for, through the two environment
// variables the toolkit reads (GSK_RENDERER, GDK_DEBUG). Everything in the window is drawn with
// cairo (the panes are cairo drawings), so the cairo renderer draws it the same as an OpenGL
// one, on any display, with or without a graphics card; OpenGL only adds its driver: well over
// 100 MB more on a machine that renders it in software, and more CPU. So the renderer is cairo
// unless the user chose one, and with cairo OpenGL is not started at all (the toolkit would
// still open a GL context to probe it), unless the user asked for GL debugging.
#pragma once

#include <optional>
#include <string>

namespace station {

struct RendererEnvironment {
  std::optional<std::string> renderer;  // GSK_RENDERER; nullopt: unset
  std::optional<std::string> debug;     // GDK_DEBUG; nullopt: unset
  bool operator==(const RendererEnvironment&) const = default;
};

// The two variables to set, given what the user's environment holds.
RendererEnvironment ChooseRenderer(const RendererEnvironment& user);

}  // namespace station
