// The coverage walk: every texture record of the archive fetched, parsed, counted, and (unless it
// needs a palette) converted to RGBA8 with its buffer length verified.
#pragma once

#include <cstdint>

#include "file_type/texture.hpp"
#include "lib.hpp"
#include "tallies.hpp"

namespace ferngate_coverage {

/// True for file IDs whose top byte marks a texture record (0x06 or 0x07).
constexpr bool is_texture_id(std::uint32_t id) {
  const std::uint32_t prefix = id >> 24;
  return prefix == 0x06 || prefix == 0x07;
}

/// Visits every texture record of `dat`, one at a time, and returns what it counted.
Tallies walk_textures(const ferngate_dat::DatDatabase& dat);

/// Converts one parsed record that needs no palette and records the outcome in `tallies`.
void convert_and_verify(std::uint32_t id, const ferngate_dat::Texture& texture, Tallies& tallies);

}  // namespace ferngate_coverage
