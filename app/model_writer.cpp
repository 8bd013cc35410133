#include "app/model_writer.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/model.h"
#include "matrix/worker_threads.h"
#include "text/number_text.h"

namespace respmat {
namespace {

// Entries on and below the diagonal per chunk of rows (a chunk has at least one
// row): about a megabyte of text, large enough that handing chunks between threads
// costs nothing measurable, small enough that a few per thread stay in the caches.
constexpr std::int64_t kChunkEntries = std::int64_t{1} << 16;

// Write-back of the output is started every time this much more has been written.
constexpr std::int64_t kWriteBackBytes = std::int64_t{8} << 20;

struct RowRange {
  std::int32_t begin;
  std::int32_t end;
};

std::vector<RowRange> split_rows(std::int32_t m) {
  std::vector<RowRange> chunks;
  std::int32_t begin = 0;
  std::int64_t entries = 0;
  for (std::int32_t i = 0; i < m; ++i) {
    entries += i + 1;
    if (entries >= kChunkEntries || i + 1 == m) {
      chunks.push_back({begin, i + 1});
      begin = i + 1;
      entries = 0;
    }
  }
  return chunks;
}

// The most text that rows [begin, end) of the m x m model can take.
std::size_t most_text(RowRange rows, std::int32_t m) {
  std::size_t most = 0;
  for (std::int32_t i = rows.begin; i < rows.end; ++i)
    most += static_cast<std::size_t>(i + 1) * (detail::kMaxG16Length + 1) + 2 * static_cast<std::size_t>(m - 1 - i) + 1;
  return most;
}

std::size_t largest_text(const std::vector<RowRange> &chunks, std::int32_t m) {
  std::size_t largest = 0;
  for (const RowRange rows : chunks) largest = std::max(largest, most_text(rows, m));
  return largest;
}

// The text of a chunk; its block grows to the largest chunk and is then reused.
struct ChunkText {
  std::unique_ptr<char[]> block;
  std::size_t capacity = 0;
  std::size_t size = 0;
};

// Computes and formats chunks of rows. Each worker has its own: the row of values is
// the only state, and `zeros` (",0" for each entry above the diagonal of the first
// row) is shared read-only.
class ChunkFormatter {
 public:
  ChunkFormatter(const double *phases, std::int32_t m, const std::string &zeros)
      : phases_(phases), m_(m), zeros_(zeros), row_(static_cast<std::size_t>(m)) {}

  // The block is sized for the largest chunk at once: growing it chunk by chunk
  // would map fresh pages each time, and first touches of fresh pages are costly.
  void format(RowRange rows, ChunkText &text, std::size_t largest) {
    if (text.capacity < most_text(rows, m_)) {
      text.block = std::make_unique_for_overwrite<char[]>(largest);
      text.capacity = largest;
    }
    char *out = text.block.get();
    for (std::int32_t i = rows.begin; i < rows.end; ++i) {
      // A row's sines are computed in a loop of their own: the evaluations are then
      // independent and overlap in the processor, where interleaved with the
      // formatting each would wait for the one before.
      model_row(phases_, i, row_.data());
      out = detail::format_g16(row_[0], out);
      for (std::int32_t j = 1; j <= i; ++j) {
        *out++ = ',';
        out = detail::format_g16(row_[static_cast<std::size_t>(j)], out);
      }
      const std::size_t zeros = 2 * static_cast<std::size_t>(m_ - 1 - i);
      std::memcpy(out, zeros_.data(), zeros);
      out += zeros;
      *out++ = '\n';
    }
    text.size = static_cast<std::size_t>(out - text.block.get());
  }

 private:
  const double *phases_;
  std::int32_t m_;
  const std::string &zeros_;
  std::vector<double> row_;
};

// Hands text to the stream and starts the write-back of each completed stretch, so
// that the final sync finds little left to do.
class Output {
 public:
  explicit Output(std::FILE *stream) : stream_(stream), fd_(::fileno(stream)) {}

  // 0, or the errno of the failed write.
  int write(const char *text, std::size_t length) {
    errno = 0;
    // Some streams report a failed write only in their error indicator.
    if (std::fwrite(text, 1, length, stream_) != length || std::ferror(stream_)) return write_error();
    written_ += static_cast<std::int64_t>(length);
    if (fd_ >= 0 && written_ - flushed_ >= kWriteBackBytes) return start_write_back();
    return 0;
  }

 private:
  // Read right after the failed call, before anything else can set errno.
  static int write_error() { return errno != 0 ? errno : EIO; }

  int start_write_back() {
    errno = 0;
    if (std::fflush(stream_) != 0) return write_error();
    // Only a hint to the kernel: a failure here changes nothing, and whatever the
    // write-back meets surfaces again at the final sync.
    static_cast<void>(::sync_file_range(fd_, flushed_, written_ - flushed_, SYNC_FILE_RANGE_WRITE));
    flushed_ = written_;
    return 0;
  }

  std::FILE *stream_;
  int fd_;
  std::int64_t written_ = 0;
  std::int64_t flushed_ = 0;
};

int write_on_this_thread(const std::vector<RowRange> &chunks, std::size_t largest, ChunkFormatter &formatter,
                         Output &output) {
  ChunkText text;
  for (const RowRange rows : chunks) {
    formatter.format(rows, text, largest);
    if (const int error = output.write(text.block.get(), text.size)) return error;
  }
  return 0;
}

// Chunks go round a ring of slots, a few per worker: a worker takes the next chunk
// when its slot has been written, so memory stays bounded however far the workers
// run ahead of the output.
class ChunkRing {
 public:
  ChunkRing(const std::vector<RowRange> &chunks, std::size_t largest_text, int workers)
      : chunks_(chunks), largest_text_(largest_text), slots_(2 * static_cast<std::size_t>(workers)) {}

  // A worker's loop; returns when every chunk is taken or the job stopped.
  void work(ChunkFormatter formatter) {
    for (;;) {
      std::size_t k;
      {
        std::unique_lock lock(mutex_);
        slot_free_.wait(lock, [&] {
          return stopped_ || next_ == chunks_.size() || next_ < written_ + slots_.size();
        });
        if (stopped_ || next_ == chunks_.size()) return;
        k = next_++;
      }
      Slot &slot = slots_[k % slots_.size()];  // its previous chunk has been written
      try {
        formatter.format(chunks_[k], slot.text, largest_text_);
      } catch (const std::bad_alloc &) {
        stop(ENOMEM);
        return;
      }
      {
        const std::lock_guard lock(mutex_);
        slot.ready = true;
      }
      chunk_ready_.notify_all();
    }
  }

  // The writer's loop, on the calling thread: 0 or the errno that stopped the job.
  int write(Output &output) {
    for (std::size_t k = 0; k < chunks_.size(); ++k) {
      Slot &slot = slots_[k % slots_.size()];
      {
        std::unique_lock lock(mutex_);
        chunk_ready_.wait(lock, [&] { return stopped_ || slot.ready; });
        if (stopped_) return error_;
      }
      if (const int error = output.write(slot.text.block.get(), slot.text.size)) {
        stop(error);
        return error;
      }
      {
        const std::lock_guard lock(mutex_);
        slot.ready = false;
        written_ = k + 1;
      }
      slot_free_.notify_all();
    }
    return 0;
  }

  // Stops the job: workers finish the chunk in hand and take no more.
  void stop(int error) {
    {
      const std::lock_guard lock(mutex_);
      if (!stopped_) error_ = error;
      stopped_ = true;
    }
    slot_free_.notify_all();
    chunk_ready_.notify_all();
  }

 private:
  struct Slot {
    ChunkText text;
    bool ready = false;
  };

  const std::vector<RowRange> &chunks_;
  const std::size_t largest_text_;
  std::mutex mutex_;
  std::condition_variable slot_free_;
  std::condition_variable chunk_ready_;
  std::vector<Slot> slots_;
  std::size_t next_ = 0;     // the next chunk to take
  std::size_t written_ = 0;  // chunks written so far
  bool stopped_ = false;
  int error_ = 0;
};

int write_rows(const double *phases, std::int32_t m, Output &output, int threads) {
  const std::string zeros = [m] {
    std::string text;
    for (std::int32_t j = 1; j < m; ++j) text += ",0";
    return text;
  }();
  const std::vector<RowRange> chunks = split_rows(m);
  const std::size_t largest = largest_text(chunks, m);
  const int workers = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), chunks.size()));
  if (workers <= 1) {
    ChunkFormatter formatter(phases, m, zeros);
    return write_on_this_thread(chunks, largest, formatter, output);
  }
  ChunkRing ring(chunks, largest, workers);
  std::vector<std::jthread> pool;  // joined before the ring goes, on every return
  pool.reserve(static_cast<std::size_t>(workers));
  try {
    for (int t = 0; t < workers; ++t)
      pool.emplace_back([&ring, formatter = ChunkFormatter(phases, m, zeros)]() mutable {
        ring.work(std::move(formatter));
      });
  } catch (const std::exception &) {
    // Fewer workers than asked still finish the job; none means doing it here.
    if (pool.empty()) {
      ChunkFormatter formatter(phases, m, zeros);
      return write_on_this_thread(chunks, largest, formatter, output);
    }
  }
  const int error = ring.write(output);
  ring.stop(error);
  return error;
}

}  // namespace

int write_model_csv(const double *phases, std::int32_t m, std::FILE *stream, int threads) {
  Output output(stream);
  try {
    if (const int error = write_rows(phases, m, output, detail::choose_threads(threads))) return error;
  } catch (const std::bad_alloc &) {
    return ENOMEM;
  }
  return output.write("\n", 1);
}

}  // namespace respmat
