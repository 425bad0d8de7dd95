// The sample archive: a deterministic, retail-like portal archive for the coverage check to run
// on when no game data is at hand.
//
// It holds texture records under the top bytes 0x06 (most) and 0x07 (some) in every pixel format
// the decoder knows: mostly DXT1 and DXT5 at power-of-two sizes from 32 to 512, the uncompressed
// formats, the two landscape formats, P8 and Index16 with their palette IDs, JPEG streams, and a
// few DXT2, DXT3 and DXT4. The pixels show gradients, checkers, rings, bricks and the like, each
// record its own. Beside them lie non-texture files under other top bytes: the palettes (0x04)
// and assorted opaque records (0x01, 0x02, 0x03, 0x08, 0x0A, 0x0D, 0x0E). About a fifth of the
// files are stored compressed.
//
// The same options give the same bytes, whatever the number of threads: every record draws its
// contents from its own generator, seeded from the seed and the record's index. Integer pattern
// arithmetic and std::mt19937_64 (whose sequence the C++ standard fixes) make the records portable;
// the DXT blocks (stb_dxt, single-precision arithmetic), the JPEG streams (libjpeg-turbo) and
// the block placement of the archive writer (std::shuffle) are reproduced exactly by the same
// build, and may differ between compilers, standard libraries or library versions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "archive_writer.hpp"
#include "file_type/palette.hpp"

namespace ferngate_sample {

using ferngate_testing::StoredFile;

inline constexpr std::uint32_t kDefaultTextureCount = 20000;
inline constexpr std::uint64_t kDefaultSeed = 0x5EED'F3A6'0001;
inline constexpr std::uint32_t kDefaultBlockSize = 1024;
/// Beyond this many textures the archive would approach the 4 GiB that 32-bit offsets reach.
inline constexpr std::uint32_t kMaxTextureCount = 100000;
/// Block sizes outside this range are refused: smaller ones waste most of the file on link words,
/// larger ones are nothing the format is used with.
inline constexpr std::uint32_t kMinBlockSize = 16;
inline constexpr std::uint32_t kMaxBlockSize = 65536;

struct SampleOptions {
  /// Number of texture records (top bytes 0x06 and 0x07).
  std::uint32_t texture_count = kDefaultTextureCount;
  std::uint64_t seed = kDefaultSeed;
  std::uint32_t block_size = kDefaultBlockSize;
  /// Every file's blocks one after another, as an archive written in one go has them; otherwise
  /// they are shuffled within batches of 64, as in an archive that files were rewritten in.
  bool adjacent_blocks = false;
  /// Worker threads that paint and encode the textures; 0 uses one per hardware thread. The
  /// output does not depend on it.
  unsigned threads = 0;
};

/// Every file of the sample archive, in ascending ID order: the texture records, the palettes
/// they name, and the other records. Throws std::runtime_error when an encoder fails (out of
/// memory).
[[nodiscard]] std::vector<StoredFile> sample_files(const SampleOptions& options);

/// The archive writer's settings for the sample: the block size, the B-tree directory, and the
/// block placement seeded from the sample's seed.
[[nodiscard]] ferngate_testing::ArchiveOptions sample_layout(const SampleOptions& options);

/// The whole archive image: sample_files() written with sample_layout().
[[nodiscard]] std::vector<std::uint8_t> sample_archive(const SampleOptions& options);

/// The stored form of a palette file: its ID, the number of colours, then the colour words
/// (alpha in bits 24-31, red 16-23, green 8-15, blue 0-7), all little-endian 32-bit.
[[nodiscard]] std::vector<std::uint8_t> encode_palette(const ferngate_dat::Palette& palette);
/// Reads a palette file written by encode_palette; nothing when the bytes are too short.
[[nodiscard]] std::optional<ferngate_dat::Palette> decode_palette(
    std::span<const std::uint8_t> bytes);

}  // namespace ferngate_sample
