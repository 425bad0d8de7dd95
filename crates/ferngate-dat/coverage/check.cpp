#include "check.hpp"

#include <fmt/format.h>

#include "lib.hpp"
#include "report.hpp"
#include "utils.hpp"
#include "walk.hpp"

namespace ferngate_coverage {

using ferngate_dat::DatDatabase;

void stop(std::string message) { throw CheckFailure(std::move(message)); }

std::optional<std::filesystem::path> retail_portal_dat_path() {
  if (auto located = ferngate_dat::get_portal_dat_path()) return located;
  std::filesystem::path fixed("/home/dunmore/base_dats/client_portal.dat");
  if (ferngate_dat::path_exists(fixed)) return fixed;
  return std::nullopt;
}

void texture_format_coverage_against_retail_portal_dat() {
  const auto dat_path = retail_portal_dat_path();
  if (!dat_path) {
    fmt::print(stderr,
               "SKIP texture_format_coverage_against_retail_portal_dat: client_portal.dat not "
               "found\n");
    return;
  }
  auto dat = DatDatabase::open(*dat_path);
  if (!dat) stop(fmt::format("open retail portal.dat: {:?}", dat.error()));

  const Tallies tallies = walk_textures(*dat);
  print_distribution(tallies, stderr);
  print_counters(tallies, stderr);
  check_verdicts(tallies, stderr);
}

}  // namespace ferngate_coverage
