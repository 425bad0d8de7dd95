// A little-endian reader over a byte span. Every read names the field it reads, so that a
// failure carries "While parsing field '…' in …" without extra code at the call site.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "error.hpp"

namespace ferngate_dat {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  /// The next four bytes as an unsigned little-endian number.
  [[nodiscard]] std::expected<std::uint32_t, BinReadError> u32(const FieldTag& tag) {
    if (remaining() < 4) return std::unexpected(BinReadError::in_field(IoError::short_read(), tag));
    const std::uint8_t* p = data_.data() + pos_;
    pos_ += 4;
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }

  /// The next four bytes as a signed little-endian number.
  [[nodiscard]] std::expected<std::int32_t, BinReadError> i32(const FieldTag& tag) {
    auto value = u32(tag);
    if (!value) return std::unexpected(std::move(value.error()));
    return static_cast<std::int32_t>(*value);
  }

  /// The next `count` bytes, as a view into the input.
  [[nodiscard]] std::expected<std::span<const std::uint8_t>, BinReadError> bytes(
      std::size_t count, const FieldTag& tag) {
    if (remaining() < count) {
      return std::unexpected(
          BinReadError::in_field(IoError::unexpected_eof("not enough bytes in reader"), tag));
    }
    const auto out = data_.subspan(pos_, count);
    pos_ += count;
    return out;
  }

  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return data_.size() - pos_; }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

}  // namespace ferngate_dat
