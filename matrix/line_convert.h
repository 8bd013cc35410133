// Internal: converting a line of numbers separated by one byte, each field read where
// it stands. Compiled once for the baseline instruction set (line_convert.cpp) and once
// more for SSSE3 (line_convert_ssse3.cpp), which reads the common short numbers faster;
// choose_line_converter() is the one place that picks between the two.
#ifndef RESPMAT_MATRIX_LINE_CONVERT_H
#define RESPMAT_MATRIX_LINE_CONVERT_H

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "text/line_ends.h"
#include "text/number_text.h"
#include "text/simple_decimal.h"

namespace respmat::detail {

// A copy of convert_line_in_place() (below) compiled for one instruction set.
using LineConverter = const char *(*)(char sep, const char *line, const char *stop, const char *input_end,
                                      std::int32_t cols, double *row);

const char *convert_line_baseline(char sep, const char *line, const char *stop, const char *input_end,
                                  std::int32_t cols, double *row);
// Runs only on processors with SSSE3.
const char *convert_line_ssse3(char sep, const char *line, const char *stop, const char *input_end,
                               std::int32_t cols, double *row);

// The copy for this process: the SSSE3 one where use_ssse3_kernels() says so, else the
// baseline one. Both give the same rows, byte for byte.
[[nodiscard]] LineConverter choose_line_converter();

// The inline functions below are compiled into translation units built for the
// baseline instruction set and into one built with -mssse3. Under one name they would
// have two different definitions, and the linker, keeping any one of them, could hand
// the SSSE3 copy to callers on processors without SSSE3. The inline namespace gives
// each instruction set's copy a name of its own.
#ifdef __SSSE3__
inline namespace ssse3 {
#else
inline namespace baseline {
#endif

// Calls on_field(begin, length) for each field of the line that starts at `line`, split
// at every `sep`, and returns the line's end: the first byte in [line, stop) that ends
// a line, or stop. The separators and line ends of sixteen bytes are found at a time, as
// bit masks, so the line is looked at once.
template <typename OnField>
inline const char *for_each_plain_field(char sep, const char *line, const char *stop, OnField on_field) {
  const __m128i seps = _mm_set1_epi8(sep);
  const char *field = line;
  const char *block = line;
  for (; stop - block >= 16; block += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, seps)));
    const unsigned ends = line_end_mask(bytes);
    if (ends != 0) mask &= (ends & -ends) - 1;  // only the separators before the line end
    for (; mask != 0; mask &= mask - 1) {
      const char *hit = block + __builtin_ctz(mask);
      on_field(field, static_cast<std::size_t>(hit - field));
      field = hit + 1;
    }
    if (ends != 0) {
      const char *line_end = block + __builtin_ctz(ends);
      on_field(field, static_cast<std::size_t>(line_end - field));
      return line_end;
    }
  }
  for (; block != stop && !ends_line(*block); ++block)
    if (*block == sep) {
      on_field(field, static_cast<std::size_t>(block - field));
      field = block + 1;
    }
  on_field(field, static_cast<std::size_t>(block - field));
  return block;
}

// The first `cols` fields of the line that starts at `line` into `row` as atof reads
// them, missing fields 0.0; returns the line's end, as for_each_plain_field() does.
// Requires a separator that cannot be part of a number and double arithmetic rounding
// to nearest. The fields are found by their separators, apart from reading them, so
// that reading one field never waits for the end of the one before. The input goes on
// after the line (to `input_end`) with bytes that end any number, so a number is read
// with the reach of the whole input rather than from a copy.
inline const char *convert_line_in_place(char sep, const char *line, const char *stop, const char *input_end,
                                         std::int32_t cols, double *row) {
  std::int32_t c = 0;
  const char *line_end = for_each_plain_field(sep, line, stop, [&](const char *field, std::size_t length) {
    if (c == cols) return;
    // A number followed by other text in its field is still the field's value, as atof
    // reads it; only a field where the simple form fails needs the general reader.
    double value = 0.0;
    row[c++] = parse_simple_decimal(field, input_end, value) != nullptr ? value
                                                                       : parse_number_in_general(field, field + length);
  });
  for (; c < cols; ++c) row[c] = 0.0;
  return line_end;
}

}  // inline namespace
}  // namespace respmat::detail

#endif
