// The input is cut into chunks at line boundaries and handled in two passes over the
// chunks, each on all worker threads: the first counts each chunk's data lines, which
// gives the shape and each chunk's first row; the second converts the lines straight
// into their rows. An input is taken whole, but for a file too large to hold beside
// its matrix, which is read a window of whole lines at a time, once in each pass.
#include "matrix/parallel_load.h"

#include <emmintrin.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/huge_pages.h"
#include "matrix/line_convert.h"
#include "base/worker_threads.h"
#include "text/field_scan.h"
#include "text/byte_order_mark.h"
#include "text/line_ends.h"
#include "base/number_conventions.h"
#include "text/number_text.h"

namespace respmat::detail {
namespace {

// ---- The input as one block of bytes -------------------------------------------

// ---- The input's bytes ---------------------------------------------------------

struct OwnedDescriptor {
  int fd;
  ~OwnedDescriptor() { ::close(fd); }
};

// A stretch of a file to read, and how far the reading got.
struct Piece {
  std::uint64_t begin = 0, end = 0;
  std::uint64_t read_to = 0;
  int error = 0;
};

void read_piece(int fd, char *block, std::uint64_t block_start, Piece &piece) {
  piece.read_to = piece.begin;
  while (piece.read_to < piece.end) {
    const ssize_t got = ::pread(fd, block + (piece.read_to - block_start), piece.end - piece.read_to,
                                static_cast<off_t>(piece.read_to));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) piece.error = errno;
    if (got <= 0) return;
    piece.read_to += static_cast<std::uint64_t>(got);
  }
}

// Reads the `bytes` bytes of the file at `offset` into `block`, in as many pieces as
// threads. Data that end early (another process truncated the file) are a read error.
TextLoadResult read_at(int fd, char *block, std::uint64_t offset, std::size_t bytes, int threads) {
  constexpr std::size_t kSmallestPiece = std::size_t{8} << 20;
  const std::size_t pieces = std::clamp<std::size_t>(bytes / kSmallestPiece, 1, static_cast<std::size_t>(threads));
  std::vector<Piece> read(pieces);
  for (std::size_t k = 0; k < pieces; ++k) {
    read[k].begin = offset + bytes / pieces * k;
    read[k].end = offset + (k + 1 == pieces ? bytes : bytes / pieces * (k + 1));
  }
  std::atomic<std::size_t> next{0};
  run_workers(static_cast<int>(pieces), [&] {
    for (std::size_t k; (k = next.fetch_add(1)) < pieces;) read_piece(fd, block, offset, read[k]);
  });
  for (const Piece &piece : read) {
    if (piece.error != 0) return {TextLoadStatus::kReadError, piece.error};
    if (piece.read_to != piece.end) return {TextLoadStatus::kReadError, EIO};
  }
  return {};
}

// A regular file is read whole into a block of its size, asked for in huge pages:
// reading copies at memory speed, where touching a mapped file takes a fault per page,
// and a file that changes under the load cannot take bytes away from it. Pipes,
// terminals and other files of no known size are read to their end.
class InputBytes {
 public:
  InputBytes() = default;
  InputBytes(const InputBytes &) = delete;
  InputBytes &operator=(const InputBytes &) = delete;

  // Reads the file whole: `size` bytes of a regular file, else to its end.
  TextLoadResult read(int fd, std::optional<std::size_t> size, int threads) {
    return size ? read_known_size(fd, *size, threads) : read_all(fd);
  }

  [[nodiscard]] const char *data() const { return data_; }
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  // Reads `expected` bytes in as many pieces as threads (copying at memory speed is
  // work the cores can share). A file that shrank meanwhile is a failed read: what
  // was read is no longer the file.
  TextLoadResult read_known_size(int fd, std::size_t expected, int threads) {
    block_.reset(static_cast<char *>(allocate_in_huge_pages(expected)));
    if (block_ == nullptr) return {TextLoadStatus::kNoMemory, ENOMEM};
    data_ = block_.get();
    size_ = expected;
    return read_at(fd, block_.get(), 0, expected, threads);
  }

  TextLoadResult read_all(int fd) {
    try {
      std::size_t used = 0;
      read_.resize(std::size_t{1} << 16);
      for (;;) {
        if (used == read_.size()) read_.resize(2 * read_.size());
        const ssize_t got = ::read(fd, read_.data() + used, read_.size() - used);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return {TextLoadStatus::kReadError, errno};
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
      }
      read_.resize(used);
      read_.shrink_to_fit();
      data_ = read_.data();
      size_ = read_.size();
    } catch (const std::bad_alloc &) {
      return {TextLoadStatus::kNoMemory, ENOMEM};
    }
    return {};
  }

  HugePageBlock<char> block_;
  std::vector<char> read_;
  const char *data_ = nullptr;
  std::size_t size_ = 0;
};

// ---- Lines ---------------------------------------------------------------------
// A line ends at a line feed, a carriage return (taking a line feed right after it
// along) or a NUL (ends_line()). An empty line ended by a carriage return that is the
// input's very last byte is no line: the line reader meets the end of input looking
// past it.

struct Input {
  const char *begin;
  const char *end;
  // False for a window of a larger file: it ends at a line start, and more lines follow.
  bool ends_input = true;

  // Past the line end at `t` (which is before end).
  [[nodiscard]] const char *after_line_end(const char *t) const {
    return *t == '\r' && t + 1 != end && t[1] == '\n' ? t + 2 : t + 1;
  }
  [[nodiscard]] bool is_line_start(const char *q) const {
    if (q == begin) return true;
    const char before = q[-1];
    return before == '\n' || before == '\0' || (before == '\r' && (q == end || *q != '\n'));
  }
  // The first line start at or after q.
  [[nodiscard]] const char *line_start_from(const char *q) const {
    while (q != end && !is_line_start(q)) {
      const char *t = find_line_end(q, end);
      q = t == end ? end : after_line_end(t);
    }
    return q;
  }
  // True when no line starts at p, a line start.
  [[nodiscard]] bool no_line_at(const char *p) const {
    return p == end || (ends_input && p + 1 == end && *p == '\r');
  }
};

// Calls read_line(begin, stop) for each line starting in [p, stop), where p and stop
// are line starts or the input's end. It returns the line's end (the first byte in
// [begin, stop) that ends a line, or stop), found as it reads the line, or null to stop.
template <typename ReadLine>
void for_each_line_read(const Input &input, const char *p, const char *stop, ReadLine read_line) {
  while (p != stop && !input.no_line_at(p)) {
    const char *t = read_line(p, stop);
    if (t == nullptr || t == stop) break;
    p = input.after_line_end(t);
  }
}

// Calls on_line(begin, end) for each line starting in [p, stop), where p and stop are
// line starts or the input's end, until it returns false.
template <typename OnLine>
void for_each_line(const Input &input, const char *p, const char *stop, OnLine on_line) {
  for_each_line_read(input, p, stop, [&](const char *line, const char *line_stop) -> const char * {
    const char *line_end = find_line_end(line, line_stop);
    return on_line(line, line_end) ? line_end : nullptr;
  });
}

// The lines that are no data lines: those that start with the skip prefix and, when
// asked for, blank ones (nothing but spaces and tabs).
class SkippedLines {
 public:
  SkippedLines(const char *skip, bool blank)
      : skip_(skip), length_(skip ? std::strlen(skip) : 0), blank_(blank) {}
  [[nodiscard]] bool active() const { return skip_ != nullptr || blank_; }
  // As strncmp(line, skip, strlen(skip)) == 0 on the line as a C string, or a blank line.
  [[nodiscard]] bool skips(const char *line, const char *line_end) const {
    if (blank_ && std::all_of(line, line_end, [](char c) { return c == ' ' || c == '\t'; })) return true;
    return skip_ != nullptr && static_cast<std::size_t>(line_end - line) >= length_ &&
           std::memcmp(line, skip_, length_) == 0;
  }

 private:
  const char *skip_;
  std::size_t length_;
  bool blank_;
};

// Lines starting in [p, stop) when no line is skipped: every line end counts once, a
// carriage return and line feed pair once, plus a last line without a line end.
std::int64_t count_all_lines(const Input &input, const char *p, const char *stop) {
  std::int64_t count = 0;
  const char *const first = p;
  const __m128i feed = _mm_set1_epi8('\n'), ret = _mm_set1_epi8('\r'), nul = _mm_setzero_si128();
  // Each 16-byte step looks one byte ahead, for the line feed after a return. The
  // line ends are counted per byte lane (a match is -1) and the lanes summed every
  // 255 steps, before a lane can wrap.
  while (input.end - p > 16 && stop - p >= 16) {
    __m128i lanes = _mm_setzero_si128();
    for (int step = 0; step < 255 && input.end - p > 16 && stop - p >= 16; ++step, p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
      const __m128i ends = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(v, feed), _mm_cmpeq_epi8(v, nul)),
          _mm_andnot_si128(_mm_cmpeq_epi8(next, feed), _mm_cmpeq_epi8(v, ret)));
      lanes = _mm_sub_epi8(lanes, ends);
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    count += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
  }
  for (; p != stop; ++p)
    count += *p == '\n' || *p == '\0' || (*p == '\r' && (p + 1 == input.end || p[1] != '\n'));
  if (stop == input.end && stop != first) {
    if (!ends_line(stop[-1])) ++count;  // the last line has no line end
    else if (input.ends_input && stop[-1] == '\r' && input.is_line_start(stop - 1)) --count;  // not a line
  }
  return count;
}

std::int64_t count_data_lines(const Input &input, const SkippedLines &skip, const char *p,
                              const char *stop) {
  if (!skip.active()) return count_all_lines(input, p, stop);
  std::int64_t count = 0;
  for_each_line(input, p, stop, [&](const char *line, const char *line_end) {
    count += !skip.skips(line, line_end);
    return true;
  });
  return count;
}

// ---- Fields --------------------------------------------------------------------

struct FieldRules {
  const char *sep;
  char quote;
  // Without quoting, a one-byte separator splits wherever it occurs, so the line
  // can be cut in place; otherwise the scans need it as a C string.
  [[nodiscard]] bool plain() const { return sep != nullptr && sep[0] != '\0' && sep[1] == '\0' && quote == '\0'; }
};

// Calls on_field(begin, length) for each field of the line, as the table reader cuts
// them. `scratch` holds a copy of the line where one is needed.
template <typename OnField>
void scan_line(const FieldRules &rules, const char *line, const char *line_end, std::string &scratch,
               OnField on_field) {
  if (rules.plain()) {
    for_each_plain_field(rules.sep[0], line, line_end, on_field);
    return;
  }
  scratch.assign(line, line_end);
  if (rules.sep != nullptr)
    scan_separated(rules.sep, scratch.c_str(), rules.quote, on_field);
  else
    scan_whitespace(scratch.c_str(), rules.quote, on_field);
}

// Converts the first `cols` fields of the line into `row`, each cut out by the field
// rules before it is read; missing fields are 0.0. This reads any line, where
// convert_line_in_place() needs a plain separator and rounding to nearest.
void convert_line_by_rules(const FieldRules &rules, const char *line, const char *line_end, std::int32_t cols,
                           double *row, std::string &scratch) {
  std::int32_t c = 0;
  scan_line(rules, line, line_end, scratch, [&](const char *field, std::size_t length) {
    if (c < cols) row[c++] = parse_number(field, field + length);
  });
  for (; c < cols; ++c) row[c] = 0.0;
}

// True when fields can be read straight from the line: the separator is a single byte
// that cannot be part of a number (so a number read from a field's start ends at or
// before the separator), without quoting, and double arithmetic rounds to nearest.
bool numbers_read_in_place(const FieldRules &rules) {
  return rules.plain() && std::strchr("0123456789.+-eExX", rules.sep[0]) == nullptr &&
         double_arithmetic_rounds_to_nearest();
}

// ---- The text to load ----------------------------------------------------------

// The input and the rules its lines and fields are read by: what the search for the
// first data line and both passes share.
// The text of an input past the byte-order mark that may start it. A mark with nothing
// after it is still a line, an empty one, as the table reader reads it.
Input past_byte_order_mark(const char *begin, const char *end, bool ends_input) {
  static constexpr char kEmptyLine[] = "\n";
  const std::size_t mark = byte_order_mark_length({begin, static_cast<std::size_t>(end - begin)});
  if (mark != 0 && begin + mark == end && ends_input) return {kEmptyLine, kEmptyLine + 1, true};
  return {begin + mark, end, ends_input};
}

struct TextToLoad {
  Input input;
  SkippedLines skip;
  FieldRules rules;
};

// The first data line, after the skipped and dropped ones: where the data begins, and
// its fields, which give the columns.
struct FirstDataLine {
  const char *begin;
  std::int64_t fields = 0;
};

// `to_drop` counts down the lines still to be dropped, for a search that goes on in
// the next window.
FirstDataLine find_first_data_line(const TextToLoad &text, std::int64_t &to_drop) {
  FirstDataLine first{text.input.end};
  std::string scratch;
  for_each_line(text.input, text.input.begin, text.input.end, [&](const char *line, const char *line_end) {
    if (text.skip.skips(line, line_end)) return true;
    if (to_drop > 0) {
      --to_drop;
      return true;
    }
    first.begin = line;
    scan_line(text.rules, line, line_end, scratch, [&](const char *, std::size_t) { ++first.fields; });
    return false;
  });
  return first;
}

// ---- The two passes ------------------------------------------------------------

// Data lines [first_row, first_row + rows) start in [begin, end).
struct Chunk {
  const char *begin;
  const char *end;
  std::int64_t first_row = 0;
  std::int64_t rows = 0;
};

// The lines from `data_begin` on, cut into chunks of about `chunk_bytes` (at least one
// byte) that end at a line start or at the input's end.
std::vector<Chunk> cut_into_chunks(const Input &input, const char *data_begin, std::size_t chunk_bytes) {
  std::vector<Chunk> chunks;
  const std::size_t step = chunk_bytes != 0 ? chunk_bytes : 1;
  for (const char *p = data_begin; p != input.end && !input.no_line_at(p);) {
    const char *stop = static_cast<std::size_t>(input.end - p) > step ? input.line_start_from(p + step) : input.end;
    chunks.push_back({p, stop});
    p = stop;
  }
  return chunks;
}

// Runs task(chunk) for every chunk on up to `threads` threads, stopping early when a
// task fails: kReadError when one returned false, kNoMemory when one ran out, kStopped
// when *stop was set.
template <typename Task>
TextLoadStatus for_each_chunk(std::vector<Chunk> &chunks, int threads, const std::atomic<bool> *stop, Task task) {
  std::atomic<std::size_t> next{0};
  std::atomic<TextLoadStatus> status{TextLoadStatus::kOk};
  const int workers = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), chunks.size()));
  run_workers(workers, [&] {
    try {
      for (std::size_t k; status.load(std::memory_order_relaxed) == TextLoadStatus::kOk &&
                          (k = next.fetch_add(1)) < chunks.size();)
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
          status = TextLoadStatus::kStopped;
        else if (!task(chunks[k]))
          status = TextLoadStatus::kReadError;
    } catch (const std::bad_alloc &) {
      status = TextLoadStatus::kNoMemory;
    }
  });
  return status;
}

// The first pass: each chunk's data lines counted.
TextLoadStatus count_chunk_rows(const TextToLoad &text, int threads, const std::atomic<bool> *stop,
                                std::vector<Chunk> &chunks) {
  return for_each_chunk(chunks, threads, stop, [&](Chunk &chunk) {
    chunk.rows = count_data_lines(text.input, text.skip, chunk.begin, chunk.end);
    return true;
  });
}

// Gives each counted chunk its first row; returns the rows of all of them.
std::int64_t number_chunk_rows(std::vector<Chunk> &chunks) {
  std::int64_t rows = 0;
  for (Chunk &chunk : chunks) {
    chunk.first_row = rows;
    rows += chunk.rows;
  }
  return rows;
}

// How many of the destination's rows are ready, as one thread makes them while the
// others convert: a count that only grows, or a failure.
class ReadyRows {
 public:
  void publish(std::int32_t ready) {
    ready_.store(ready, std::memory_order_release);
    ready_.notify_all();
  }
  void fail() { publish(kFailed); }
  // Waits until row `index` is ready; false when the rows could not be made.
  bool wait_for(std::int64_t index) {
    for (;;) {
      const std::int32_t ready = ready_.load(std::memory_order_acquire);
      if (ready == kFailed) return false;
      if (index < ready) return true;
      ready_.wait(ready, std::memory_order_acquire);
    }
  }

 private:
  static constexpr std::int32_t kFailed = -1;
  std::atomic<std::int32_t> ready_{0};
};

// The destination's rows as the converting tasks reach them: the first task's thread
// makes the rows before converting, the others convert the rows it has made meanwhile.
class RowSupply {
 public:
  RowSupply(RowDestination &destination, std::int32_t rows) : destination_(destination), rows_(rows) {}

  // Makes the rows when no task has taken that on yet; returns at once otherwise.
  void make_rows_if_first() {
    if (taken_on_.exchange(true)) return;
    const bool made = destination_.make_rows(rows_, [&](std::int32_t ready) { ready_.publish(ready); });
    if (!made) ready_.fail();
  }
  // Row `index` once it is made; throws std::bad_alloc when the rows could not be made.
  double *row(std::int64_t index) {
    if (!ready_.wait_for(index)) throw std::bad_alloc();
    return destination_.row(static_cast<std::int32_t>(index));
  }

 private:
  RowDestination &destination_;
  const std::int32_t rows_;
  ReadyRows ready_;
  std::atomic<bool> taken_on_{false};
};

// The second pass for one chunk: its data lines converted into its rows. False when
// the chunk does not hold exactly the rows the first pass counted in it, should the
// two passes ever disagree.
bool convert_chunk(const TextToLoad &text, LineConverter convert_in_place, std::int32_t cols, RowSupply &rows,
                   const Chunk &chunk) {
  rows.make_rows_if_first();
  std::string line_copy;
  std::int64_t row = 0;
  bool overrun = false;
  const bool in_place = numbers_read_in_place(text.rules);  // per task: the rounding mode is per thread
  // Read in place, a line's end is found along with its fields: it is looked for
  // first only to tell whether the line is skipped, or to read the line otherwise.
  // `bound` is that end, or else `stop`, by which the line ends.
  for_each_line_read(text.input, chunk.begin, chunk.end, [&](const char *line, const char *stop) -> const char * {
    const char *const bound = text.skip.active() || !in_place ? find_line_end(line, stop) : stop;
    if (text.skip.skips(line, bound)) return bound;
    if (row == chunk.rows) {
      overrun = true;
      return nullptr;
    }
    double *values = rows.row(chunk.first_row + row++);
    if (in_place) return convert_in_place(text.rules.sep[0], line, bound, text.input.end, cols, values);
    convert_line_by_rules(text.rules, line, bound, cols, values, line_copy);
    return bound;
  });
  return row == chunk.rows && !overrun;
}

// The second pass: every chunk's data lines converted into the `rows` rows of
// `destination`, which has reserved them.
TextLoadStatus convert_chunks(const TextToLoad &text, std::int32_t cols, int threads, const std::atomic<bool> *stop,
                              std::vector<Chunk> &chunks, RowDestination &destination, std::int32_t rows) {
  const LineConverter convert_in_place = choose_line_converter();
  RowSupply supply(destination, rows);
  return for_each_chunk(chunks, threads, stop,
                        [&](const Chunk &chunk) { return convert_chunk(text, convert_in_place, cols, supply, chunk); });
}

// ---- Files too large to hold whole ----------------------------------------------

// A window of a large file: whole lines, and the data rows that start in it.
struct Window {
  std::uint64_t offset = 0;
  std::size_t bytes = 0;
  bool ends_input = false;
  std::size_t data_begin = 0;  // where its data lines begin, from the start of its input
  std::int64_t first_row = 0;
  std::int64_t rows = 0;
};

// Where a window of `read` bytes is cut so that it holds whole lines: past its last
// line end that is not a carriage return whose line feed may follow. 0 when there is
// none: the window is one line so far.
std::size_t whole_lines(const char *bytes, std::size_t read, bool ends_input) {
  if (ends_input) return read;
  for (std::size_t k = read - 1; k-- > 0;) {  // the byte after k is known
    const char c = bytes[k];
    if (c == '\n' || c == '\0' || (c == '\r' && bytes[k + 1] != '\n')) return k + 1;
  }
  return 0;
}

// A regular file read a window at a time into one buffer in huge pages, which grows
// only for a line longer than it.
class WindowedFile {
 public:
  WindowedFile(int fd, std::uint64_t size, std::size_t window_bytes, int threads)
      : fd_(fd), size_(size), capacity_(std::max<std::size_t>(window_bytes, 2)), threads_(threads) {}

  // Reads the window that starts at `window.offset` and cuts it after its last whole line.
  TextLoadResult read_window(Window &window) {
    for (;;) {
      const std::uint64_t left = size_ - window.offset;
      const auto bytes = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_, left));
      if (const TextLoadResult read = read_bytes(window.offset, bytes); read.status != TextLoadStatus::kOk) return read;
      window.ends_input = bytes == left;
      window.bytes = whole_lines(buffer_.get(), bytes, window.ends_input);
      if (window.bytes != 0) return {};
      capacity_ *= 2;
      buffer_.reset();
    }
  }
  // Reads the window again, for the second pass; it must still end a line where it did.
  TextLoadResult reread(const Window &window) {
    if (const TextLoadResult read = read_bytes(window.offset, window.bytes); read.status != TextLoadStatus::kOk)
      return read;
    if (!window.ends_input && !ends_line(buffer_.get()[window.bytes - 1])) return {TextLoadStatus::kReadError, EIO};
    return {};
  }
  [[nodiscard]] Input input(const Window &window) const {
    const char *begin = buffer_.get();
    if (window.offset != 0) return {begin, begin + window.bytes, window.ends_input};
    return past_byte_order_mark(begin, begin + window.bytes, window.ends_input);
  }

 private:
  TextLoadResult read_bytes(std::uint64_t offset, std::size_t bytes) {
    if (!buffer_) buffer_.reset(static_cast<char *>(allocate_in_huge_pages(capacity_)));
    if (!buffer_) return {TextLoadStatus::kNoMemory, ENOMEM};
    return read_at(fd_, buffer_.get(), offset, bytes, threads_);
  }

  int fd_;
  std::uint64_t size_;
  std::size_t capacity_;
  int threads_;
  HugePageBlock<char> buffer_;
};

TextLoadResult too_large() { return {TextLoadStatus::kTooLarge, EOVERFLOW}; }
TextLoadResult no_memory() { return {TextLoadStatus::kNoMemory, ENOMEM}; }

// A pass's failures as the load's: a stop is no error of the system's.
TextLoadResult pass_failure(TextLoadStatus status) {
  if (status == TextLoadStatus::kNoMemory) return no_memory();
  return {status, status == TextLoadStatus::kStopped ? 0 : EIO};
}

// A file too large to hold beside its matrix, read a window at a time: the first pass
// counts each window's rows, the second reads the windows again and converts them. A
// file that shrinks meanwhile, or whose windows then hold other rows, fails as a read.
TextLoadResult load_in_windows(int fd, std::uint64_t size, const TextLoadOptions &options, int threads,
                               RowDestination &destination) {
  WindowedFile file(fd, size, options.window_bytes, threads);
  std::vector<Window> windows;
  std::int64_t to_drop = options.drop_rows, rows = 0, fields = -1;
  for (std::uint64_t offset = 0; offset < size; offset += windows.back().bytes) {
    Window window{offset};
    if (const TextLoadResult read = file.read_window(window); read.status != TextLoadStatus::kOk) return read;
    const TextToLoad text{file.input(window), SkippedLines(options.skip, options.skip_blank_lines), {options.sep, options.quote}};
    const char *data = text.input.begin;
    if (fields < 0) {
      const FirstDataLine first = find_first_data_line(text, to_drop);
      data = first.begin;
      if (data != text.input.end) fields = first.fields;
    }
    std::vector<Chunk> chunks = cut_into_chunks(text.input, data, options.chunk_bytes);
    if (const TextLoadStatus counted = count_chunk_rows(text, threads, options.stop, chunks);
        counted != TextLoadStatus::kOk)
      return pass_failure(counted);
    window.data_begin = static_cast<std::size_t>(data - text.input.begin);
    window.first_row = rows;
    window.rows = number_chunk_rows(chunks);
    rows += window.rows;
    windows.push_back(window);
  }
  if (fields > INT32_MAX || rows > INT32_MAX) return too_large();
  const auto cols = static_cast<std::int32_t>(std::max<std::int64_t>(fields, 0));
  if (!destination.reserve(static_cast<std::int32_t>(rows), cols)) return no_memory();

  const LineConverter convert_in_place = choose_line_converter();
  RowSupply supply(destination, static_cast<std::int32_t>(rows));
  for (const Window &window : windows) {
    if (window.rows == 0) continue;
    if (const TextLoadResult read = file.reread(window); read.status != TextLoadStatus::kOk) return read;
    const TextToLoad text{file.input(window), SkippedLines(options.skip, options.skip_blank_lines), {options.sep, options.quote}};
    std::vector<Chunk> chunks = cut_into_chunks(text.input, text.input.begin + window.data_begin, options.chunk_bytes);
    if (const TextLoadStatus counted = count_chunk_rows(text, threads, options.stop, chunks);
        counted != TextLoadStatus::kOk)
      return pass_failure(counted);
    if (number_chunk_rows(chunks) != window.rows) return {TextLoadStatus::kReadError, EIO};
    for (Chunk &chunk : chunks) chunk.first_row += window.first_row;
    const TextLoadStatus converted = for_each_chunk(chunks, threads, options.stop, [&](const Chunk &chunk) {
      return convert_chunk(text, convert_in_place, cols, supply, chunk);
    });
    if (converted != TextLoadStatus::kOk) return pass_failure(converted);
  }
  return {TextLoadStatus::kOk, 0, static_cast<std::int32_t>(rows), cols};
}

// ---- Inputs held whole ---------------------------------------------------------

TextLoadResult load_whole(const InputBytes &bytes, const TextLoadOptions &options, int threads,
                          RowDestination &destination) {
  const TextToLoad text{
      past_byte_order_mark(bytes.data(), bytes.data() + bytes.size(), true), SkippedLines(options.skip, options.skip_blank_lines), {options.sep, options.quote}};

  std::int64_t to_drop = options.drop_rows;
  const FirstDataLine first = find_first_data_line(text, to_drop);
  if (first.fields > INT32_MAX) return too_large();
  const auto cols = static_cast<std::int32_t>(first.fields);

  std::vector<Chunk> chunks = cut_into_chunks(text.input, first.begin, options.chunk_bytes);
  if (const TextLoadStatus counted = count_chunk_rows(text, threads, options.stop, chunks);
      counted != TextLoadStatus::kOk)
    return pass_failure(counted);
  const std::int64_t rows = number_chunk_rows(chunks);
  if (rows > INT32_MAX) return too_large();
  if (!destination.reserve(static_cast<std::int32_t>(rows), cols)) return no_memory();

  const TextLoadStatus converted =
      convert_chunks(text, cols, threads, options.stop, chunks, destination, static_cast<std::int32_t>(rows));
  if (converted != TextLoadStatus::kOk) return pass_failure(converted);
  return {TextLoadStatus::kOk, 0, static_cast<std::int32_t>(rows), cols};
}

// The matrix takes about half the size of its text; a copy of the text up to a quarter
// of the machine's memory leaves room for it and for everything else.
std::uint64_t largest_copy(const TextLoadOptions &options) {
  if (options.largest_copy != 0) return options.largest_copy;
  const long pages = ::sysconf(_SC_PHYS_PAGES), page_size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return UINT64_MAX;
  return static_cast<std::uint64_t>(pages) / 4 * static_cast<std::uint64_t>(page_size);
}

}  // namespace

TextLoadResult load_text(const char *path, const TextLoadOptions &options, RowDestination &destination) {
  const int threads = choose_threads(options.threads);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {TextLoadStatus::kCannotOpen, errno};
  const OwnedDescriptor closer{fd};
  try {
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
    if (regular && static_cast<std::uint64_t>(status.st_size) > largest_copy(options))
      return load_in_windows(fd, static_cast<std::uint64_t>(status.st_size), options, threads, destination);
    InputBytes bytes;
    if (const TextLoadResult read = bytes.read(fd, regular ? std::optional<std::size_t>(status.st_size) : std::nullopt, threads);
        read.status != TextLoadStatus::kOk)
      return read;
    return load_whole(bytes, options, threads, destination);
  } catch (const std::bad_alloc &) {
    return no_memory();
  }
}

}  // namespace respmat::detail
