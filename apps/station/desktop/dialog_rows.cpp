#include "dialog_rows.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <numeric>

namespace station {

std::vector<DialogRow> ArrangeInRows(const std::vector<win::Rect>& rects,
                                     const std::vector<bool>& stretches, int width) {
  std::vector<size_t> order(rects.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return rects[a].top < rects[b].top; });
  std::vector<DialogRow> rows;
  int rowBottom = INT_MIN;
  for (size_t i : order) {
    if (rows.empty() || rects[i].top >= rowBottom) {
      rows.push_back({});
      rowBottom = rects[i].bottom;
    }
    rows.back().controls.push_back(i);
    rowBottom = std::max(rowBottom, rects[i].bottom);
  }
  for (DialogRow& row : rows) {
    std::stable_sort(row.controls.begin(), row.controls.end(),
                     [&](size_t a, size_t b) { return rects[a].left < rects[b].left; });
    int left = INT_MAX, right = INT_MIN;
    bool stretch = false;
    for (size_t i : row.controls) {
      left = std::min(left, rects[i].left);
      right = std::max(right, rects[i].right);
      stretch = stretch || (i < stretches.size() && stretches[i]);
    }
    const int before = left, after = width - right;
    if (stretch)
      row.align = RowAlign::kFill;
    else if (std::abs(before - after) * 10 <= width)
      row.align = RowAlign::kCentre;
    else
      row.align = before > after ? RowAlign::kEnd : RowAlign::kStart;
  }
  return rows;
}

}  // namespace station
