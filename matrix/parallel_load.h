// Internal: loading delimited numeric text into rows that the caller places. The
// caller learns the final shape once, before any row is converted, and says where
// each row goes; a Matrix of separate rows and one contiguous block are both built
// on it. Large inputs are split at line boundaries and converted on several threads;
// the values never depend on the number of threads.
#ifndef RESPMAT_MATRIX_PARALLEL_LOAD_H
#define RESPMAT_MATRIX_PARALLEL_LOAD_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace respmat::detail {

// Where the rows of a load go.
class RowDestination {
 public:
  virtual ~RowDestination() = default;
  // Called once, before row(), with the final shape. Returns false when there is no
  // room for it (the load then fails with kNoMemory and row() is never called).
  virtual bool reserve(std::int32_t rows, std::int32_t cols) = 0;
  // Makes the `rows` rows ready to be written, first to last, while other threads
  // already convert the first ones: calls rows_ready(n) whenever rows [0, n) may be
  // handed out by row(), the last time with n = rows. Called once, after reserve(), on
  // one of the worker threads. Returns false when memory runs out (the load then fails
  // with kNoMemory). By default reserve() made every row and they are ready at once.
  virtual bool make_rows(std::int32_t rows, const std::function<void(std::int32_t ready)> &rows_ready) {
    rows_ready(rows);
    return true;
  }
  // Room for `cols` doubles: row `index` of the result. Called once per row, from
  // any of the worker threads at the same time.
  virtual double *row(std::int32_t index) = 0;
};

enum class TextLoadStatus {
  kOk,
  kCannotOpen,  // `error` holds the errno of the open
  kReadError,   // `error` holds the errno of the failed read
  kTooLarge,    // more rows or columns than a 32-bit count holds (`error` is EOVERFLOW)
  kNoMemory,    // working memory or the destination's room could not be had
  kStopped,     // the caller's stop flag was set; the destination is part written
};

struct TextLoadResult {
  TextLoadStatus status = TextLoadStatus::kOk;
  int error = 0;
  std::int32_t rows = 0;
  std::int32_t cols = 0;
};

struct TextLoadOptions {
  std::int32_t drop_rows = 0;  // data lines to leave out at the start
  const char *sep = ",";       // null: fields separated by runs of white space
  char quote = '\0';           // '\0': no quoting
  const char *skip = nullptr;  // lines starting with this are left out; null: none
  bool skip_blank_lines = false;  // leave out lines of nothing but spaces and tabs too
  int threads = 0;             // 0: see choose_threads()
  std::size_t chunk_bytes = std::size_t{1} << 20;  // the share of one task; tests make it small
  // Larger files are read a window at a time rather than whole; 0: a quarter of the
  // machine's memory.
  std::size_t largest_copy = 0;
  std::size_t window_bytes = std::size_t{64} << 20;  // such a window; it grows for a longer line
  const std::atomic<bool> *stop = nullptr;  // checked between chunks; null: never stops
};

// Loads `path` the way matrix_load_text() defines: rows are the data lines, columns
// the fields of the first data line, each field converted as atof would, missing
// fields 0.0 and extra fields ignored.
[[nodiscard]] TextLoadResult load_text(const char *path, const TextLoadOptions &options,
                                       RowDestination &destination);

}  // namespace respmat::detail

#endif
