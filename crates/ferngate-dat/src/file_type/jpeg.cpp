// libjpeg-turbo behind the JPEG interface: the only file that includes jpeglib.h.
//
// libjpeg reports failures through its error manager. Ours formats libjpeg's message, sorts it
// into one of our failure texts and longjmps back to the function that armed the jump buffer.
// Those functions (open_stream, decode_pixels) hold no object with a destructor; the caller owns
// the decompressor through Decoder, whose destructor releases it, and the output buffer, which
// libjpeg only writes into.
#include "file_type/jpeg.hpp"
#include "file_type/pixel_runs.hpp"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fmt/format.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace ferngate_dat {

namespace {

// A progressive stream can carry any number of scans, each one a pass over the whole image;
// real encoders use about ten. More than this is hostile or broken.
constexpr int kMaxScans = 1000;
// libjpeg's own working memory (whole-image coefficient buffers of progressive and multi-scan
// streams). Images within kMaxDecodedPixels need at most about 130 MiB of it.
constexpr long kMaxLibjpegMemory = 256L << 20;

enum class Failure {
  Invalid,         // malformed, truncated or damaged data
  Unsupported,     // valid JPEG that this libjpeg cannot decode
  Internal,        // memory and other failures that say nothing about the data
  PixelFormatL16,  // lossless greyscale of more than 8 bits
  Limit,           // one of our own limits; `text` says which
};

enum class PixelLayout { Grey, Colour, Cmyk };

struct Session {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  jpeg_progress_mgr progress;
  std::jmp_buf jump;
  Failure failure;
  char text[JMSG_LENGTH_MAX];
};

Session& session_of(j_common_ptr cinfo) { return *static_cast<Session*>(cinfo->client_data); }

// libjpeg reports a failure by calling back into this file, from inside its own C frames; the
// way out is a long jump to the setjmp in open_stream or decode_pixels. Those functions, and
// every frame between them and libjpeg, hold no object with a destructor, so the jump skips
// nothing that needs to run.
[[noreturn]] void fail(Session& session, Failure failure) {
  session.failure = failure;
  std::longjmp(session.jump, 1);  // NOLINT(cert-err52-cpp): see above
}

// Writes the failure's text into the session, cut to its buffer; allocates nothing.
template <typename... Args>
void set_text(Session& session, fmt::format_string<Args...> format, Args&&... args) {
  *fmt::format_to_n(session.text, sizeof session.text - 1, format, std::forward<Args>(args)...)
       .out = '\0';
}

[[noreturn]] void fail_with_text(Session& session, Failure failure, const char* text) {
  set_text(session, "{}", text);
  fail(session, failure);
}

bool is_lossless_frame(int marker) {
  return marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF;
}

// libjpeg refuses a lossless frame header before parsing it, so its bytes are still next in the
// source buffer: length (2), precision (1), height (2), width (2), component count (1). One
// component of more than 8 bits is 16-bit greyscale.
bool is_lossless_grey_over_8_bits(j_decompress_ptr cinfo) {
  const jpeg_source_mgr* src = cinfo->src;
  if (!is_lossless_frame(cinfo->unread_marker) || src == nullptr || src->bytes_in_buffer < 8) {
    return false;
  }
  const JOCTET* frame = src->next_input_byte;
  return frame[2] > 8 && frame[7] == 1;
}

Failure classify(j_common_ptr cinfo) {
  switch (cinfo->err->msg_code) {
    case JERR_SOF_UNSUPPORTED:
      if (is_lossless_grey_over_8_bits(reinterpret_cast<j_decompress_ptr>(cinfo))) {
        return Failure::PixelFormatL16;
      }
      return Failure::Unsupported;
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_PRECISION:
    case JERR_CCIR601_NOTIMPL:
    case JERR_COMPONENT_COUNT:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_EMPTY_IMAGE:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_IMAGE_TOO_BIG:
    case JERR_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_WIDTH_OVERFLOW:
      return Failure::Unsupported;
    case JERR_BAD_ALIGN_TYPE:
    case JERR_BAD_ALLOC_CHUNK:
    case JERR_BAD_BUFFER_MODE:
    case JERR_BAD_LIB_VERSION:
    case JERR_BAD_POOL_ID:
    case JERR_BAD_STATE:
    case JERR_BAD_STRUCT_SIZE:
    case JERR_BAD_VIRTUAL_ACCESS:
    case JERR_BUFFER_SIZE:
    case JERR_CANT_SUSPEND:
    case JERR_EMS_READ:
    case JERR_EMS_WRITE:
    case JERR_FILE_READ:
    case JERR_FILE_WRITE:
    case JERR_OUT_OF_MEMORY:
    case JERR_TFILE_CREATE:
    case JERR_TFILE_READ:
    case JERR_TFILE_SEEK:
    case JERR_TFILE_WRITE:
    case JERR_TOO_LITTLE_DATA:
    case JERR_VIRTUAL_BUG:
    case JERR_XMS_READ:
    case JERR_XMS_WRITE:
      return Failure::Internal;
    default:
      return Failure::Invalid;
  }
}

[[noreturn]] void on_error_exit(j_common_ptr cinfo) {
  Session& session = session_of(cinfo);
  // Without backing store, libjpeg says so when a stream wants more than its memory limit.
  if (cinfo->err->msg_code == JERR_NO_BACKING_STORE) {
    set_text(session, "decoding needs more than {} bytes of working memory", kMaxLibjpegMemory);
    fail(session, Failure::Limit);
  }
  (*cinfo->err->format_message)(cinfo, session.text);
  fail(session, classify(cinfo));
}

// Level -1 is a warning: libjpeg would go on and fill what it cannot decode with grey. Every
// warning about the data fails the decode instead. An unknown JFIF revision says nothing about
// the data and is let through. Levels 0 and up are trace messages.
void on_emit_message(j_common_ptr cinfo, int msg_level) {
  if (msg_level >= 0 || cinfo->err->msg_code == JWRN_JFIF_MAJOR) return;
  Session& session = session_of(cinfo);
  (*cinfo->err->format_message)(cinfo, session.text);
  fail(session, Failure::Invalid);
}

void on_output_message(j_common_ptr /*cinfo*/) {}  // the library never prints

void on_progress(j_common_ptr cinfo) {
  const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (decompress->input_scan_number > kMaxScans) {
    Session& session = session_of(cinfo);
    set_text(session, "stream has more than {} scans", kMaxScans);
    fail(session, Failure::Limit);
  }
}

/// Owns one libjpeg decompressor for the length of one call.
class Decoder {
 public:
  Decoder() {
    session_.cinfo.err = jpeg_std_error(&session_.err);
    session_.err.error_exit = on_error_exit;
    session_.err.emit_message = on_emit_message;
    session_.err.output_message = on_output_message;
    session_.progress.progress_monitor = on_progress;
    session_.cinfo.client_data = &session_;
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  // Safe on a decompressor whose creation failed: libjpeg then has no memory manager to release.
  ~Decoder() { jpeg_destroy_decompress(&session_.cinfo); }

  Session& session() { return session_; }

 private:
  Session session_{};
};

// Creates the decompressor over `stream` and reads the header up to the first scan.
bool open_stream(Session& session, std::span<const std::uint8_t> stream) {
  if (setjmp(session.jump) != 0) return false;  // NOLINT(cert-err52-cpp): see fail()
  jpeg_create_decompress(&session.cinfo);
  session.cinfo.mem->max_memory_to_use = kMaxLibjpegMemory;
  session.cinfo.progress = &session.progress;
  jpeg_mem_src(&session.cinfo, stream.data(), static_cast<unsigned long>(stream.size()));
  jpeg_read_header(&session.cinfo, TRUE);
  return true;
}

struct Target {
  std::uint8_t* out;  // width x height x 4 bytes; null for CMYK, which is decoded and dropped
  PixelLayout layout;
  JDIMENSION width;
  JDIMENSION height;
};

// Rows asked of libjpeg per call: one call then returns all the rows that its current iMCU row
// holds (8 or 16), rather than one.
constexpr JDIMENSION kRowsPerCall = 16;

// Decodes every row into `target`. Colour comes out of libjpeg as RGBA directly (alpha 0xFF),
// each call writing up to kRowsPerCall rows in place; greyscale comes out as one byte per pixel
// into a buffer of kRowsPerCall rows and is widened to RGBA here.
void read_pixels(Session& session, const Target& target) {
  j_decompress_ptr cinfo = &session.cinfo;
  switch (target.layout) {
    case PixelLayout::Grey:
      cinfo->out_color_space = JCS_GRAYSCALE;
      break;
    case PixelLayout::Colour:
      cinfo->out_color_space = JCS_EXT_RGBA;
      break;
    case PixelLayout::Cmyk:
      cinfo->out_color_space = JCS_CMYK;
      break;
  }
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width != target.width || cinfo->output_height != target.height) {
    fail_with_text(session, Failure::Internal, "decoded size differs from the header's");
  }

  const std::size_t row_bytes = std::size_t{target.width} * 4;
  JSAMPARRAY scratch = nullptr;
  if (target.layout != PixelLayout::Colour) {
    scratch = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                          target.width * cinfo->output_components, kRowsPerCall);
  }
  JSAMPROW rows[kRowsPerCall];
  while (cinfo->output_scanline < cinfo->output_height) {
    const std::size_t y = cinfo->output_scanline;
    const JDIMENSION wanted = std::min(kRowsPerCall, cinfo->output_height - cinfo->output_scanline);
    JSAMPARRAY into = scratch;
    if (target.layout == PixelLayout::Colour) {
      for (JDIMENSION r = 0; r < wanted; ++r) rows[r] = target.out + (y + r) * row_bytes;
      into = rows;
    }
    const JDIMENSION got = jpeg_read_scanlines(cinfo, into, wanted);
    if (got == 0) fail_with_text(session, Failure::Internal, "decoder returned no scanline");
    if (target.layout == PixelLayout::Grey) {
      for (JDIMENSION r = 0; r < got; ++r) {
        pixel_runs::grey(scratch[r], target.out + (y + r) * row_bytes, target.width);
      }
    }
  }
  jpeg_finish_decompress(cinfo);
}

bool decode_pixels(Session& session, const Target& target) {
  if (setjmp(session.jump) != 0) return false;  // NOLINT(cert-err52-cpp): see fail()
  read_pixels(session, target);
  return true;
}

std::string failure_text(const Session& session) {
  switch (session.failure) {
    case Failure::Invalid:
      return fmt::format("invalid JPEG format: {}", session.text);
    case Failure::Unsupported:
      return fmt::format("unsupported JPEG feature: {}", session.text);
    case Failure::PixelFormatL16:
      return "unsupported JPEG pixel format: L16";
    case Failure::Internal:
    case Failure::Limit:
      return session.text;
  }
  return session.text;
}

PixelLayout layout_of(J_COLOR_SPACE space) {
  switch (space) {
    case JCS_GRAYSCALE:
      return PixelLayout::Grey;
    case JCS_CMYK:
    case JCS_YCCK:
      return PixelLayout::Cmyk;
    default:
      return PixelLayout::Colour;  // YCbCr and RGB; libjpeg refuses to convert the rest
  }
}

}  // namespace

std::optional<std::pair<std::uint32_t, std::uint32_t>> read_jpeg_dimensions(
    std::span<const std::uint8_t> stream) {
  Decoder decoder;
  Session& session = decoder.session();
  if (!open_stream(session, stream)) return std::nullopt;
  return std::pair<std::uint32_t, std::uint32_t>{session.cinfo.image_width,
                                                 session.cinfo.image_height};
}

std::expected<std::vector<std::uint8_t>, std::string> decode_jpeg_rgba8(
    std::span<const std::uint8_t> stream, std::uint64_t max_pixels) {
  Decoder decoder;
  Session& session = decoder.session();
  if (!open_stream(session, stream)) return std::unexpected(failure_text(session));

  const JDIMENSION width = session.cinfo.image_width;
  const JDIMENSION height = session.cinfo.image_height;
  const std::uint64_t pixels = std::uint64_t{width} * height;
  if (pixels > max_pixels) {
    return std::unexpected(fmt::format("image of {} x {} pixels exceeds the limit of {} pixels",
                                       width, height, max_pixels));
  }

  // The buffer takes the size the stream declares, not the record's width and height, which
  // need not match it; it is allocated once and libjpeg writes the rows into it in place.
  const PixelLayout layout = layout_of(session.cinfo.jpeg_color_space);
  std::vector<std::uint8_t> out;
  if (layout != PixelLayout::Cmyk) out.resize(pixels * 4);
  if (!decode_pixels(session, Target{out.data(), layout, width, height})) {
    return std::unexpected(failure_text(session));
  }
  // CMYK is decoded all the same, so that a damaged CMYK stream reports the damage.
  if (layout == PixelLayout::Cmyk) return std::unexpected("unsupported JPEG pixel format: CMYK32");
  return out;
}

}  // namespace ferngate_dat
