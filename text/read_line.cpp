// The line reader: measure a line, then read it in one block into an allocation of
// exactly its size.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text/line_ends.h"
#include "text/line_reader.h"
#include "base/stream_read.h"
#include "respmat/text.h"

namespace {

// A regular file that keeps delivering fewer bytes than were just measured is
// shrinking or failing underneath us; after this many attempts the input ends.
constexpr int kMaxReadAttempts = 4;

// A character from the stream, or EOF, that stops a line.
bool stops_line(int c) { return c == EOF || respmat::detail::ends_line(static_cast<char>(c)); }

// Consumes the line end that stopped the measurement: one character, and after a
// carriage return a line feed that follows it. Returns the first character consumed.
int consume_line_end(FILE *stream, bool seekable) {
  const int c = respmat::detail::get_byte(stream);
  if (c == '\r') {
    const int next = respmat::detail::get_byte(stream);
    if (next != EOF && next != '\n') {
      if (seekable)
        std::fseek(stream, -1, SEEK_CUR);
      else
        std::ungetc(next, stream);
    }
  }
  return c;
}

// Pipes and terminals cannot be measured and re-read, so their lines are collected
// into a growing buffer; the lines are the same.
char *read_line_unseekable(FILE *stream, bool &failed) {
  std::size_t length = 0;
  std::size_t capacity = 64;
  char *line = static_cast<char *>(std::malloc(capacity));
  if (line == nullptr) {
    failed = true;
    return nullptr;
  }
  int c;
  while (!stops_line(c = respmat::detail::get_byte(stream))) {
    if (length + 1 == capacity) {
      char *grown = static_cast<char *>(respmat::detail::regrow(line, length, capacity * 2));
      if (grown == nullptr) {
        std::free(line);
        failed = true;
        return nullptr;
      }
      line = grown;
      capacity *= 2;
    }
    line[length++] = static_cast<char>(c);
  }
  if (std::ferror(stream)) {
    std::free(line);
    failed = true;
    return nullptr;
  }
  if (c != EOF) std::ungetc(c, stream);
  consume_line_end(stream, false);
  if (length == 0 && (std::feof(stream) || std::ferror(stream))) {
    std::free(line);
    failed = std::ferror(stream) != 0;
    return nullptr;
  }
  char *exact = static_cast<char *>(std::malloc(length + 1));
  if (exact != nullptr) {
    std::memcpy(exact, line, length);
    exact[length] = '\0';
  } else {
    failed = true;
  }
  std::free(line);
  return exact;
}

bool reread(FILE *stream, long start, char *line, std::size_t length) {
  for (int attempt = 0; attempt < kMaxReadAttempts; ++attempt) {
    if (std::fseek(stream, start, SEEK_SET) != 0) return false;
    if (respmat::detail::read_fully(line, 1, length, stream) == length) return true;
    if (std::ferror(stream)) return false;
  }
  return false;
}

}  // namespace

namespace respmat::detail {

char *read_line(FILE *stream, bool &failed) {
  failed = false;
  const long start = std::ftell(stream);
  if (start < 0) return read_line_unseekable(stream, failed);

  std::size_t length = 0;
  int c;
  while (!stops_line(c = respmat::detail::get_byte(stream))) ++length;
  // A stream in error (a directory, a device fault) must end the input, or a caller
  // looping until null would read empty lines forever.
  if (std::ferror(stream)) {
    failed = true;
    return nullptr;
  }

  char *line = static_cast<char *>(std::malloc(length + 1));
  if (line == nullptr) {
    failed = true;
    return nullptr;
  }
  const bool read_ok = length == 0 ? std::fseek(stream, start, SEEK_SET) == 0
                                   : reread(stream, start, line, length);
  if (!read_ok) {
    std::free(line);
    failed = true;
    return nullptr;
  }
  line[length] = '\0';
  consume_line_end(stream, true);
  // An empty line is a line only when a line end was actually consumed.
  if (length == 0 && (std::feof(stream) || std::ferror(stream))) {
    std::free(line);
    failed = std::ferror(stream) != 0;
    return nullptr;
  }
  return line;
}

}  // namespace respmat::detail

extern "C" char *text_read_line(FILE *stream) {
  bool failed;
  return respmat::detail::read_line(stream, failed);
}
