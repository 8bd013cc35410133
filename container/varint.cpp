// The varint codec (final byte marked by the high bit) and the zigzag mapping.
#include <cstdio>

#include "respmat/garray.h"
#include "container/varint_checked.h"
#include "base/stream_read.h"

namespace {

constexpr std::uint8_t kFinalByte = 0x80;
constexpr std::uint8_t kGroupBits = 0x7F;

// Stores the encoding of `v` at `out`; returns its length.
std::size_t encode(std::uint32_t v, std::uint8_t *out) {
  std::size_t length = 0;
  do {
    out[length++] = static_cast<std::uint8_t>(v & kGroupBits);
    v >>= 7;
  } while (v != 0);
  out[length - 1] |= kFinalByte;
  return length;
}

// Adds group `index` of a number to `value`; bits above bit 31 drop out.
std::uint32_t add_group(std::uint32_t value, std::size_t index, std::uint8_t byte) {
  return value | static_cast<std::uint32_t>(byte & kGroupBits) << (7 * index);
}

}  // namespace

namespace respmat::detail {

bool varint_read_stream_checked(std::FILE *stream, std::uint32_t *value) {
  *value = 0;
  for (std::size_t i = 0; i < kVarintMaxBytes; ++i) {
    const int c = get_byte(stream);
    if (c == EOF) return false;
    const auto byte = static_cast<std::uint8_t>(c);
    *value = add_group(*value, i, byte);
    if ((byte & kFinalByte) != 0) return true;
  }
  return false;
}

bool varint_read_mem_checked(const std::uint8_t **cursor, std::size_t available,
                             std::uint32_t *value) {
  *value = 0;
  const std::size_t limit = available < kVarintMaxBytes ? available : kVarintMaxBytes;
  for (std::size_t i = 0; i < limit; ++i) {
    const std::uint8_t byte = *(*cursor)++;
    *value = add_group(*value, i, byte);
    if ((byte & kFinalByte) != 0) return true;
  }
  return false;
}

}  // namespace respmat::detail

extern "C" size_t varint_write_stream(uint32_t v, FILE *stream) {
  std::uint8_t staged[respmat::detail::kVarintMaxBytes];
  return std::fwrite(staged, 1, encode(v, staged), stream);
}

extern "C" void varint_write_mem(uint32_t v, uint8_t **cursor) { *cursor += encode(v, *cursor); }

extern "C" uint32_t varint_read_stream(FILE *stream) {
  std::uint32_t value;
  static_cast<void>(respmat::detail::varint_read_stream_checked(stream, &value));
  return value;
}

extern "C" uint32_t varint_read_mem(const uint8_t **cursor) {
  std::uint32_t value;
  static_cast<void>(
      respmat::detail::varint_read_mem_checked(cursor, respmat::detail::kVarintMaxBytes, &value));
  return value;
}

extern "C" uint32_t zigzag_encode(int32_t s) {
  const auto u = static_cast<std::uint32_t>(s);
  return (u << 1) ^ static_cast<std::uint32_t>(s >> 31);
}

extern "C" int32_t zigzag_decode(uint32_t u) {
  return static_cast<std::int32_t>((u >> 1) ^ (0u - (u & 1u)));
}
