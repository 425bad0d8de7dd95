// A progress bar on standard error, drawn only when standard error is a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace ferngate_cli {

/// True when standard error is a terminal.
[[nodiscard]] bool stderr_is_terminal();

/// Draws "LABEL [#####.....]  done/total  pct%" on one line, redrawn in place as work is done
/// and cleared at the end, so that the lines printed after it start on a clean line.
class ProgressBar {
 public:
  /// A bar over `total` steps; draws nothing at all when `enabled` is false.
  ProgressBar(std::string label, std::size_t total, bool enabled = stderr_is_terminal());
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  ~ProgressBar() { clear(); }

  /// Records that `done` steps are finished; redraws when the bar has visibly moved.
  void update(std::size_t done);
  /// Removes the bar from the terminal; nothing more is drawn.
  void clear();

 private:
  void draw(std::size_t done);

  std::string label_;
  std::size_t total_;
  bool enabled_;
  bool drawn_ = false;
  std::size_t last_permille_ = static_cast<std::size_t>(-1);
};

}  // namespace ferngate_cli
