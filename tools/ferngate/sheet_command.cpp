// `ferngate sheet`: a contact sheet, thumbnails of a sample of the textures of each format under
// the format's name, for a person to check the decoders by eye.
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "archive.hpp"
#include "bitmap_font.hpp"
#include "canvas.hpp"
#include "commands.hpp"
#include "decode.hpp"
#include "failure_list.hpp"
#include "png_writer.hpp"
#include "progress.hpp"
#include "sheet_layout.hpp"

namespace ferngate_cli {

using ferngate_dat::SurfacePixelFormat;

namespace {

constexpr Rgb kBackground{0x20, 0x22, 0x26};
constexpr Rgb kTitle{0xF0, 0xF0, 0xF0};
constexpr Rgb kNote{0xA8, 0xAC, 0xB4};
constexpr Rgb kLabel{0xFF, 0xD0, 0x60};
constexpr Rgb kCaption{0x90, 0x94, 0x9C};
constexpr Rgb kFailed{0x90, 0x18, 0x18};
constexpr Rgb kWarning{0xFF, 0x70, 0x70};

constexpr int kTitleScale = 2;
constexpr int kLineGap = 6;
// Captions are the eight hex digits of an ID.
constexpr int kCaptionWidth = text_width("06000000", 1);

struct FormatGroup {
  std::uint32_t format_raw = 0;
  /// Every texture of this format, ascending.
  std::vector<std::uint32_t> ids;
  /// The ones shown.
  std::vector<std::uint32_t> sample;
};

// `count` IDs spread evenly over `ids`, the first and the last included (so both top bytes show
// when a format has textures under each).
std::vector<std::uint32_t> spread_sample(const std::vector<std::uint32_t>& ids, std::size_t count) {
  count = std::min(count, ids.size());
  if (count <= 1) return {ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(count)};
  std::vector<std::uint32_t> sample;
  sample.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    sample.push_back(ids[i * (ids.size() - 1) / (count - 1)]);
  }
  return sample;
}

// The textures by format, in ascending order of the raw format number. Every record is read
// once for its format; the ones that cannot be read or parsed go to `failures`.
std::vector<FormatGroup> group_by_format(const ferngate_dat::DatDatabase& dat,
                                         const std::vector<std::uint32_t>& ids,
                                         Failures& failures) {
  std::map<std::uint32_t, FormatGroup> by_format;
  ProgressBar progress("reading", ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    progress.update(i);
    auto bytes = dat.get_file(ids[i]);
    if (!bytes) {
      failures.emplace_back(ids[i], fmt::format("get_file: {}", bytes.error()));
      continue;
    }
    auto texture = ferngate_dat::Texture::unpack(*bytes);
    if (!texture) {
      failures.emplace_back(ids[i], fmt::format("unpack: {}", texture.error()));
      continue;
    }
    FormatGroup& group = by_format[texture->format_raw];
    group.format_raw = texture->format_raw;
    group.ids.push_back(ids[i]);
  }
  std::vector<FormatGroup> groups;
  groups.reserve(by_format.size());
  for (auto& [raw, group] : by_format) groups.push_back(std::move(group));
  return groups;
}

}  // namespace

CommandResult run_sheet(const std::filesystem::path& archive, const std::filesystem::path& output,
                        const SheetOptions& options) {
  auto dat = open_archive(archive);
  if (!dat) return std::unexpected(std::move(dat.error()));
  const std::vector<std::uint32_t> ids = texture_ids(*dat);
  if (ids.empty()) {
    return std::unexpected(CommandError::failure(fmt::format(
        "{} holds no texture records (IDs with the top byte 0x06 or 0x07)", archive.string())));
  }

  Failures failures;
  std::vector<FormatGroup> groups = group_by_format(*dat, ids, failures);
  std::size_t shown = 0;
  for (FormatGroup& group : groups) {
    group.sample = spread_sample(group.ids, static_cast<std::size_t>(options.per_format));
    shown += group.sample.size();
  }
  const bool captions = options.thumb >= kCaptionWidth;

  // The text first, since the sheet is at least as wide as its longest line.
  const std::string title = fmt::format("ferngate sheet: {}", archive.filename().string());
  std::vector<std::pair<std::string, Rgb>> notes = {
      {fmt::format("{} in {} formats; up to {} of each, spread over their IDs{}.",
                   count_of(ids.size(), "texture"), groups.size(), options.per_format,
                   captions ? "; the ID under each" : ""),
       kNote},
      {"P8 and Index16 are drawn through a grey ramp; transparency shows a checkerboard.", kNote},
  };
  if (!failures.empty()) {
    notes.emplace_back(fmt::format("{} could not be read (listed on standard error).",
                                   count_of(failures.size(), "texture")),
                       kWarning);
  }
  std::vector<std::string> labels;
  for (const FormatGroup& group : groups) {
    const SurfacePixelFormat format = SurfacePixelFormat::from_u32(group.format_raw);
    labels.push_back(fmt::format("{}  {} textures{}", format, group.ids.size(),
                                 format.needs_palette() ? "  (grey ramp)" : ""));
  }
  int text_wide = text_width(title, kTitleScale);
  for (const auto& [note, color] : notes) text_wide = std::max(text_wide, text_width(note, 1));
  for (const std::string& label : labels) {
    text_wide = std::max(text_wide, text_width(label, kTitleScale));
  }

  const int note_lines = static_cast<int>(notes.size());
  std::vector<std::size_t> sizes;
  sizes.reserve(groups.size());
  for (const FormatGroup& group : groups) sizes.push_back(group.sample.size());
  const SheetLayout layout = layout_sheet(
      sizes, {.thumb = options.thumb,
              .columns = options.columns,
              .caption = captions ? kLineGap / 2 + kGlyphHeight : 0,
              .header = kGlyphHeight * kTitleScale + note_lines * (kLineGap + kGlyphHeight),
              .label = kGlyphHeight * kTitleScale,
              .min_width = text_wide + 2 * kSheetMargin});

  Canvas canvas(layout.width, layout.height, kBackground);
  canvas.text(layout.header.x, layout.header.y, title, kTitleScale, kTitle);
  int note_y = layout.header.y + kGlyphHeight * kTitleScale;
  for (const auto& [note, color] : notes) {
    note_y += kLineGap;
    canvas.text(layout.header.x, note_y, note, 1, color);
    note_y += kGlyphHeight;
  }

  ProgressBar progress("drawing", shown);
  std::size_t drawn = 0;
  std::size_t failed_thumbnails = 0;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const GroupPlacement& place = layout.groups[g];
    canvas.text(place.label.x, place.label.y, labels[g], kTitleScale, kLabel);
    for (std::size_t i = 0; i < groups[g].sample.size(); ++i) {
      const std::uint32_t id = groups[g].sample[i];
      const Point cell = place.cells[i];
      auto decoded = decode_texture(*dat, id);
      if (decoded) {
        canvas.thumbnail(cell.x, cell.y, options.thumb, *decoded);
      } else {
        canvas.fill(cell.x, cell.y, options.thumb, options.thumb, kFailed);
        const int fail_x = cell.x + (options.thumb - text_width("fail", 1)) / 2;
        canvas.text(fail_x, cell.y + (options.thumb - kBaseline) / 2, "fail", 1, kTitle);
        failures.emplace_back(id, std::move(decoded.error()));
        ++failed_thumbnails;
      }
      if (captions) {
        const std::string caption = fmt::format("{:08X}", id);
        canvas.text(cell.x + (options.thumb - text_width(caption, 1)) / 2,
                    cell.y + options.thumb + kLineGap / 2, caption, 1, kCaption);
      }
      progress.update(++drawn);
    }
  }
  progress.clear();

  auto written = write_png(output, {.width = static_cast<std::uint32_t>(canvas.width()),
                                    .height = static_cast<std::uint32_t>(canvas.height()),
                                    .channels = PngPixels::Channels::Rgb,
                                    .bytes = canvas.pixels()});
  if (!written) return std::unexpected(CommandError::failure(std::move(written.error())));
  fmt::print("wrote {}: {} thumbnails of {} formats, {} x {} pixels\n", output.string(), shown,
             groups.size(), canvas.width(), canvas.height());
  if (failures.empty()) return {};
  print_failures(failures);
  const std::size_t unreadable = failures.size() - failed_thumbnails;
  std::vector<std::string> what;
  if (unreadable > 0) what.push_back(fmt::format("{} unreadable", count_of(unreadable, "texture")));
  if (failed_thumbnails > 0) {
    what.push_back(fmt::format("{} of {} thumbnails failed to decode", failed_thumbnails, shown));
  }
  return std::unexpected(CommandError::failure(
      fmt::format("{} written with failures: {}", output.string(), fmt::join(what, ", "))));
}

}  // namespace ferngate_cli
