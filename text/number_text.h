// Internal: number conversions of the delimited-text paths, equal to the C library's
// but faster on the common forms.
#ifndef RESPMAT_TEXT_NUMBER_TEXT_H
#define RESPMAT_TEXT_NUMBER_TEXT_H

#include <cstddef>

namespace respmat::detail {

// The value std::atof gives for the text [begin, end) followed by a NUL in the "C"
// locale, rounding to nearest: leading white space skipped, the longest numeric
// prefix read, 0.0 when there is none. Neither the process locale nor the rounding
// mode changes the result.
[[nodiscard]] double parse_number(const char *begin, const char *end);

// parse_number() without first trying the simple decimal form (simple_decimal.h),
// for callers that have already tried it on the same text.
[[nodiscard]] double parse_number_in_general(const char *begin, const char *end);

// True when [begin, end) holds one number and nothing else but white space around
// it: the whole text is the numeric prefix that std::atof reads. `value` is then the
// number std::atof gives in the "C" locale, rounding to nearest; otherwise it is left
// alone. A NUL in the text is neither number nor white space.
[[nodiscard]] bool parse_whole_number(const char *begin, const char *end, double &value);

// Enough room for any double printed by format_g16, without a NUL.
inline constexpr std::size_t kMaxG16Length = 24;

// Writes `value` exactly as printf("%.16lg") does in the "C" locale, rounding to
// nearest, without a NUL; returns the end. Integer arithmetic throughout, so neither
// the process locale nor the rounding mode changes the text. All kMaxG16Length bytes
// from `out` must be writable: the digits are stored in whole words, which may
// overwrite bytes past the returned end.
char *format_g16(double value, char *out);

}  // namespace respmat::detail

#endif
