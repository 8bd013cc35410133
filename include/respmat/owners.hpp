// C++ owners for the library's C handles: each releases its handle with the matching
// release function when it goes out of scope.
#ifndef RESPMAT_OWNERS_HPP
#define RESPMAT_OWNERS_HPP

#include <memory>

#include "respmat/matrix.h"
#include "respmat/text.h"

namespace respmat {

struct MatrixDeleter {
  void operator()(double **M) const noexcept { matrix_free(M); }
};
struct StringTableDeleter {
  void operator()(char ***table) const noexcept { table_free(table); }
};

// Owns a Matrix: OwnedMatrix m(matrix_alloc(2, 3)); m.get()[1][2] = 1.0;
using OwnedMatrix = std::unique_ptr<double *, MatrixDeleter>;
// Owns a StringTable: OwnedStringTable t(table_read("a.csv", ",", 0, nullptr));
using OwnedStringTable = std::unique_ptr<char **, StringTableDeleter>;

}  // namespace respmat

#endif
