// Where everything goes on the contact sheet: a header, then one group per format, each a label
// line above rows of thumbnail cells (a thumbnail square and, when captions are on, a caption
// line under it).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace ferngate_cli {

struct SheetGeometry {
  /// Side of a thumbnail square.
  int thumb = 64;
  /// Cells per row.
  int columns = 8;
  /// Height of the caption line under each thumbnail; 0 for none.
  int caption = 0;
  /// Height of the header above the first group.
  int header = 0;
  /// Height of a group's label line.
  int label = 0;
  /// The sheet is at least this wide (for the longest line of text), margins included.
  int min_width = 0;
};

struct Point {
  int x = 0;
  int y = 0;
};

struct GroupPlacement {
  /// Top left of the label line.
  Point label;
  /// Top left of each thumbnail square, row by row.
  std::vector<Point> cells;
};

struct SheetLayout {
  int width = 0;
  int height = 0;
  /// Top left of the header.
  Point header;
  std::vector<GroupPlacement> groups;
};

inline constexpr int kSheetMargin = 16;
inline constexpr int kCellGap = 10;
inline constexpr int kGroupGap = 18;
inline constexpr int kLabelGap = 6;

/// The layout of groups of `group_sizes[i]` cells each.
[[nodiscard]] SheetLayout layout_sheet(std::span<const std::size_t> group_sizes,
                                       const SheetGeometry& geometry);

}  // namespace ferngate_cli
