// Utilities of the archive reader: positioned reads on the archive file, the decompressor of
// stored files, and the locator of the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "error.hpp"

namespace ferngate_dat {

/// Positioned reads: each fills a whole buffer from an absolute offset without moving any shared
/// file position, so reads need no lock and may come in any order.
class FileExtPolyfill {
 public:
  virtual ~FileExtPolyfill() = default;

  /// Fills all of `buf` from absolute `offset`. Fails with an UnexpectedEof error, "failed to fill
  /// whole buffer", when the file ends first; an interrupted read is repeated.
  [[nodiscard]] virtual std::expected<void, IoError> read_exact_at_compat(
      std::span<std::uint8_t> buf, std::uint64_t offset) const = 0;
};

/// An archive file opened read-only; closed when dropped.
class ReadOnlyFile final : public FileExtPolyfill {
 public:
  /// Opens `path` with O_RDONLY | O_CLOEXEC; the error is the operating system's.
  [[nodiscard]] static std::expected<ReadOnlyFile, IoError> open(const std::filesystem::path& path);

  ReadOnlyFile(ReadOnlyFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile() override;

  [[nodiscard]] std::expected<void, IoError> read_exact_at_compat(
      std::span<std::uint8_t> buf, std::uint64_t offset) const override;

  /// Reads from `offset` until `buf` is full or the file ends; returns how many bytes arrived.
  [[nodiscard]] std::expected<std::size_t, IoError> read_at_most(std::span<std::uint8_t> buf,
                                                                 std::uint64_t offset) const;

  /// Reads consecutive bytes from `offset` into `pieces`, filling each piece in turn, until all are
  /// full or the file ends; returns how many bytes arrived. One positioned read serves up to
  /// kMaxPieces pieces, so a run of blocks lands in its places at the cost of one read.
  [[nodiscard]] std::expected<std::size_t, IoError> read_scattered_at_most(
      std::span<const std::span<std::uint8_t>> pieces, std::uint64_t offset) const;

  /// The most pieces that one scattered read takes in one system call.
  static constexpr std::size_t kMaxPieces = 1024;

  /// The file's current length in bytes.
  [[nodiscard]] std::expected<std::uint64_t, IoError> length() const;

 private:
  explicit ReadOnlyFile(int fd) : fd_(fd) {}
  int fd_;
};

/// Decodes the payload of a compressed stored file: a little-endian output size, then groups of a
/// control byte and up to eight tokens (literal bytes, or two-byte back-references of a 12-bit
/// offset and a 4-bit length + 2). Never fails: malformed input gives a shorter output.
[[nodiscard]] std::vector<std::uint8_t> decompress_lrs(std::span<const std::uint8_t> input);

/// The archive named by FERNGATE_PORTAL_DAT when it exists, else `dats/portal.dat` at the root of
/// the source tree when it exists, else nothing.
[[nodiscard]] std::optional<std::filesystem::path> get_portal_dat_path();

/// The locator's rule over explicit inputs: `env_value` is the variable's raw value (null when
/// unset), `source_dir` the library package's directory.
[[nodiscard]] std::optional<std::filesystem::path> find_portal_dat_path(
    const char* env_value, const std::filesystem::path& source_dir);

/// True when the file system reports metadata for `path`, following links; any error is false.
[[nodiscard]] bool path_exists(const std::filesystem::path& path);

}  // namespace ferngate_dat
