// Writes every hostile archive into a directory, one file each, named by a number and a slug of
// its description, for scripts/hostile-resources to measure the check on.
#include <cctype>
#include <cstdio>
#include <filesystem>

#include <fmt/format.h>

#include "archive_writer.hpp"
#include "hostile_archives.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    fmt::print(stderr, "usage: write-hostile-archives DIR\n");
    return 2;
  }
  const std::filesystem::path dir(argv[1]);
  std::filesystem::create_directories(dir);
  int number = 0;
  for (const auto& archive : ferngate_testing::hostile_archives()) {
    std::string slug;
    for (const char ch : archive.name) {
      if (std::isalnum(static_cast<unsigned char>(ch))) {
        slug.push_back(ch);
      } else if (!slug.empty() && slug.back() != '-') {
        slug.push_back('-');
      }
    }
    const auto path = dir / fmt::format("{:02}-{}.dat", ++number, slug);
    ferngate_testing::write_file(path, archive.image);
    fmt::print("{}\t{}\n", path.string(), archive.name);
  }
  return 0;
}
