#include "base/stream_read.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace respmat::detail {

std::optional<std::uint64_t> bytes_left(std::FILE *stream) {
  const int fd = fileno(stream);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const off_t position = ftello(stream);
  if (position < 0) return std::nullopt;
  return info.st_size > position ? static_cast<std::uint64_t>(info.st_size - position) : 0;
}

void *regrow(void *block, std::size_t used, std::size_t capacity) {
  void *bigger = std::malloc(std::max<std::size_t>(capacity, 1));
  if (bigger == nullptr) return nullptr;
  if (used != 0) std::memcpy(bigger, block, used);
  std::free(block);
  return bigger;
}

void *read_growing(std::FILE *stream, std::size_t bytes, std::size_t first_piece) {
  std::size_t capacity = std::min(bytes, std::max<std::size_t>(first_piece, 1));
  auto *block = static_cast<unsigned char *>(regrow(nullptr, 0, capacity));
  std::size_t filled = 0;
  while (block != nullptr) {
    filled += read_fully(block + filled, 1, capacity - filled, stream);
    if (filled < capacity) break;
    if (capacity == bytes) return block;
    const std::size_t next = capacity > bytes - capacity ? bytes : 2 * capacity;
    auto *bigger = static_cast<unsigned char *>(regrow(block, filled, next));
    if (bigger == nullptr) break;
    block = bigger;
    capacity = next;
  }
  std::free(block);
  return nullptr;
}

}  // namespace respmat::detail
