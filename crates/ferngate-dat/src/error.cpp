#include "error.hpp"

#include <system_error>

#include <fmt/format.h>

namespace ferngate_dat {

IoError IoError::os(int code) { return IoError(Kind::Os, code, {}); }

IoError IoError::unexpected_eof(std::string text) {
  return IoError(Kind::UnexpectedEof, 0, std::move(text));
}

std::string IoError::message() const {
  // The category's text is strerror's, made without strerror's shared buffer: get_file may fail
  // on several threads at once.
  return kind_ == Kind::Os ? std::generic_category().message(code_) : text_;
}

std::string IoError::debug() const {
  if (kind_ == Kind::Os) {
    return fmt::format("Os {{ code: {}, message: {} }}", code_, debug_quoted(message()));
  }
  return fmt::format("UnexpectedEof({})", debug_quoted(text_));
}

std::string FieldTag::context() const {
  return fmt::format("While parsing field '{}' in {}", field, record);
}

std::string FieldTag::location() const {
  std::string_view file = where.file_name();
  if (const auto at = file.rfind("crates/"); at != std::string_view::npos) {
    file.remove_prefix(at);
  } else if (const auto slash = file.rfind('/'); slash != std::string_view::npos) {
    file.remove_prefix(slash + 1);
  }
  return fmt::format("{}:{}", file, where.line());
}

BinReadError BinReadError::in_field(IoError error, const FieldTag& tag) {
  return BinReadError{std::move(error), {Frame{tag.context(), tag.location()}}};
}

namespace {

std::string failure_message(const std::variant<IoError, BinReadError::AssertFail>& failure) {
  if (const auto* io = std::get_if<IoError>(&failure)) return io->message();
  const auto& assert_fail = std::get<BinReadError::AssertFail>(failure);
  return fmt::format("assertion failed at position {}: {}", assert_fail.pos, assert_fail.message);
}

std::string failure_debug(const std::variant<IoError, BinReadError::AssertFail>& failure) {
  if (const auto* io = std::get_if<IoError>(&failure)) return fmt::format("Io({})", io->debug());
  const auto& assert_fail = std::get<BinReadError::AssertFail>(failure);
  return fmt::format("AssertFail {{ pos: {}, message: {} }}", assert_fail.pos,
                     debug_quoted(assert_fail.message));
}

}  // namespace

std::string BinReadError::message() const {
  std::string text = failure_message(failure);
  for (const auto& frame : frames) {
    text += fmt::format("; {} ({})", frame.message, frame.location);
  }
  return text;
}

std::string BinReadError::debug() const {
  if (frames.empty()) return failure_debug(failure);
  std::string list;
  for (const auto& frame : frames) {
    if (!list.empty()) list += ", ";
    list += debug_quoted(fmt::format("{} at {}", frame.message, frame.location));
  }
  return fmt::format("Backtrace {{ error: {}, frames: [{}] }}", failure_debug(failure), list);
}

DatError DatError::duplicate_namespaced_id(std::string name_space, std::uint32_t file_id) {
  DatError error(Kind::DuplicateNamespacedId, std::move(name_space));
  error.number_ = file_id;
  return error;
}

DatError DatError::path_error(std::filesystem::path path, IoError source) {
  DatError error(Kind::PathError, 0);
  error.path_ = std::move(path);
  error.io_ = std::move(source);
  return error;
}

std::string DatError::message() const {
  switch (kind_) {
    case Kind::Io:
      return fmt::format("IO error: {}", io_.message());
    case Kind::BinRead:
      return fmt::format("Binary read error: {}", bin_read_.message());
    case Kind::NotFound:
      return fmt::format("File ID {:08X} not found in provider", number_);
    case Kind::DuplicateId:
      return fmt::format("Duplicate File ID {:08X} detected", number_);
    case Kind::DuplicateNamespacedId:
      return fmt::format("Duplicate namespaced file {}:{:08X} detected", text_, number_);
    case Kind::InvalidMagic:
      return fmt::format("Invalid magic for format: {}", text_);
    case Kind::UnsupportedVersion:
      return fmt::format("Unsupported version: {}", number_);
    case Kind::InvalidNamespace:
      return fmt::format("Invalid namespace: {}", text_);
    case Kind::Corruption:
      return fmt::format("Corruption detected: {}", text_);
    case Kind::DecompressionFailed:
      return fmt::format("Failed to recover compressed file {:08X}", number_);
    case Kind::PathError:
      return fmt::format("Failed to open file at {}: {}", path_.string(), io_.message());
    case Kind::Other:
      return fmt::format("Other error: {}", text_);
  }
  return {};
}

std::string DatError::debug() const {
  switch (kind_) {
    case Kind::Io:
      return fmt::format("Io({})", io_.debug());
    case Kind::BinRead:
      return fmt::format("BinRead({})", bin_read_.debug());
    case Kind::NotFound:
      return fmt::format("NotFound({})", number_);
    case Kind::DuplicateId:
      return fmt::format("DuplicateId({})", number_);
    case Kind::DuplicateNamespacedId:
      return fmt::format("DuplicateNamespacedId {{ namespace: {}, file_id: {} }}",
                         debug_quoted(text_), number_);
    case Kind::InvalidMagic:
      return fmt::format("InvalidMagic({})", debug_quoted(text_));
    case Kind::UnsupportedVersion:
      return fmt::format("UnsupportedVersion({})", number_);
    case Kind::InvalidNamespace:
      return fmt::format("InvalidNamespace({})", debug_quoted(text_));
    case Kind::Corruption:
      return fmt::format("Corruption({})", debug_quoted(text_));
    case Kind::DecompressionFailed:
      return fmt::format("DecompressionFailed({})", number_);
    case Kind::PathError:
      return fmt::format("PathError {{ path: {}, source: {} }}", debug_quoted(path_.string()),
                         io_.debug());
    case Kind::Other:
      return fmt::format("Other({})", debug_quoted(text_));
  }
  return {};
}

}  // namespace ferngate_dat
