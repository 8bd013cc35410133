#include "failing_malloc.h"

#include <cstddef>

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
void __libc_free(void *pointer);
void *__libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

// The process has one thread while these run.
std::int64_t countdown = 0;  // 0: no failure planned
bool injected = false;
std::int64_t live = 0;
std::size_t largest = 0;

bool this_one_fails(std::size_t bytes) {
  if (bytes > largest) largest = bytes;
  if (countdown == 0 || --countdown != 0) return false;
  injected = true;
  return true;
}

}  // namespace

namespace respmat::testing {

void fail_allocation_number(std::int64_t n) {
  countdown = n;
  injected = false;
}

bool stop_failing_allocations() {
  countdown = 0;
  return injected;
}

std::int64_t live_allocations() { return live; }

std::size_t take_largest_request() {
  const std::size_t seen = largest;
  largest = 0;
  return seen;
}

}  // namespace respmat::testing

extern "C" {

void *malloc(std::size_t size) {
  if (this_one_fails(size)) return nullptr;
  void *pointer = __libc_malloc(size);
  if (pointer != nullptr) ++live;
  return pointer;
}

void *calloc(std::size_t count, std::size_t size) {
  if (this_one_fails(count * size)) return nullptr;
  void *pointer = __libc_calloc(count, size);
  if (pointer != nullptr) ++live;
  return pointer;
}

void *realloc(void *pointer, std::size_t size) {
  if (pointer == nullptr) return malloc(size);
  if (size == 0) {
    --live;
    __libc_free(pointer);
    return nullptr;
  }
  if (this_one_fails(size)) return nullptr;
  return __libc_realloc(pointer, size);
}

void *memalign(std::size_t alignment, std::size_t size) {
  if (this_one_fails(size)) return nullptr;
  void *pointer = __libc_memalign(alignment, size);
  if (pointer != nullptr) ++live;
  return pointer;
}

void *aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }

int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
  void *pointer = memalign(alignment, size);
  if (pointer == nullptr) return 12;  // ENOMEM
  *out = pointer;
  return 0;
}

void free(void *pointer) {
  if (pointer == nullptr) return;
  --live;
  __libc_free(pointer);
}

}  // extern "C"
