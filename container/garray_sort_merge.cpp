// Sorting, de-duplication, union and intersection of GrowArrays.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/garray_policy.h"
#include "respmat/garray.h"

extern "C" {
uint32_t garray_compare_size = 0;
}

namespace {

using respmat::detail::slot;

bool same_as_previous(const GrowArray *ga, std::uint32_t index) {
  return std::memcmp(slot(ga, index), slot(ga, index - 1), ga->elem_size) == 0;
}

// Removes, scanning from the last slot down to slot 1, every element whose equality
// with its predecessor is `equal`. Each removal moves the then-last element into the
// freed slot, which lies above every slot still to be compared, so the comparisons
// always see neighbours of the sorted sequence.
void remove_where_neighbours(GrowArray *ga, bool equal) {
  for (std::uint32_t i = ga->count; i-- > 1;)
    if (same_as_previous(ga, i) == equal) garray_remove_swap(ga, i);
}

// A copy of `a` with the elements of `b` appended, or false (nothing held) when the
// element sizes differ or memory runs out.
bool concatenate(GrowArray *out, const GrowArray *a, const GrowArray *b) {
  if (a->elem_size != b->elem_size) return false;
  if (garray_copy(out, a) == nullptr) return false;
  if (garray_append_array(out, b) == nullptr) {
    garray_release(out);
    return false;
  }
  return true;
}

}  // namespace

extern "C" int garray_compare_bytes(const void *a, const void *b) {
  return std::memcmp(a, b, garray_compare_size);
}

extern "C" void garray_sort(GrowArray *ga, int (*compare)(const void *, const void *)) {
  // Elements of no bytes are all equal and already in order.
  if (ga->elem_size != 0) std::qsort(ga->data, ga->count, ga->elem_size, compare);
}

extern "C" void garray_sort_bytes(GrowArray *ga) {
  garray_compare_size = ga->elem_size;
  garray_sort(ga, garray_compare_bytes);
}

extern "C" void garray_sort_unique(GrowArray *ga) {
  garray_sort_bytes(ga);
  remove_where_neighbours(ga, true);
}

// Both set operations build the result in a local record and hand it over only when
// complete, so `result` is untouched on failure.

extern "C" GrowArray *garray_union(GrowArray *result, const GrowArray *a, const GrowArray *b) {
  GrowArray built;
  if (!concatenate(&built, a, b)) return nullptr;
  garray_sort_unique(&built);
  *result = built;
  return result;
}

extern "C" GrowArray *garray_intersection(GrowArray *result, const GrowArray *a,
                                          const GrowArray *b) {
  GrowArray built;
  if (!concatenate(&built, a, b)) return nullptr;
  garray_sort_bytes(&built);
  remove_where_neighbours(&built, false);
  // Slot 0 starts the first run and is never compared above; one of that run goes too.
  garray_remove_swap(&built, 0);
  *result = built;
  return result;
}
