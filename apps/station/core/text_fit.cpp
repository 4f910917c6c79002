#include "text_fit.h"

#include <algorithm>

#include "utf8_text.h"

namespace station {
namespace {

constexpr char kEllipsis[] = "…";

}  // namespace

FittedText FitText(win::Canvas& canvas, const std::string& text, const win::Font& font, int width) {
  FittedText fit{text, font, canvas.MeasureText(text, font)};
  if (fit.size.width <= width) return fit;
  if (font.pointSize > 0) {
    const int smallest = std::max(1, font.pointSize - font.pointSize / 5);
    const int whole = fit.size.width;
    for (int points = font.pointSize - 1; points >= smallest; --points) {
      fit.font.pointSize = points;
      fit.size = canvas.MeasureText(text, fit.font);
      if (fit.size.width <= width) return fit;
      // A canvas whose text has one size (a terminal's cells) keeps the font as asked.
      if (fit.size.width >= whole) {
        fit.font = font;
        break;
      }
    }
  }
  // The longest head that fits with the ellipsis after it (widths grow with the head).
  const std::u32string chars = canvas::DecodeUtf8(text);
  auto withEllipsis = [&](size_t n) {
    std::u32string head = chars.substr(0, n);
    while (!head.empty() && head.back() == U' ') head.pop_back();
    return canvas::EncodeUtf8(head) + kEllipsis;
  };
  size_t lo = 0, hi = chars.size();
  while (lo < hi) {
    const size_t mid = (lo + hi + 1) / 2;
    if (canvas.MeasureText(withEllipsis(mid), fit.font).width <= width)
      lo = mid;
    else
      hi = mid - 1;
  }
  fit.text = withEllipsis(lo);
  fit.size = canvas.MeasureText(fit.text, fit.font);
  return fit;
}

win::BaseUnits MeasureBaseUnits(win::Canvas& canvas, const win::Font& font) {
  const win::TextSize letters =
      canvas.MeasureText("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", font);
  return win::BaseUnits{std::max(1, (letters.width + 26) / 52), std::max(1, letters.height)};
}

}  // namespace station
