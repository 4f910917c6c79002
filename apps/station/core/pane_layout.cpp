#include "pane_layout.h"

#include <algorithm>
#include <string>

#include "pane_view.h"

namespace station {

std::optional<PaneLayout> LayoutPane(const win::DialogTemplate& templ, win::BaseUnits units) {
  PaneLayout layout;
  const win::Rect size = win::MapDialogRect(win::RectXYWH(0, 0, templ.width, templ.height), units);
  layout.width = size.Width();
  layout.height = size.Height();
  int found = 0;
  for (const win::DialogItem& item : templ.items) {
    win::Rect* target = nullptr;
    switch (item.id) {
      case kPanePortLabelId:
        target = &layout.caption;
        break;
      case kPaneClockId:
        target = &layout.clock;
        break;
      case kPaneProgressId:
        target = &layout.bar;
        break;
      case kPaneListId:
        target = &layout.list;
        break;
      default:
        continue;
    }
    *target = win::MapDialogRect(item.rect, units);
    ++found;
  }
  if (found != 4) return std::nullopt;
  return layout;
}

PaneGrid LayoutGrid(int count, int frameWidth, int frameHeight, const win::Rect& area, int focus,
                    int firstRow) {
  PaneGrid grid;
  if (count <= 0 || frameWidth <= 0 || frameHeight <= 0) return grid;
  grid.columns = std::max(1, area.Width() / frameWidth);
  grid.rows = std::max(1, area.Height() / frameHeight);
  const int totalRows = (count + grid.columns - 1) / grid.columns;
  const int focusRow = std::clamp(focus, 0, count - 1) / grid.columns;
  int first = std::clamp(firstRow, 0, std::max(0, totalRows - grid.rows));
  if (focusRow < first) first = focusRow;
  if (focusRow >= first + grid.rows) first = focusRow - grid.rows + 1;
  grid.firstRow = first;
  for (int row = first; row < std::min(totalRows, first + grid.rows); ++row)
    for (int col = 0; col < grid.columns; ++col) {
      const int index = row * grid.columns + col;
      if (index >= count) break;
      grid.shown.push_back(
          {index, area.left + col * frameWidth, area.top + (row - first) * frameHeight});
    }
  return grid;
}

}  // namespace station
