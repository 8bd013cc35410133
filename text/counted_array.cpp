// Counting, releasing and trimming counted arrays, and the field search of a table.
#include <cstdlib>
#include <cstring>

#include "text/counted_array_layout.h"
#include "respmat/text.h"

namespace {

unsigned char ascii_lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_ascii_case(const char *a, const char *b) {
  const auto *x = reinterpret_cast<const unsigned char *>(a);
  const auto *y = reinterpret_cast<const unsigned char *>(b);
  for (;; ++x, ++y) {
    if (ascii_lower(*x) != ascii_lower(*y)) return false;
    if (*x == '\0') return true;
  }
}

}  // namespace

extern "C" int32_t carray_count(const void *array) {
  return respmat::detail::counted_get_count(array);
}

extern "C" void carray_free_all(void *array) {
  if (array == nullptr) return;
  // The slots may hold any pointer type; they are read as bytes, not through void **.
  const auto *slots = static_cast<const unsigned char *>(array);
  for (std::int32_t i = carray_count(array); i-- > 0;) {
    void *element;
    std::memcpy(&element, slots + static_cast<std::size_t>(i) * sizeof element, sizeof element);
    std::free(element);
  }
  respmat::detail::counted_release(array);
}

extern "C" void carray_free(void *array) { respmat::detail::counted_release(array); }

extern "C" void carray_drop_front(void *array, int32_t k) {
  const std::int32_t n = carray_count(array);
  if (k <= 0) return;
  if (k > n) k = n;
  auto *slots = static_cast<unsigned char *>(array);
  std::memmove(slots, slots + static_cast<std::size_t>(k) * sizeof(void *),
               static_cast<std::size_t>(n - k) * sizeof(void *));
  respmat::detail::counted_set_count(array, n - k);
}

extern "C" int32_t table_find_field(StringTable table, const char *text, int32_t row) {
  if (row < 0 || row >= carray_count(table)) return -1;
  char **fields = table[row];
  for (std::int32_t j = carray_count(fields); j-- > 0;)
    if (equal_ignoring_ascii_case(fields[j], text)) return j;
  return -1;
}
