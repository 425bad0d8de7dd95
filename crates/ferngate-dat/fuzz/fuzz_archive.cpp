// The whole archive: the input is an archive file, opened and read file by file, every stored
// file's block chain compared with the plain two-reads-per-block walk (the same bytes, or the
// same error), then parsed as a texture and converted.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.hpp"
#include "lib.hpp"
#include "reference_chain_reader.hpp"

namespace {

// The input becomes a file through an in-memory file descriptor, reused from run to run.
std::string input_path(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("fuzz-archive", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, 0) != 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t wrote = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (wrote <= 0) std::abort();
    done += static_cast<std::size_t>(wrote);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto dat = ferngate_dat::DatDatabase::open(input_path(data, size));
  if (!dat) return 0;
  for (const auto& [id, entry] : dat->files()) {
    const auto stored = dat->read_file_data(entry.offset, entry.size);
    const auto plain = ferngate_testing::reference_read_chain(
        {data, size}, dat->header().block_size, entry.offset, entry.size);
    if (stored != plain) {
      std::fprintf(stderr,
                   "the chain of file 0x%08X (offset 0x%08X, %u bytes) reads otherwise "
                   "than two reads per block\n",
                   id, entry.offset, entry.size);
      std::abort();
    }
    const auto bytes = dat->get_file(id);
    if (!bytes) continue;
    const auto texture = ferngate_dat::Texture::unpack(*bytes);
    if (texture) ferngate_fuzz::convert_and_check(*texture, {static_cast<std::uint16_t>(id)});
  }
  return 0;
}
