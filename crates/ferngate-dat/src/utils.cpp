#include "utils.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

std::expected<std::size_t, IoError> ReadOnlyFile::read_scattered_at_most(
    std::span<const std::span<std::uint8_t>> pieces, std::uint64_t offset) const {
  std::size_t done = 0;
  while (!pieces.empty()) {
    std::array<iovec, kMaxPieces> vectors;
    const std::size_t count = std::min(pieces.size(), kMaxPieces);
    std::size_t wanted = 0;
    for (std::size_t i = 0; i < count; ++i) {
      vectors[i] = iovec{pieces[i].data(), pieces[i].size()};
      wanted += pieces[i].size();
    }
    // Offsets past what off_t can address hold no bytes of this file.
    if (offset + done > static_cast<std::uint64_t>(INT64_MAX) - wanted) return done;
    std::size_t first = 0;  // the first vector not yet full
    while (true) {
      while (first < count && vectors[first].iov_len == 0) ++first;
      if (first == count) break;
      const ssize_t got = ::preadv(fd_, vectors.data() + first, static_cast<int>(count - first),
                                   static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        return std::unexpected(IoError::os(errno));
      }
      if (got == 0) return done;
      done += static_cast<std::size_t>(got);
      // Skip the vectors this read filled and trim the one it filled in part.
      auto left = static_cast<std::size_t>(got);
      while (first < count && left >= vectors[first].iov_len) left -= vectors[first++].iov_len;
      if (left > 0) {
        vectors[first].iov_base = static_cast<std::uint8_t*>(vectors[first].iov_base) + left;
        vectors[first].iov_len -= left;
      }
    }
    pieces = pieces.subspan(count);
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

namespace {

// Room the fast loop of decompress_lrs needs around one group. A group is a control byte and at
// most eight tokens of two bytes (17 input bytes) and yields at most 8 x 17 = 136 bytes. The
// copies are wider than the tokens: 16 bytes for a run of literals, 32 for a reference, so up to
// 32 bytes are written past a group's last output byte (and read past its last input byte).
constexpr std::size_t kGroupInputRoom = 17 + 32;
constexpr std::size_t kGroupOutputRoom = 136 + 32;

void store_u64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, 8); }

// The little-endian 16-bit value at `p`, in one load where the machine is little-endian.
std::uint16_t load_u16_le(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  } else {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  }
}

// Copies 16 bytes; the two ranges do not overlap.
void copy16(std::uint8_t* dst, const std::uint8_t* src) { std::memcpy(dst, src, 16); }

// Copies 8 bytes; the two ranges do not overlap.
void copy8(std::uint8_t* dst, const std::uint8_t* src) { std::memcpy(dst, src, 8); }

// Writes `run` bytes at `dst`, each a copy of the byte `offset` (1 to 15) before it, as a
// byte-by-byte copy would; the stores may run up to 15 bytes past the run.
void store_periodic_run(std::uint8_t* dst, std::size_t offset, std::size_t run) {
  if (std::endian::native == std::endian::little &&
      (offset == 1 || offset == 2 || offset == 4 || offset == 8)) {
    // These periods divide 8, so one 8-byte pattern repeats throughout: the period's bytes
    // doubled up to eight by shifts of the little-endian word.
    std::uint64_t pattern = 0;
    switch (offset) {
      case 1:
        std::memcpy(&pattern, dst - 1, 1);
        break;
      case 2:
        std::memcpy(&pattern, dst - 2, 2);
        break;
      case 4:
        std::memcpy(&pattern, dst - 4, 4);
        break;
      default:
        std::memcpy(&pattern, dst - 8, 8);
        break;
    }
    for (std::size_t filled = offset; filled < 8; filled *= 2) pattern |= pattern << (8 * filled);
    for (std::size_t i = 0; i < run; i += 16) {
      store_u64(dst + i, pattern);
      store_u64(dst + i + 8, pattern);
    }
    return;
  }
  // Byte by byte up to a whole number of periods of 16 bytes or more, then 16-byte copies from
  // that distance, which keeps the phase and reads only bytes already written.
  const std::size_t distance = offset * ((16 + offset - 1) / offset);
  const std::size_t head = std::min(run, distance);
  for (std::size_t i = 0; i < head; ++i) dst[i] = (dst - offset)[i];
  for (std::size_t i = head; i < run; i += 16) copy16(dst + i, dst + i - distance);
}

// True when `group` (a control byte and 16 token bytes) is eight references whose offset bits
// equal `key` (b1 | (b2 & 0xF0) << 8); adds their lengths to `run`.
bool extends_run(const std::uint8_t* group, unsigned key, std::size_t& run) {
  if (group[0] != 0xFF) return false;
#if defined(__SSE2__)
  const __m128i tokens = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + 1));
  const __m128i keys = _mm_and_si128(tokens, _mm_set1_epi16(static_cast<short>(0xF0FF)));
  const __m128i same = _mm_cmpeq_epi16(keys, _mm_set1_epi16(static_cast<short>(key)));
  if (_mm_movemask_epi8(same) != 0xFFFF) return false;
  // The low nibbles of the b2 bytes, summed: each length is that nibble + 2.
  const __m128i nibbles = _mm_and_si128(tokens, _mm_set1_epi16(0x0F00));
  const __m128i sums = _mm_sad_epu8(nibbles, _mm_setzero_si128());
  run += 16 + static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
         static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
#else
  std::size_t lengths = 0;
  for (int t = 0; t < 8; ++t) {
    const unsigned b1 = group[1 + 2 * t];
    const unsigned b2 = group[2 + 2 * t];
    if ((b1 | (b2 & 0xF0) << 8) != key) return false;
    lengths += (b2 & 0x0F) + 2;
  }
  run += lengths;
#endif
  return true;
}

// Decodes the last `tokens` tokens of a group, the first of them a reference that the fast path
// leaves aside: one closer than 8 bytes or reaching past the start of the output. `control`
// holds the first of these tokens' bits in bit 7. Returns false at offset 0, which ends the
// stream. The room of the fast path holds for the group; a run that continues through whole
// groups takes a group only where that room holds for it too.
bool finish_group(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out,
                  std::size_t out_size, std::size_t& ip_index, std::size_t& op_index,
                  unsigned control, int tokens) {
  // Local copies: the byte stores through `out` could otherwise alias the referenced indices.
  std::size_t ip = ip_index;
  std::size_t op = op_index;
  bool going = true;
  for (; tokens > 0; --tokens, control <<= 1) {
    const std::size_t b1 = in[ip];
    const std::size_t b2 = in[ip + 1];
    const std::size_t offset = b1 | (b2 & 0xF0) << 4;
    const std::size_t length = (b2 & 0x0F) + 2;
    if ((control & 0x80) == 0) {
      out[op++] = in[ip++];
      continue;
    }
    if (offset == 0) {
      going = false;
      break;
    }
    ip += 2;
    if (offset > op) {
      // Each byte from `offset` back, or from index 0 while that reaches past the start.
      for (std::size_t i = 0; i < length; ++i, ++op) out[op] = out[offset > op ? 0 : op - offset];
      continue;
    }
    if (offset >= 16) {
      copy16(out + op, out + op - offset);
      copy16(out + op + 16, out + op + 16 - offset);
      op += length;
      continue;
    }
    // References with the same offset that follow continue one periodic run: a run of their
    // summed length gives the same bytes. First the rest of this group, then whole groups.
    std::size_t run = length;
    while (tokens > 1 && (control & 0x40) != 0 && in[ip] == b1 && ((in[ip + 1] ^ b2) & 0xF0) == 0) {
      run += (in[ip + 1] & 0x0F) + 2;
      ip += 2;
      --tokens;
      control <<= 1;
    }
    if (tokens == 1) {
      const auto key = static_cast<unsigned>(b1 | (b2 & 0xF0) << 8);
      while (ip + kGroupInputRoom <= in_size && op + run + kGroupOutputRoom <= out_size &&
             extends_run(in + ip, key, run)) {
        ip += 17;
      }
    }
    store_periodic_run(out + op, offset, run);
    op += run;
  }
  ip_index = ip;
  op_index = op;
  return going;
}

// A group's layout, fixed by its control byte: runs of literals, each followed by a reference,
// then a last run of literals. Looking it up replaces scanning the control byte bit by bit, a
// chain of dependent steps that otherwise bounds the whole decoder.
struct alignas(32) GroupPlan {
  std::uint8_t refs;     // references in the group
  std::uint8_t size;     // token bytes in the group
  std::uint8_t tail;     // literals after the last reference
  std::uint8_t at[8];    // each reference's first byte, counted from the group's first token byte
  std::uint8_t lits[8];  // literals just before each reference
};

constexpr std::array<GroupPlan, 256> make_group_plans() {
  std::array<GroupPlan, 256> plans{};
  for (unsigned control = 0; control < 256; ++control) {
    GroupPlan& plan = plans[control];
    std::uint8_t at = 0;
    std::uint8_t run = 0;
    for (int token = 0; token < 8; ++token) {
      if ((control << token & 0x80) != 0) {
        plan.at[plan.refs] = at;
        plan.lits[plan.refs] = run;
        ++plan.refs;
        run = 0;
        at += 2;
      } else {
        ++run;
        ++at;
      }
    }
    plan.size = at;
    plan.tail = run;
  }
  return plans;
}

constexpr std::array<GroupPlan, 256> kGroupPlans = make_group_plans();

// Decodes whole groups while the input and the output have room for the largest group and the
// slack of the wide copies: no token here can meet the end of the stream or the end of `out`.
// A group goes as its plan says: each run of literals moved by one 16-byte copy, each reference by
// a 16-byte copy (two for 17 bytes), or by 8-byte copies when it reaches back 8 to 15 bytes; the
// bytes written past what a token produces are overwritten by the tokens that follow or cut at
// the end. References closer than 8 bytes, which overlap even an 8-byte copy, and (while
// kNearStart) references reaching past the start of the output are left to finish_group with the
// rest of their group. Starts on a control byte with at least 16 bytes produced; stops between
// two groups when the room ends or (while kNearStart) once `op` has passed `stop_at`. Returns
// false when the stream ends here (offset 0).
template <bool kNearStart>
bool decode_whole_groups(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out,
                         std::size_t out_size, std::size_t& ip_index, std::size_t& op_index,
                         std::size_t stop_at) {
  if (in_size < kGroupInputRoom || out_size < kGroupOutputRoom) return true;
  const std::uint8_t* const in_end = in + (in_size - kGroupInputRoom);
  const std::uint8_t* const out_end = out + std::min(out_size - kGroupOutputRoom, stop_at);
  const std::uint8_t* ip = in + ip_index;
  std::uint8_t* op = out + op_index;
  bool going = true;
  while (ip <= in_end && op <= out_end) {
    const unsigned control = *ip++;
    const GroupPlan& plan = kGroupPlans[control];
    unsigned r = 0;
    // Unrolled whole, each step has its own "one more reference?" branch, which the processor
    // predicts apart from the others; this measured faster than one loop sharing one exit branch.
#pragma GCC unroll 8
    for (; r < plan.refs; ++r) {
      const std::uint8_t* const ref = ip + plan.at[r];
      copy16(op, ref - plan.lits[r]);
      op += plan.lits[r];
      const std::size_t pair = load_u16_le(ref);  // b1 | b2 << 8
      const std::size_t offset = (pair & 0xFF) | ((pair >> 4) & 0xF00);
      const std::size_t length = ((pair >> 8) & 0x0F) + 2;
      if constexpr (kNearStart) {
        if (offset > static_cast<std::size_t>(op - out)) break;
      }
      if (offset < 16) [[unlikely]] {
        if (offset < 8) break;
        // 8 to 15 bytes back: 8-byte steps, each reading only bytes already written.
        copy8(op, op - offset);
        copy8(op + 8, op + 8 - offset);
        if (length > 16) copy8(op + 16, op + 16 - offset);
      } else {
        copy16(op, op - offset);
        if (length > 16) copy16(op + 16, op + 16 - offset);
      }
      op += length;
    }
    if (r < plan.refs) {
      // The reference is token `at - r` of the group: each reference before it took two bytes.
      const unsigned token = plan.at[r] - r;
      auto at_in = static_cast<std::size_t>(ip + plan.at[r] - in);
      auto at_out = static_cast<std::size_t>(op - out);
      going = finish_group(in, in_size, out, out_size, at_in, at_out, (control << token) & 0xFF,
                           8 - static_cast<int>(token));
      ip = in + at_in;
      op = out + at_out;
      if (!going) break;
      continue;
    }
    copy16(op, ip + plan.size - plan.tail);
    op += plan.tail;
    ip += plan.size;
  }
  ip_index = static_cast<std::size_t>(ip - in);
  op_index = static_cast<std::size_t>(op - out);
  return going;
}

// The decoder token by token, with every check: the stream's start and end, the output size.
struct CarefulDecoder {
  const std::uint8_t* in;
  std::size_t in_size;
  std::uint8_t* out;
  std::size_t limit;   // the output size, or less where the stream cannot reach it
  std::size_t ip = 0;  // index of the next unread byte of the stream
  std::size_t op = 0;  // bytes produced
  std::uint8_t control_byte = 0;
  std::uint8_t control_bit = 0;  // 0: the next byte is a control byte

  // Decodes one token; false when decoding has stopped.
  bool step() {
    if (op >= limit || ip >= in_size) return false;
    if (control_bit == 0) {
      control_byte = in[ip++];
      control_bit = 0x80;
    }
    if ((control_byte & control_bit) != 0) {
      if (ip + 1 >= in_size) return false;
      const std::size_t b1 = in[ip];
      const std::size_t b2 = in[ip + 1];
      ip += 2;
      const std::size_t offset = b1 | (b2 & 0xF0) << 4;
      const std::size_t length = (b2 & 0x0F) + 2;
      // Offset 0 ends the stream; a reference with no output before it has nothing to copy.
      if (offset == 0 || op == 0) return false;
      for (std::size_t i = 0; i < length && op < limit; ++i, ++op) {
        out[op] = out[offset > op ? 0 : op - offset];
      }
    } else {
      if (ip >= in_size) return false;
      out[op++] = in[ip++];
    }
    control_bit >>= 1;
    return true;
  }
};

}  // namespace

std::vector<std::uint8_t> decompress_lrs(std::span<const std::uint8_t> input) {
  if (input.size() < 4) return {input.begin(), input.end()};

  const std::size_t output_size =
      static_cast<std::size_t>(input[0]) | static_cast<std::size_t>(input[1]) << 8 |
      static_cast<std::size_t>(input[2]) << 16 | static_cast<std::size_t>(input[3]) << 24;
  const std::uint8_t* const in = input.data() + 4;
  const std::size_t in_size = input.size() - 4;

  // A group of 17 input bytes yields at most 136 output bytes, so the stream cannot produce more
  // than nine output bytes per input byte: a buffer beyond that would only serve a hostile size
  // field. The buffer is sized once and cut to the bytes produced at the end; below `limit` every
  // byte that the stream can produce has its place.
  const std::size_t limit = std::min(output_size, in_size * 9);
  std::vector<std::uint8_t> output(limit);
  std::uint8_t* const out = output.data();

  CarefulDecoder careful{in, in_size, out, limit};
  // Token by token until 16 bytes exist and a group is complete, then whole groups, then token
  // by token again to the end.
  bool going = true;
  while (going && (careful.op < 16 || careful.control_bit != 0)) going = careful.step();
  // Until the output holds the longest distance, a reference may reach past its start.
  constexpr std::size_t kLongestOffset = 4095;
  if (going) {
    going =
        decode_whole_groups<true>(in, in_size, out, limit, careful.ip, careful.op, kLongestOffset);
  }
  if (going && careful.op > kLongestOffset) {
    going = decode_whole_groups<false>(in, in_size, out, limit, careful.ip, careful.op, SIZE_MAX);
  }
  while (going) going = careful.step();
  output.resize(careful.op);
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
    }
    if ((lead & 0xE0) == 0xC0) {
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
  // The caller's environment, read as it stands; this library never sets it.
  return find_portal_dat_path(std::getenv("FERNGATE_PORTAL_DAT"),  // NOLINT(concurrency-mt-unsafe)
                              FERNGATE_DAT_SOURCE_DIR);
}

}  // namespace ferngate_dat
