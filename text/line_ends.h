// Internal: what ends a line in every text input the library reads: a line feed, a
// carriage return (which takes a line feed right after it along) or a NUL.
#ifndef RESPMAT_TEXT_LINE_ENDS_H
#define RESPMAT_TEXT_LINE_ENDS_H

#include <emmintrin.h>

namespace respmat::detail {

// Compiled for the baseline and, in the loader's SSSE3 line converter, with -mssse3:
// each instruction set's copy gets a name of its own, for the reason text/simple_decimal.h
// gives (one inline function, two definitions).
#ifdef __SSSE3__
inline namespace ssse3 {
#else
inline namespace baseline {
#endif

inline bool ends_line(char c) { return c == '\n' || c == '\r' || c == '\0'; }

// Bit k set when byte k of the sixteen ends a line.
inline unsigned line_end_mask(__m128i bytes) {
  const __m128i ends = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                                                 _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'))),
                                    _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
  return static_cast<unsigned>(_mm_movemask_epi8(ends));
}

// The first byte in [p, end) that ends a line, or end; sixteen bytes at a time.
inline const char *find_line_end(const char *p, const char *end) {
  for (; end - p >= 16; p += 16) {
    const unsigned mask = line_end_mask(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
    if (mask != 0) return p + __builtin_ctz(mask);
  }
  while (p != end && !ends_line(*p)) ++p;
  return p;
}

}  // inline namespace
}  // namespace respmat::detail

#endif
