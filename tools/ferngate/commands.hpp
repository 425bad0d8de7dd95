// The subcommands of ferngate: one function per subcommand, each in its own file, and the error
// value they all return.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace ferngate_cli {

/// Why a subcommand stopped: bad arguments (exit status 2) or a failure while doing the work
/// (exit status 1). `message` is one line without the program's name.
struct CommandError {
  enum class Kind { Usage, Failure };

  Kind kind = Kind::Failure;
  std::string message;

  static CommandError usage(std::string message) { return {Kind::Usage, std::move(message)}; }
  static CommandError failure(std::string message) { return {Kind::Failure, std::move(message)}; }
  int exit_status() const { return kind == Kind::Usage ? 2 : 1; }
};

using CommandResult = std::expected<void, CommandError>;

/// Prints the header fields, the number of files by top byte, the compressed count, the block
/// size and the file size.
[[nodiscard]] CommandResult run_info(const std::filesystem::path& archive);

/// Prints one line per file (ID, stored size, compressed or not) sorted by ID; with `top_bytes`
/// not empty, only the files whose ID starts with one of them.
[[nodiscard]] CommandResult run_ls(const std::filesystem::path& archive,
                                   const std::vector<std::uint8_t>& top_bytes);

/// Writes the bytes of stored file `id`, decompressed, to standard output.
[[nodiscard]] CommandResult run_cat(const std::filesystem::path& archive, std::uint32_t id);

/// Decodes texture `id` and writes it to `output` as a PNG.
[[nodiscard]] CommandResult run_texture(const std::filesystem::path& archive, std::uint32_t id,
                                        const std::filesystem::path& output);

/// Writes every texture of the archive into `directory` as `<ID>.png`, then a summary of the
/// ones that failed; fails when any did.
[[nodiscard]] CommandResult run_export(const std::filesystem::path& archive,
                                       const std::filesystem::path& directory);

/// What the contact sheet shows and how large.
struct SheetOptions {
  /// Thumbnails per format at most.
  int per_format = 8;
  /// Side of the square a thumbnail fits in, in pixels.
  int thumb = 64;
  /// Thumbnails per row.
  int columns = 8;
};

/// Writes a contact sheet to `output`: thumbnails of a sample of the textures of each format,
/// each group under its format's name.
[[nodiscard]] CommandResult run_sheet(const std::filesystem::path& archive,
                                      const std::filesystem::path& output,
                                      const SheetOptions& options);

}  // namespace ferngate_cli
