// Internal: varint readers that report truncated or over-long numbers, for the
// serialized-form readers, which must not trust their input.
#ifndef RESPMAT_CONTAINER_VARINT_CHECKED_H
#define RESPMAT_CONTAINER_VARINT_CHECKED_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace respmat::detail {

// Any 32-bit value encodes in at most this many bytes.
inline constexpr std::size_t kVarintMaxBytes = 5;

// Reads one number from `stream` into *value (the groups read so far when it fails).
// Returns false when the input ends before the final byte or five bytes pass without it.
[[nodiscard]] bool varint_read_stream_checked(std::FILE *stream, std::uint32_t *value);

// Reads one number from at most `available` bytes at *cursor into *value and advances
// the cursor past the bytes taken. Returns false when no final byte lies within
// `available` bytes or the first five.
[[nodiscard]] bool varint_read_mem_checked(const std::uint8_t **cursor, std::size_t available,
                                           std::uint32_t *value);

}  // namespace respmat::detail

#endif
