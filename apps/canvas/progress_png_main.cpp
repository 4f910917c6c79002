// progress_png FILE [POSITION]: writes the progress pane's bar at POSITION (default 45) of 0 to
// 100 as a PNG picture, drawn as the raster front end draws it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "progress_snapshot.h"
#include "ui/dialog_templates.h"

namespace {

constexpr const char* kUsage = "usage: %s FILE.png [POSITION]\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf(kUsage, argv[0]);
    std::printf(
        "Draws the progress pane's bar at POSITION (0 to 100, default 45) and writes it to\n"
        "FILE.png.\n\noptions:\n  -h, --help  this text\n");
    return 0;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, kUsage, argv[0]);
    return 2;
  }
  int position = 45;
  if (argc == 3) {
    char* end = nullptr;
    const long v = std::strtol(argv[2], &end, 10);
    if (!end || *end || v < 0 || v > 100) {
      std::fprintf(stderr, "%s: POSITION must be 0 to 100\n", argv[0]);
      return 2;
    }
    position = static_cast<int>(v);
  }
  if (!canvas::WriteProgressBarPng(tr52::kProgressDialogTemplate, tr52::IDC_PROGRESS_BAR, position,
                                   argv[1])) {
    std::fprintf(stderr, "%s: could not write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
