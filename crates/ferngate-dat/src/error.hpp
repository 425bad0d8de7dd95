// The library's error values: the wrapped I/O failure, the record reader's failure, and DatError,
// the one error type of opening the archive, fetching stored files and parsing records.
#pragma once

#include <cstdint>
#include <filesystem>
#include <source_location>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "render.hpp"

namespace ferngate_dat {

/// An I/O failure: an operating-system error code, or a read that ended before its buffer was full.
class IoError {
 public:
  enum class Kind { Os, UnexpectedEof };

  /// The operating system's error `code` (an errno value); its message comes from strerror.
  static IoError os(int code);
  /// A read that hit the end of its data; `text` says which reader noticed.
  static IoError unexpected_eof(std::string text);
  /// The positioned read's own short-read failure.
  static IoError short_read() { return unexpected_eof("failed to fill whole buffer"); }

  Kind kind() const { return kind_; }
  int os_code() const { return code_; }
  std::string message() const;
  /// `Os { code: 2, message: "No such file or directory" }` or `UnexpectedEof("…")`.
  std::string debug() const;

  friend bool operator==(const IoError&, const IoError&) = default;

 private:
  IoError(Kind kind, int code, std::string text)
      : kind_(kind), code_(code), text_(std::move(text)) {}
  Kind kind_;
  int code_;
  std::string text_;
};

/// Names one stored field and its record, and remembers where the field list declares it.
/// Declare tags with aggregate initialisation, `FieldTag{"Texture", "id"}`, so that `where` is the
/// line of that declaration.
struct FieldTag {
  std::string_view record;
  std::string_view field;
  std::source_location where = std::source_location::current();

  /// "While parsing field 'id' in Texture".
  std::string context() const;
  /// The declaring file, from "crates/" on when the path contains it, and its line.
  std::string location() const;
};

/// A record-reader failure: what went wrong, and the fields that were being read when it did.
struct BinReadError {
  /// A value the reader refused, at a byte position of its input.
  struct AssertFail {
    std::uint64_t pos = 0;
    std::string message;
    friend bool operator==(const AssertFail&, const AssertFail&) = default;
  };
  /// A context message with the source location of the field it names.
  struct Frame {
    std::string message;
    std::string location;
    friend bool operator==(const Frame&, const Frame&) = default;
  };

  std::variant<IoError, AssertFail> failure;
  std::vector<Frame> frames;  // innermost first

  /// The failure wrapped with the context of `tag`.
  static BinReadError in_field(IoError error, const FieldTag& tag);

  std::string message() const;
  std::string debug() const;

  friend bool operator==(const BinReadError&, const BinReadError&) = default;
};

/// The error of every reading operation of the archive library.
class DatError {
 public:
  enum class Kind {
    Io,
    BinRead,
    NotFound,
    DuplicateId,
    DuplicateNamespacedId,
    InvalidMagic,
    UnsupportedVersion,
    InvalidNamespace,
    Corruption,
    DecompressionFailed,
    PathError,
    Other,
  };

  // Conversions used to pass failures upward.
  DatError(IoError error)
      : kind_(Kind::Io), io_(std::move(error)) {}  // NOLINT: implicit on purpose
  DatError(BinReadError error)                     // NOLINT: implicit on purpose
      : kind_(Kind::BinRead), bin_read_(std::move(error)) {}

  static DatError not_found(std::uint32_t id) { return {Kind::NotFound, id}; }
  static DatError duplicate_id(std::uint32_t id) { return {Kind::DuplicateId, id}; }
  static DatError duplicate_namespaced_id(std::string name_space, std::uint32_t file_id);
  static DatError invalid_magic(std::string text) { return {Kind::InvalidMagic, std::move(text)}; }
  static DatError unsupported_version(std::uint32_t version) {
    return {Kind::UnsupportedVersion, version};
  }
  static DatError invalid_namespace(std::string text) {
    return {Kind::InvalidNamespace, std::move(text)};
  }
  static DatError corruption(std::string text) { return {Kind::Corruption, std::move(text)}; }
  static DatError decompression_failed(std::uint32_t id) { return {Kind::DecompressionFailed, id}; }
  static DatError path_error(std::filesystem::path path, IoError source);
  static DatError other(std::string text) { return {Kind::Other, std::move(text)}; }

  Kind kind() const { return kind_; }
  /// The file ID, version or other number of the kinds that carry one.
  std::uint32_t number() const { return number_; }
  /// The text of the kinds that carry one; `namespace` for DuplicateNamespacedId.
  const std::string& text() const { return text_; }
  const std::filesystem::path& path() const { return path_; }
  /// The wrapped error of Io, and the `source` of PathError.
  const IoError& io_error() const { return io_; }
  const BinReadError& bin_read_error() const { return bin_read_; }

  /// The Display form, e.g. "File ID 0000ABCD not found in provider".
  std::string message() const;
  /// The Debug form, e.g. `NotFound(43981)`.
  std::string debug() const;

  friend bool operator==(const DatError&, const DatError&) = default;

 private:
  DatError(Kind kind, std::uint32_t number) : kind_(kind), number_(number) {}
  DatError(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  Kind kind_;
  std::uint32_t number_ = 0;
  std::string text_;
  std::filesystem::path path_;
  IoError io_ = IoError::os(0);
  BinReadError bin_read_{IoError::os(0), {}};
};

}  // namespace ferngate_dat
