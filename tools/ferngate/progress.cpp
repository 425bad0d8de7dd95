#include "progress.hpp"

#include <algorithm>
#include <cstdio>

#include <fmt/format.h>
#include <unistd.h>

namespace ferngate_cli {

namespace {

constexpr std::size_t kBarWidth = 30;

}  // namespace

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

ProgressBar::ProgressBar(std::string label, std::size_t total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled && total > 0) {}

void ProgressBar::update(std::size_t done) {
  if (!enabled_) return;
  done = std::min(done, total_);
  // Redrawing only when a tenth of a percent has passed keeps the terminal cheap to feed.
  const std::size_t permille = done * 1000 / total_;
  if (permille == last_permille_) return;
  last_permille_ = permille;
  draw(done);
}

void ProgressBar::draw(std::size_t done) {
  const std::size_t filled = done * kBarWidth / total_;
  fmt::print(stderr, "\r{} [{:#<{}}{:.<{}}] {}/{} {:3}%", label_, "", filled, "",
             kBarWidth - filled, done, total_, done * 100 / total_);
  static_cast<void>(std::fflush(stderr));  // a bar that cannot be shown costs nothing
  drawn_ = true;
}

void ProgressBar::clear() {
  if (drawn_) {
    // Carriage return, then erase the line (ANSI "erase in line", understood by terminals).
    fmt::print(stderr, "\r\x1b[2K");
    static_cast<void>(std::fflush(stderr));
  }
  drawn_ = false;
  enabled_ = false;
}

}  // namespace ferngate_cli
