#include "sheet_layout.hpp"

#include <algorithm>

namespace ferngate_cli {

SheetLayout layout_sheet(std::span<const std::size_t> group_sizes, const SheetGeometry& geometry) {
  const int columns = std::max(geometry.columns, 1);
  const int cell_w = geometry.thumb + kCellGap;
  const int cell_h = geometry.thumb + geometry.caption + kCellGap;

  SheetLayout layout;
  layout.header = {kSheetMargin, kSheetMargin};
  int y = kSheetMargin + geometry.header;
  int widest_row = 0;
  for (const std::size_t size : group_sizes) {
    y += kGroupGap;
    GroupPlacement group{.label = {kSheetMargin, y}};
    y += geometry.label + kLabelGap;
    const int count = static_cast<int>(size);
    for (int i = 0; i < count; ++i) {
      group.cells.push_back({kSheetMargin + (i % columns) * cell_w, y + (i / columns) * cell_h});
    }
    const int rows = (count + columns - 1) / columns;
    y += rows * cell_h;
    widest_row = std::max(widest_row, std::min(count, columns));
    layout.groups.push_back(std::move(group));
  }
  const int cells_width = widest_row > 0 ? widest_row * cell_w - kCellGap : 0;
  layout.width = std::max(geometry.min_width, 2 * kSheetMargin + cells_width);
  layout.height = y + kSheetMargin;
  return layout;
}

}  // namespace ferngate_cli
