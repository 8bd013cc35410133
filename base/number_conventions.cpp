#include "base/number_conventions.h"

namespace respmat::detail {

locale_t c_locale() {
  // Made once and kept for the life of the process; newlocale is thread-safe.
  static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t{});
  return c;
}

}  // namespace respmat::detail
