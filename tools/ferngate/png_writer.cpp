#include "png_writer.hpp"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fmt/format.h>
#include <png.h>

namespace ferngate_cli {

namespace {

// Closes the file unless handed over; a file whose writing failed is removed.
class OutputFile {
 public:
  explicit OutputFile(const std::filesystem::path& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    if (file_ == nullptr) return;
    // An unfinished file: closed and removed as far as that goes, the failure already reported.
    static_cast<void>(std::fclose(file_));
    static_cast<void>(std::remove(path_.c_str()));
  }

  std::FILE* get() const { return file_; }
  // Closes the finished file; 0, or the errno of the failed last writes (e.g. a full disk).
  int close() {
    int error = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) error = errno != 0 ? errno : EIO;
    if (std::fclose(file_) != 0 && error == 0) error = errno;
    file_ = nullptr;
    if (error != 0) static_cast<void>(std::remove(path_.c_str()));  // the error is what counts
    return error;
  }

 private:
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
};

}  // namespace

std::expected<void, std::string> write_png(const std::filesystem::path& path,
                                           const PngPixels& pixels, PngEffort effort) {
  const auto channels = static_cast<std::uint64_t>(pixels.channels);
  if (pixels.width == 0 || pixels.height == 0) {
    return std::unexpected(fmt::format("cannot write {}: a PNG cannot hold an image of {} x {}",
                                       path.string(), pixels.width, pixels.height));
  }
  if (std::uint64_t{pixels.width} * pixels.height * channels != pixels.bytes.size()) {
    return std::unexpected(fmt::format("cannot write {}: {} bytes do not make {} x {} pixels",
                                       path.string(), pixels.bytes.size(), pixels.width,
                                       pixels.height));
  }

  OutputFile file(path);
  if (file.get() == nullptr) {
    return std::unexpected(
        fmt::format("cannot write {}: {}", path.string(), std::generic_category().message(errno)));
  }
  // libpng's simplified API: it keeps its own error handling (no setjmp here) and reports
  // failures in `message`.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = pixels.width;
  image.height = pixels.height;
  image.format = pixels.channels == PngPixels::Channels::Rgba ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  if (effort == PngEffort::Fast) image.flags |= PNG_IMAGE_FLAG_FAST;
  const int ok = png_image_write_to_stdio(&image, file.get(), /*convert_to_8bit=*/0,
                                          pixels.bytes.data(), /*row_stride=*/0,
                                          /*colormap=*/nullptr);
  if (ok == 0) {
    const std::string reason = image.message;
    png_image_free(&image);
    return std::unexpected(fmt::format("cannot write {}: {}", path.string(), reason));
  }
  if (const int error = file.close(); error != 0) {
    return std::unexpected(
        fmt::format("cannot write {}: {}", path.string(), std::generic_category().message(error)));
  }
  return {};
}

}  // namespace ferngate_cli
