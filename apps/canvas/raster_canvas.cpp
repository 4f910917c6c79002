#include "raster_canvas.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "platform/atomic_file.h"
#include "utf8_text.h"

namespace canvas {
namespace {

constexpr double kPointsToPixels = 96.0 / 72.0;
constexpr int kDefaultPointSize = 10;

void SetColour(cairo_t* cr, win::COLORREF c) {
  cairo_set_source_rgb(cr, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0,
                       ((c >> 16) & 0xFF) / 255.0);
}

void AddRect(cairo_t* cr, const win::Rect& r) {
  cairo_rectangle(cr, r.left, r.top, std::max(0, r.Width()), std::max(0, r.Height()));
}

}  // namespace

void RasterCanvas::SurfaceDeleter::operator()(_cairo_surface* s) const {
  cairo_surface_destroy(s);
}
void RasterCanvas::ContextDeleter::operator()(_cairo* c) const {
  cairo_destroy(c);
}

RasterCanvas::RasterCanvas(int width, int height, win::COLORREF background, Target target)
    : width_(std::max(1, width)),
      height_(std::max(1, height)),
      background_(background),
      target_(target),
      pixelsPerPoint_(kPointsToPixels),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_)),
      owned_(cairo_create(surface_.get())),
      cr_(owned_.get()) {
  SetUpText();
  SetColour(cr_, background_);
  cairo_paint(cr_);
}

RasterCanvas::RasterCanvas(cairo_t* cr, int width, int height, win::COLORREF background, double dpi)
    : width_(std::max(1, width)),
      height_(std::max(1, height)),
      background_(background),
      target_(Target::kMemory),
      pixelsPerPoint_(dpi > 0 ? dpi / 72.0 : kPointsToPixels),
      cr_(cr) {
  SetUpText();
}

RasterCanvas::~RasterCanvas() = default;

void RasterCanvas::SetUpText() {
  // Whole-pixel advances and grey antialiasing: the same text gives the same pixels and the
  // same measured widths every time.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  cairo_set_font_options(cr_, options);
  cairo_font_options_destroy(options);
}

win::COLORREF RasterCanvas::Pixel(int x, int y) const {
  if (!surface_ || x < 0 || y < 0 || x >= width_ || y >= height_) return background_;
  cairo_surface_flush(surface_.get());
  const unsigned char* data = cairo_image_surface_get_data(surface_.get());
  const int stride = cairo_image_surface_get_stride(surface_.get());
  if (!data) return background_;
  uint32_t px;
  std::copy_n(data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4,
              reinterpret_cast<unsigned char*>(&px));
  return win::RGB((px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF);
}

bool RasterCanvas::WritePng(const std::string& path) const {
  if (!surface_) return false;
  cairo_surface_flush(surface_.get());
  // Encoded in memory, then the file replaced whole (platform/atomic_file.h).
  std::string png;
  const auto append = [](void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
  };
  if (cairo_surface_write_to_png_stream(surface_.get(), append, &png) != CAIRO_STATUS_SUCCESS)
    return false;
  std::string error;
  return tr52::ReplaceFileAtomically(path, png, error);
}

void RasterCanvas::BeginBuffer(const win::Rect& area) {
  cairo_t* cr = cr_;
  cairo_save(cr);
  AddRect(cr, area);
  cairo_clip(cr);
  cairo_push_group(cr);
  ++buffers_;
}

void RasterCanvas::EndBuffer() {
  if (buffers_ == 0) return;
  --buffers_;
  cairo_t* cr = cr_;
  cairo_pop_group_to_source(cr);
  cairo_paint(cr);
  cairo_restore(cr);
}

void RasterCanvas::FillRect(const win::Rect& rect, win::COLORREF colour) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  cairo_t* cr = cr_;
  SetColour(cr, colour);
  AddRect(cr, rect);
  cairo_fill(cr);
}

// A flat sunken edge: a one-pixel shadow line with a one-pixel face line inside it.
win::Rect RasterCanvas::DrawSunkenEdge(const win::Rect& rect) {
  win::Rect r = rect;
  for (int colour : {win::COLOR_BTNSHADOW, win::COLOR_BTNFACE}) {
    if (r.Width() <= 0 || r.Height() <= 0) break;
    const win::COLORREF c = win::GetSysColor(colour);
    FillRect(win::Rect{r.left, r.top, r.right, r.top + 1}, c);
    FillRect(win::Rect{r.left, r.bottom - 1, r.right, r.bottom}, c);
    FillRect(win::Rect{r.left, r.top, r.left + 1, r.bottom}, c);
    FillRect(win::Rect{r.right - 1, r.top, r.right, r.bottom}, c);
    r = win::Rect{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  }
  r.right = std::max(r.left, r.right);
  r.bottom = std::max(r.top, r.bottom);
  return r;
}

void RasterCanvas::SelectFont(const win::Font& font) {
  const int points = font.pointSize > 0 ? font.pointSize : kDefaultPointSize;
  cairo_select_font_face(cr_, kRasterFontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr_, points * pixelsPerPoint_);
}

win::TextSize RasterCanvas::MeasureText(const std::string& text, const win::Font& font) {
  SelectFont(font);
  const std::string utf8 = EncodeUtf8(DecodeUtf8(text));
  cairo_text_extents_t te;
  cairo_text_extents(cr_, utf8.c_str(), &te);
  cairo_font_extents_t fe;
  cairo_font_extents(cr_, &fe);
  return win::TextSize{static_cast<int>(std::ceil(te.x_advance)),
                       static_cast<int>(std::ceil(fe.ascent + fe.descent))};
}

void RasterCanvas::DrawText(int x, int y, const std::string& text, const win::Font& font,
                            win::COLORREF colour, const win::Rect& clip) {
  if (clip.Width() <= 0 || clip.Height() <= 0) return;
  // Invalid UTF-8 would put the cairo context into a lasting error state: replace it first.
  const std::string utf8 = EncodeUtf8(DecodeUtf8(text));
  cairo_t* cr = cr_;
  cairo_save(cr);
  AddRect(cr, clip);
  cairo_clip(cr);
  SelectFont(font);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  SetColour(cr, colour);
  cairo_translate(cr, x, y);
  if (font.vertical) cairo_rotate(cr, -std::numbers::pi / 2);  // the text runs upward from (x, y)
  cairo_move_to(cr, 0, fe.ascent);
  cairo_show_text(cr, utf8.c_str());
  cairo_new_path(cr);
  cairo_restore(cr);
}

}  // namespace canvas
