#include "texture_records.hpp"

#include "archive_writer.hpp"

namespace ferngate_testing {

std::vector<std::uint8_t> encode_texture(const TextureRecord& record) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(28 + record.source_data.size());
  const auto length = record.length.value_or(static_cast<std::int32_t>(record.source_data.size()));
  const std::uint32_t head[] = {record.id,
                                static_cast<std::uint32_t>(record.unknown),
                                static_cast<std::uint32_t>(record.width),
                                static_cast<std::uint32_t>(record.height),
                                record.format_raw,
                                static_cast<std::uint32_t>(length)};
  for (const std::uint32_t value : head) put_u32(bytes, bytes.size(), value);
  bytes.insert(bytes.end(), record.source_data.begin(), record.source_data.end());
  if (record.default_palette_id) put_u32(bytes, bytes.size(), *record.default_palette_id);
  return bytes;
}

}  // namespace ferngate_testing
