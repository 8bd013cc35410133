// A test-only allocator that can make one chosen allocation fail. Linking
// failing_malloc.cpp into a test executable replaces malloc, calloc, realloc and
// free for the whole process (operator new included, since it calls malloc); the
// replacements count and forward to the C library's own allocator.
#ifndef RESPMAT_TESTS_FAULTS_FAILING_MALLOC_H
#define RESPMAT_TESTS_FAULTS_FAILING_MALLOC_H

#include <cstddef>
#include <cstdint>

namespace respmat::testing {

// Makes the n-th allocation from now on (n >= 1) return null; later ones succeed.
void fail_allocation_number(std::int64_t n);

// Stops failing allocations. Returns true when a failure was injected since the
// last fail_allocation_number().
bool stop_failing_allocations();

// Allocations made and not yet released, over the life of the process.
std::int64_t live_allocations();

// The largest single request since the last call, in bytes; starts again from 0.
std::size_t take_largest_request();

}  // namespace respmat::testing

#endif
