// The full and short serialized forms: stream writers and readers, files, and memory.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "respmat/garray.h"
#include "container/garray_policy.h"
#include "container/varint_checked.h"
#include "base/stream_read.h"

using namespace respmat::detail;

namespace {

enum class Form { Full, Short };

constexpr std::size_t kFloatBytes = 4;
constexpr std::size_t kFullHeaderMax = 3 * kVarintMaxBytes + kFloatBytes;
constexpr std::size_t kShortHeaderMax = 2 * kVarintMaxBytes;
constexpr float kShortFormFillPercent = 60.0f;
// The elements of a form back a block of up to twice their size (the capacity its
// count implies at any fill level from 0 to 100). A stored min_capacity asks for room
// that nothing in the form backs, so the slots it adds beyond that are granted only up
// to the larger of this allowance and the form's element bytes: a few forged header
// bytes cannot make a reader allocate gigabytes.
constexpr std::uint64_t kMinCapacityAllowanceBytes = 1 << 24;
// On a stream that cannot be measured the element bytes are first collected in
// pieces of at most this size, so the memory asked for follows the data that arrive.
constexpr std::size_t kUnmeasuredPieceBytes = 1 << 16;

// The header fields of a form; a short form's min_capacity and fill_percent are the
// defaults it loads with.
struct Header {
  std::uint32_t count = 0;
  std::uint32_t elem_size = 0;
  std::uint32_t min_capacity = 0;
  float fill_percent = 0.0f;
};

void store_float_le(float value, std::uint8_t *out) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  for (std::size_t i = 0; i < kFloatBytes; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

float load_float_le(const std::uint8_t *in) {
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < kFloatBytes; ++i) bits |= std::uint32_t{in[i]} << (8 * i);
  return std::bit_cast<float>(bits);
}

// Stores the header of `ga` in the chosen form; returns its length.
std::size_t encode_header(const GrowArray *ga, Form form, std::uint8_t *out) {
  std::uint8_t *cursor = out;
  varint_write_mem(ga->count, &cursor);
  varint_write_mem(ga->elem_size, &cursor);
  if (form == Form::Full) {
    varint_write_mem(ga->min_capacity, &cursor);
    store_float_le(ga->fill_percent, cursor);
    cursor += kFloatBytes;
  }
  return static_cast<std::size_t>(cursor - out);
}

// The element bytes of a form, or nothing when they do not fit in 32 bits.
std::optional<std::uint32_t> payload_bytes(std::uint32_t count, std::uint32_t elem_size) {
  std::uint32_t bytes = 0;
  if (__builtin_mul_overflow(count, elem_size, &bytes)) return std::nullopt;
  return bytes;
}

// Writes the header in one call and the elements in another. Returns the number of
// elements written, or nothing when the header write falls short.
std::optional<std::size_t> write_form(const GrowArray *ga, Form form, std::FILE *stream) {
  std::uint8_t header[kFullHeaderMax];
  const std::size_t length = encode_header(ga, form, header);
  if (std::fwrite(header, 1, length, stream) != length) return std::nullopt;
  if (ga->count == 0 || ga->elem_size == 0) return ga->count;
  return std::fwrite(ga->data, ga->elem_size, ga->count, stream);
}

std::uint8_t *pack_form(const GrowArray *ga, Form form, std::uint32_t *out_length) {
  *out_length = 0;
  const std::size_t header_max = form == Form::Full ? kFullHeaderMax : kShortHeaderMax;
  const std::optional<std::uint32_t> payload = payload_bytes(ga->count, ga->elem_size);
  std::uint32_t room = 0;
  if (!payload || __builtin_add_overflow(*payload, header_max, &room)) return nullptr;
  auto *buffer = static_cast<std::uint8_t *>(garray_allocator(room));
  if (buffer == nullptr) return nullptr;
  const std::size_t length = encode_header(ga, form, buffer);
  if (*payload != 0) std::memcpy(buffer + length, ga->data, *payload);
  *out_length = static_cast<std::uint32_t>(length + *payload);
  return buffer;
}

bool valid_fill_percent(float f) { return f >= 0.0f && f <= 100.0f; }

// Leaves a record that could not be loaded zeroed, holding nothing.
GrowArray *reject(GrowArray *ga) {
  *ga = GrowArray{};
  return nullptr;
}

// As reject, for a record that already holds the block start_record gave it.
GrowArray *discard(GrowArray *ga) {
  std::free(ga->data);
  return reject(ga);
}

// The capacity that `count` elements imply: T(count) at the form's fill level for a
// full form, count x 1.25 for a short one; never below count, and no more slots than a
// block of 32-bit size holds (a form whose elements fill most of that range is still
// read back).
std::uint32_t count_capacity(const Header &header, Form form) {
  std::uint32_t capacity;
  if (form == Form::Full) {
    capacity = garray_target_capacity(header.fill_percent, header.count);
  } else {
    const double scaled = static_cast<double>(header.count) * 1.25;
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    capacity = scaled > kMax ? kMax : static_cast<std::uint32_t>(scaled);
  }
  if (header.elem_size != 0) {
    const std::uint32_t fitting = std::numeric_limits<std::uint32_t>::max() / header.elem_size;
    if (capacity > fitting) capacity = fitting;
  }
  return garray_max_unsigned(capacity, header.count);
}

// The loading capacity, max(count capacity, min_capacity), or nothing when the slots
// that min_capacity adds would take more memory than the form justifies.
std::optional<std::uint32_t> loading_capacity(const Header &header, Form form) {
  const std::uint32_t implied = count_capacity(header, form);
  if (header.min_capacity <= implied) return implied;
  const std::uint64_t added = std::uint64_t{header.min_capacity - implied} * header.elem_size;
  const std::uint64_t payload = std::uint64_t{header.count} * header.elem_size;
  if (added > std::max(kMinCapacityAllowanceBytes, payload)) return std::nullopt;
  return header.min_capacity;
}

// Fills `ga` from `header` with a block for the loading capacity, leaving the
// elements to the caller. Returns false, leaving `ga` zeroed, when the block is
// refused, does not fit in 32 bits or memory runs out.
bool start_record(GrowArray *ga, const Header &header, Form form) {
  const std::optional<std::uint32_t> capacity = loading_capacity(header, form);
  void *block = capacity ? garray_allocate_slots(*capacity, header.elem_size) : nullptr;
  if (block == nullptr) {
    reject(ga);
    return false;
  }
  *ga = GrowArray{.data = block,
                  .alias_slot = nullptr,
                  .count = header.count,
                  .capacity = *capacity,
                  .min_capacity = header.min_capacity,
                  .elem_size = header.elem_size,
                  .fill_percent = header.fill_percent};
  return true;
}

// Header defaults of a short form, read at the time of loading.
Header short_form_defaults() {
  Header header;
  header.min_capacity = default_min_capacity;
  header.fill_percent = kShortFormFillPercent;
  return header;
}

bool read_header(std::FILE *stream, Form form, Header *header) {
  if (!varint_read_stream_checked(stream, &header->count) ||
      !varint_read_stream_checked(stream, &header->elem_size))
    return false;
  if (form == Form::Short) return true;
  std::uint8_t fill[kFloatBytes];
  if (!varint_read_stream_checked(stream, &header->min_capacity) ||
      read_fully(fill, 1, kFloatBytes, stream) != kFloatBytes)
    return false;
  header->fill_percent = load_float_le(fill);
  return valid_fill_percent(header->fill_percent);
}

GrowArray *read_form(GrowArray *ga, Form form, std::FILE *stream) {
  Header header = short_form_defaults();
  if (!read_header(stream, form, &header)) return reject(ga);
  const std::optional<std::uint32_t> payload = payload_bytes(header.count, header.elem_size);
  if (!payload) return reject(ga);
  // A seekable stream is measured first, so a forged count cannot make us allocate
  // far more than the input holds; any other stream delivers the elements first.
  const std::optional<std::uint64_t> left = bytes_left(stream);
  if (left && *left < *payload) return reject(ga);
  if (!left && *payload > kUnmeasuredPieceBytes) {
    auto *elements = static_cast<std::uint8_t *>(read_growing(stream, *payload, kUnmeasuredPieceBytes));
    if (elements == nullptr) return reject(ga);
    const bool started = start_record(ga, header, form);
    if (started) std::memcpy(ga->data, elements, *payload);
    std::free(elements);
    return started ? ga : nullptr;
  }
  if (!start_record(ga, header, form)) return nullptr;
  if (*payload != 0 && read_fully(ga->data, 1, *payload, stream) != *payload) return discard(ga);
  return ga;
}

GrowArray *unpack_form(GrowArray *ga, Form form, const std::uint8_t *src, std::size_t length,
                       const std::uint8_t **out_end) {
  const std::uint8_t *cursor = src;
  const auto left = [&] { return length - static_cast<std::size_t>(cursor - src); };
  Header header = short_form_defaults();
  if (!varint_read_mem_checked(&cursor, left(), &header.count) ||
      !varint_read_mem_checked(&cursor, left(), &header.elem_size))
    return reject(ga);
  if (form == Form::Full) {
    if (!varint_read_mem_checked(&cursor, left(), &header.min_capacity) || left() < kFloatBytes)
      return reject(ga);
    header.fill_percent = load_float_le(cursor);
    cursor += kFloatBytes;
    if (!valid_fill_percent(header.fill_percent)) return reject(ga);
  }
  const std::optional<std::uint32_t> payload = payload_bytes(header.count, header.elem_size);
  if (!payload || left() < *payload) return reject(ga);
  if (!start_record(ga, header, form)) return nullptr;
  if (*payload != 0) std::memcpy(ga->data, cursor, *payload);
  if (out_end != nullptr) *out_end = cursor + *payload;
  return ga;
}

// The unbounded unpackers trust the caller that a complete form lies at src.
constexpr std::size_t kUnbounded = SIZE_MAX;

}  // namespace

extern "C" size_t garray_write_full(const GrowArray *ga, FILE *stream) {
  return write_form(ga, Form::Full, stream).value_or(0);
}

extern "C" size_t garray_write_short(const GrowArray *ga, FILE *stream) {
  return write_form(ga, Form::Short, stream).value_or(0);
}

extern "C" int garray_save_short(const GrowArray *ga, const char *path) {
  std::FILE *file = std::fopen(path, "wb");
  if (file == nullptr) return EOF;
  const bool written = write_form(ga, Form::Short, file) == std::optional<std::size_t>{ga->count};
  const int closed = std::fclose(file);
  return written ? closed : EOF;
}

extern "C" uint8_t *garray_pack_full(const GrowArray *ga, uint32_t *out_length) {
  return pack_form(ga, Form::Full, out_length);
}

extern "C" uint8_t *garray_pack_short(const GrowArray *ga, uint32_t *out_length) {
  return pack_form(ga, Form::Short, out_length);
}

extern "C" GrowArray *garray_read_full(GrowArray *ga, FILE *stream) {
  return read_form(ga, Form::Full, stream);
}

extern "C" GrowArray *garray_read_short(GrowArray *ga, FILE *stream) {
  return read_form(ga, Form::Short, stream);
}

extern "C" GrowArray *garray_load_short(GrowArray *ga, const char *path) {
  std::FILE *file = std::fopen(path, "rb");
  if (file == nullptr) return reject(ga);
  GrowArray *loaded = read_form(ga, Form::Short, file);
  std::fclose(file);
  return loaded;
}

extern "C" GrowArray *garray_unpack_full(GrowArray *ga, const uint8_t *src,
                                         const uint8_t **out_end) {
  return unpack_form(ga, Form::Full, src, kUnbounded, out_end);
}

extern "C" GrowArray *garray_unpack_short(GrowArray *ga, const uint8_t *src,
                                          const uint8_t **out_end) {
  return unpack_form(ga, Form::Short, src, kUnbounded, out_end);
}

extern "C" GrowArray *garray_unpack_full_bounded(GrowArray *ga, const uint8_t *src, size_t length,
                                                 const uint8_t **out_end) {
  return unpack_form(ga, Form::Full, src, length, out_end);
}

extern "C" GrowArray *garray_unpack_short_bounded(GrowArray *ga, const uint8_t *src, size_t length,
                                                  const uint8_t **out_end) {
  return unpack_form(ga, Form::Short, src, length, out_end);
}
