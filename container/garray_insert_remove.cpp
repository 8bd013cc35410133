// Insertion, removal and search on a GrowArray.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "respmat/garray.h"
#include "base/malloc_block.h"
#include "container/garray_policy.h"

using namespace respmat::detail;

namespace {

// Whether any of the `bytes` bytes at `p` lie in the array's storage block.
bool in_storage(const GrowArray *ga, const void *p, std::size_t bytes) {
  const auto begin = reinterpret_cast<std::uintptr_t>(ga->data);
  const auto end = begin + static_cast<std::size_t>(ga->capacity) * ga->elem_size;
  const auto first = reinterpret_cast<std::uintptr_t>(p);
  return first < end && first + bytes > begin;
}

}  // namespace

// The adding operations read their source only after making room; a relocation keeps
// the old block alive in `retired` until then, so a source inside it stays readable.
// New slots lie behind the elements in use, so memmove covers a source in the spare
// slots as well.

extern "C" uint32_t garray_push(GrowArray *ga, const void *elem) {
  const std::uint32_t i = ga->count;
  RetiredBlock retired;
  if (!garray_make_room(ga, std::uint64_t{i} + 1, retired)) return GARRAY_NPOS;
  std::memmove(slot(ga, i), elem, ga->elem_size);
  ga->count = i + 1;
  return i;
}

extern "C" void *garray_extend(GrowArray *ga, uint32_t n) {
  const std::uint32_t i = ga->count;
  RetiredBlock retired;
  if (!garray_make_room(ga, std::uint64_t{i} + n, retired)) return nullptr;
  ga->count = i + n;
  return slot(ga, i);
}

extern "C" uint32_t garray_append_n(GrowArray *ga, const void *elems, uint32_t n) {
  const std::uint32_t i = ga->count;
  if (n == 0) return i;
  RetiredBlock retired;
  if (!garray_make_room(ga, std::uint64_t{i} + n, retired)) return GARRAY_NPOS;
  std::memmove(slot(ga, i), elems, static_cast<std::size_t>(n) * ga->elem_size);
  ga->count = i + n;
  return i;
}

extern "C" uint32_t garray_push_copies(GrowArray *ga, const void *elem, int32_t n) {
  const std::uint32_t r = ga->count;
  for (std::int32_t k = 0; k < n; ++k) {
    RetiredBlock retired;
    if (!garray_make_room(ga, std::uint64_t{ga->count} + 1, retired)) {
      ga->count = r;
      return GARRAY_NPOS;
    }
    // After the first copy the source is slot r, which follows the elements when they
    // move; the caller's address might have been in a block released since.
    const void *source = k == 0 ? elem : slot(ga, r);
    std::memmove(slot(ga, ga->count), source, ga->elem_size);
    ++ga->count;
  }
  return r;
}

extern "C" void *garray_append_array(GrowArray *ga, const GrowArray *src) {
  if (src->elem_size != ga->elem_size) return nullptr;
  // Taken before making room, since `src` may be `ga` itself.
  const std::uint32_t i = ga->count;
  const std::uint32_t m = src->count;
  const void *source = src->data;
  RetiredBlock retired;
  if (!garray_make_room(ga, std::uint64_t{i} + m, retired)) return nullptr;
  if (m != 0) std::memmove(slot(ga, i), source, static_cast<std::size_t>(m) * ga->elem_size);
  ga->count = i + m;
  return slot(ga, i);
}

extern "C" void *garray_insert(GrowArray *ga, const void *elem, uint32_t pos) {
  const std::uint32_t count = ga->count;
  if (pos > count) pos = count;
  // Moving the tail would shift an element that lies in the storage, so such an
  // element is inserted from a private copy.
  MallocBlock<void> own_copy;
  if (in_storage(ga, elem, ga->elem_size)) {
    own_copy.reset(garray_allocate_slots(1, ga->elem_size));
    if (own_copy == nullptr) return nullptr;
    std::memcpy(own_copy.get(), elem, ga->elem_size);
    elem = own_copy.get();
  }
  RetiredBlock retired;
  if (!garray_make_room(ga, std::uint64_t{count} + 1, retired)) return nullptr;
  unsigned char *at = slot(ga, pos);
  std::memmove(at + ga->elem_size, at, static_cast<std::size_t>(count - pos) * ga->elem_size);
  std::memcpy(at, elem, ga->elem_size);
  ga->count = count + 1;
  return at;
}

extern "C" uint32_t garray_find(const GrowArray *ga, const void *key) {
  for (std::uint32_t i = ga->count; i-- > 0;)
    if (std::memcmp(slot(ga, i), key, ga->elem_size) == 0) return i;
  return GARRAY_NPOS;
}

extern "C" uint32_t garray_push_unique(GrowArray *ga, const void *elem) {
  if (garray_find(ga, elem) != GARRAY_NPOS) return GARRAY_NPOS;
  return garray_push(ga, elem);
}

extern "C" void garray_remove_swap(GrowArray *ga, uint32_t index) {
  if (index >= ga->count) return;
  const std::uint32_t last = ga->count - 1;
  if (index < last) std::memcpy(slot(ga, index), slot(ga, last), ga->elem_size);
  ga->count = last;
  garray_apply_shrink_rule(ga);
}

extern "C" void garray_remove_at(GrowArray *ga, uint32_t index) {
  if (index >= ga->count) return;
  const std::uint32_t last = ga->count - 1;
  std::memmove(slot(ga, index), slot(ga, index + 1),
               static_cast<std::size_t>(last - index) * ga->elem_size);
  ga->count = last;
  garray_apply_shrink_rule(ga);
}

extern "C" void garray_remove_value_swap(GrowArray *ga, const void *key) {
  const std::uint32_t i = garray_find(ga, key);
  if (i != GARRAY_NPOS) garray_remove_swap(ga, i);
}

extern "C" void garray_remove_value(GrowArray *ga, const void *key) {
  const std::uint32_t i = garray_find(ga, key);
  if (i != GARRAY_NPOS) garray_remove_at(ga, i);
}
