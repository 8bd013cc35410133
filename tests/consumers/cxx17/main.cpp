// A C++17 program using the installed headers, the C++ owners among them.
#include <respmat/owners.hpp>
#include <respmat/version.h>

#include <cstdio>

static_assert(__cplusplus == 201703L, "compiled as C++17");

int main() {
  respmat::OwnedMatrix M(matrix_alloc_zeroed(2, 2));
  if (!M) return 1;
  M.get()[1][0] = 0.5;
  if (matrix_write_csv(M.get(), stdout, 0) != 0) return 1;
  std::printf("%s\n", respmat_version());
  return 0;
}
