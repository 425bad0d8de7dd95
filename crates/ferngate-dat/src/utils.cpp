#include "utils.hpp"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef FERNGATE_DAT_SOURCE_DIR
#error "FERNGATE_DAT_SOURCE_DIR must name the library package's directory"
#endif

namespace ferngate_dat {

std::expected<ReadOnlyFile, IoError> ReadOnlyFile::open(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(IoError::os(errno));
  return ReadOnlyFile(fd);
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::expected<std::size_t, IoError> ReadOnlyFile::read_at_most(std::span<std::uint8_t> buf,
                                                               std::uint64_t offset) const {
  std::size_t done = 0;
  while (done < buf.size()) {
    const ssize_t got =
        ::pread(fd_, buf.data() + done, buf.size() - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::os(errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::expected<void, IoError> ReadOnlyFile::read_exact_at_compat(std::span<std::uint8_t> buf,
                                                                std::uint64_t offset) const {
  // Offsets past what off_t can address hold no bytes of this file.
  if (offset > static_cast<std::uint64_t>(INT64_MAX) - buf.size()) {
    return std::unexpected(IoError::short_read());
  }
  auto got = read_at_most(buf, offset);
  if (!got) return std::unexpected(got.error());
  if (*got < buf.size()) return std::unexpected(IoError::short_read());
  return {};
}

std::expected<std::uint64_t, IoError> ReadOnlyFile::length() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return std::unexpected(IoError::os(errno));
  return static_cast<std::uint64_t>(st.st_size);
}

std::vector<std::uint8_t> decompress_lrs(std::span<const std::uint8_t> input) {
  if (input.size() < 4) return {input.begin(), input.end()};

  const std::size_t output_size =
      static_cast<std::size_t>(input[0]) | static_cast<std::size_t>(input[1]) << 8 |
      static_cast<std::size_t>(input[2]) << 16 | static_cast<std::size_t>(input[3]) << 24;
  const std::span<const std::uint8_t> data = input.subspan(4);

  // A back-reference of two bytes yields at most 17, so the stream cannot produce more than nine
  // output bytes per input byte: reserving beyond that would only serve a hostile size field.
  std::vector<std::uint8_t> output;
  output.reserve(std::min(output_size, data.size() * 9));

  std::uint8_t control_byte = 0;
  std::uint8_t control_bit = 0;
  std::size_t input_idx = 0;
  while (output.size() < output_size && input_idx < data.size()) {
    if (control_bit == 0) {
      control_byte = data[input_idx++];
      control_bit = 0x80;
    }
    if ((control_byte & control_bit) != 0) {
      if (input_idx + 1 >= data.size()) break;
      const std::uint8_t b1 = data[input_idx];
      const std::uint8_t b2 = data[input_idx + 1];
      input_idx += 2;
      const std::size_t offset = b1 | static_cast<std::size_t>(b2 & 0xF0) << 4;
      const std::size_t length = static_cast<std::size_t>(b2 & 0x0F) + 2;
      // Offset 0 ends the stream; a reference with no output before it has nothing to copy.
      if (offset == 0 || output.empty()) break;
      for (std::size_t i = 0; i < length && output.size() < output_size; ++i) {
        const std::size_t copy_idx = offset > output.size() ? 0 : output.size() - offset;
        output.push_back(output[copy_idx]);
      }
    } else {
      if (input_idx >= data.size()) break;
      output.push_back(data[input_idx++]);
    }
    control_bit >>= 1;
  }
  return output;
}

bool path_exists(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

namespace {

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80) return false;
      code = code << 6 | (cont & 0x3F);
    }
    constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

std::optional<std::filesystem::path> find_portal_dat_path(const char* env_value,
                                                          const std::filesystem::path& source_dir) {
  if (env_value != nullptr && is_valid_utf8(env_value)) {
    std::filesystem::path from_env(env_value);
    if (path_exists(from_env)) return from_env;
  }
  auto in_tree = source_dir / "../../" / "dats/portal.dat";
  if (path_exists(in_tree)) return in_tree;
  return std::nullopt;
}

std::optional<std::filesystem::path> get_portal_dat_path() {
  return find_portal_dat_path(std::getenv("FERNGATE_PORTAL_DAT"), FERNGATE_DAT_SOURCE_DIR);
}

}  // namespace ferngate_dat
