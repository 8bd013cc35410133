// Internal: the bounds the tool's readers put on a text input, so that no file, pipe
// or device (/dev/zero, an endless line) can take the memory or the time of a run:
// a text holds no NUL byte, and its lines, fields and total size stay below bounds
// that real files are far from. The library's own readers take text as it comes.
//
// The bounds come from the largest real case, a response matrix of 10⁴ monitors by
// 10⁴ correctors: a value of 17 significant digits with its sign, point, exponent
// and comma takes at most 25 bytes, so a row takes 250 kB and the file 2.5 GB.
#ifndef RESPMAT_TEXT_TEXT_BOUNDS_H
#define RESPMAT_TEXT_TEXT_BOUNDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace respmat::detail {

struct TextBounds {
  std::size_t longest_line;     // bytes, without the line end
  std::size_t longest_field;    // bytes without a comma, blank or tab among them
  std::uint64_t largest_input;  // bytes
  std::uint64_t most_lines;     // lines, blank ones too
  bool nul_is_binary = true;    // false: a NUL ends a line, as the library reads it
};

// 64 times the longest real line, and names of any real length.
inline constexpr std::size_t kLongestLine = std::size_t{16} << 20;
inline constexpr std::size_t kLongestField = std::size_t{64} << 10;
// A hundred times the rows of the largest matrix, or of a table of every element of
// a large ring: an endless stream of short lines (`yes 1`) ends here, in little memory.
inline constexpr std::uint64_t kMostLines = std::uint64_t{1} << 20;
// Matrices: the 2.5 GB of the largest with room for names and blanks.
inline constexpr TextBounds kMatrixBounds{kLongestLine, kLongestField, std::uint64_t{4} << 30, kMostLines};
// Phase and optics tables: one of every element of a large ring, with all its
// columns, takes a few hundred MB.
inline constexpr TextBounds kTableBounds{kLongestLine, kLongestField, std::uint64_t{1} << 30, kMostLines};

enum class TextFault : unsigned char { none, binary, long_line, long_field, large_input, many_lines };

// Checks a text as a reader takes it in, and keeps the first fault and its line.
class TextGuard {
 public:
  explicit constexpr TextGuard(const TextBounds &bounds) : bounds_(bounds) {}

  // Whether the next line, `line`, ended by `end` ('\n', '\r', '\0', or '\n' for the
  // last line of an input without a final line end) is within the bounds.
  [[nodiscard]] bool admits_line(std::string_view line, char end) {
    ++lines_;
    if (end == '\0' && bounds_.nul_is_binary) return refuse(TextFault::binary);
    if (static_cast<std::uint64_t>(lines_) > bounds_.most_lines) return refuse(TextFault::many_lines);
    if (line.size() > bounds_.longest_line) return refuse(TextFault::long_line);
    if (line.size() > bounds_.longest_field && has_long_field(line)) return refuse(TextFault::long_field);
    return true;
  }
  // Whether `bytes` of a line not yet ended may still be a line.
  [[nodiscard]] bool admits_open_line(std::size_t bytes) {
    if (bytes <= bounds_.longest_line) return true;
    ++lines_;
    return refuse(TextFault::long_line);
  }
  // Whether a block of input, read whole before its lines are split, holds no NUL,
  // leaves no line open past its bound, and keeps the input within its size and its
  // lines within their number. A fault found here names no line.
  [[nodiscard]] bool admits_block(std::string_view block);
  // Whether `bytes` more of input keep it within its size.
  [[nodiscard]] bool admits_read(std::size_t bytes) {
    read_ += bytes;
    return read_ <= bounds_.largest_input || refuse(TextFault::large_input);
  }

  [[nodiscard]] TextFault fault() const { return fault_; }
  // The line of the fault, counted from 1; 0 for the size of the whole input.
  [[nodiscard]] std::int64_t fault_line() const { return fault_ == TextFault::large_input ? 0 : lines_; }
  // What is wrong, as a message says it after the file and line.
  [[nodiscard]] std::string reason() const;

 private:
  [[nodiscard]] bool has_long_field(std::string_view line) const;
  bool refuse(TextFault fault) {
    if (fault_ == TextFault::none) fault_ = fault;
    return false;
  }

  TextBounds bounds_;
  std::int64_t lines_ = 0;
  std::size_t open_line_ = 0;  // bytes since the last line end, for admits_block
  std::uint64_t ends_ = 0;     // line ends in the blocks admitted
  std::uint64_t read_ = 0;
  TextFault fault_ = TextFault::none;
};

}  // namespace respmat::detail

#endif
