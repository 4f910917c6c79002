// A canvas of pixels on cairo: an in-memory RGB image with real font rendering, read back pixel
// by pixel by tests and written out as PNG for screenshots.
#pragma once

#include <memory>
#include <string>

#include "win/canvas.h"

struct _cairo;
struct _cairo_surface;

namespace canvas {

// The dialog base units of a raster front end: the average character of the dialogs' 10-point
// font as this canvas renders it, so 60 x 11 dialog units make a 120 x 22 pixel bar.
inline constexpr win::BaseUnits kRasterBaseUnits{8, 16};
// Every face is drawn with this one, so text renders the same on every machine.
inline constexpr char kRasterFontFace[] = "DejaVu Sans";

class RasterCanvas : public win::Canvas {
 public:
  // kScreen behaves like a surface shown while it is drawn: every paint goes through an
  // off-screen group that is put on the image in one piece.
  enum class Target { kMemory, kScreen };

  // A `width` x `height` image cleared to `background`. Sizes below 1 are raised to 1.
  RasterCanvas(int width, int height, win::COLORREF background, Target target = Target::kMemory);
  // Draws on `cr`, which stays the caller's: a toolkit's context for a widget, already scaled
  // to the screen's pixels, shown whole when the toolkit's frame is done. `width` x `height`
  // are its units; text is sized for `dpi` dots per inch (96: a 10-point font is 13.3 units
  // high). Nothing is cleared; Pixel and WritePng see no image.
  RasterCanvas(_cairo* cr, int width, int height, win::COLORREF background, double dpi);
  ~RasterCanvas() override;
  RasterCanvas(const RasterCanvas&) = delete;
  RasterCanvas& operator=(const RasterCanvas&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // The colour of one pixel; the background outside the image.
  win::COLORREF Pixel(int x, int y) const;
  // Writes the picture as a PNG file, replacing `path` whole; false when that fails.
  bool WritePng(const std::string& path) const;

  bool IsMemory() const override { return target_ == Target::kMemory; }
  void BeginBuffer(const win::Rect& area) override;
  void EndBuffer() override;
  win::COLORREF Background() const override { return background_; }
  void FillRect(const win::Rect& rect, win::COLORREF colour) override;
  win::Rect DrawSunkenEdge(const win::Rect& rect) override;
  win::TextSize MeasureText(const std::string& text, const win::Font& font) override;
  void DrawText(int x, int y, const std::string& text, const win::Font& font, win::COLORREF colour,
                const win::Rect& clip) override;

 private:
  struct SurfaceDeleter {
    void operator()(_cairo_surface* s) const;
  };
  struct ContextDeleter {
    void operator()(_cairo* c) const;
  };
  void SelectFont(const win::Font& font);

  void SetUpText();

  int width_;
  int height_;
  win::COLORREF background_;
  Target target_;
  double pixelsPerPoint_;
  int buffers_ = 0;
  std::unique_ptr<_cairo_surface, SurfaceDeleter> surface_;  // null on a borrowed context
  std::unique_ptr<_cairo, ContextDeleter> owned_;            // null on a borrowed context
  _cairo* cr_;
};

}  // namespace canvas
