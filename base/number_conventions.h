// Internal: the conventions every number conversion of the library keeps, whatever
// the process has set: the "C" locale's forms (a '.' decimal point, no grouping) and
// rounding to nearest. Data files then read and write the same on every machine and
// in every program that uses the library.
#ifndef RESPMAT_BASE_NUMBER_CONVENTIONS_H
#define RESPMAT_BASE_NUMBER_CONVENTIONS_H

#include <locale.h>
#include <xmmintrin.h>

#include <cfenv>

namespace respmat::detail {

// The "C" locale, for the conversions that take one (strtod_l); null only when the
// C library cannot provide it.
[[nodiscard]] locale_t c_locale();

// Rounds to nearest in this thread for the rest of the scope when another mode is
// set, and restores that mode at the end. The floating-point environment is per
// thread, so other threads are not affected.
class RoundToNearest {
 public:
  RoundToNearest() : saved_(std::fegetround()) {
    if (saved_ != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  }
  RoundToNearest(const RoundToNearest &) = delete;
  RoundToNearest &operator=(const RoundToNearest &) = delete;
  ~RoundToNearest() {
    if (saved_ != FE_TONEAREST) std::fesetround(saved_);
  }

 private:
  int saved_;
};

// True when double arithmetic in this thread rounds to nearest: one read of the
// processor's control register, much cheaper than asking fegetround().
inline bool double_arithmetic_rounds_to_nearest() {
  constexpr unsigned kRoundingBits = 0x6000;  // MXCSR bits 13-14; 0 is to nearest
  return (_mm_getcsr() & kRoundingBits) == 0;
}

// For printf-family calls with a caller's format: the "C" locale and rounding to
// nearest in this thread for the rest of the scope; the thread's own locale and mode
// come back at the end.
class CNumberConventions {
 public:
  CNumberConventions() : saved_locale_(::uselocale(c_locale())) {}
  CNumberConventions(const CNumberConventions &) = delete;
  CNumberConventions &operator=(const CNumberConventions &) = delete;
  ~CNumberConventions() {
    if (saved_locale_ != locale_t{}) ::uselocale(saved_locale_);
  }

 private:
  locale_t saved_locale_;
  RoundToNearest nearest_;
};

}  // namespace respmat::detail

#endif
