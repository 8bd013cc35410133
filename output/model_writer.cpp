#include "output/model_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "output/row_text.h"
#include "base/huge_pages.h"
#include "base/worker_threads.h"

namespace respmat {
namespace {

// Entries on and below the diagonal per chunk of rows (a chunk has at least one
// row): about a megabyte of text, large enough that handing chunks between threads
// costs nothing measurable, small enough that a few per thread stay in the caches.
constexpr std::int64_t kChunkEntries = std::int64_t{1} << 16;

// The output is handed to the kernel and synced every time this much more has been
// written.
constexpr std::int64_t kSyncStepBytes = std::int64_t{8} << 20;

struct RowRange {
  std::int32_t begin;
  std::int32_t end;
};

// Chunks of rows with about kChunkEntries entries each that a row can reach.
std::vector<RowRange> split_rows(const ResponseModel &model) {
  std::vector<RowRange> chunks;
  const std::int32_t rows = model.rows();
  std::int32_t begin = 0;
  std::int64_t entries = 0;
  for (std::int32_t i = 0; i < rows; ++i) {
    entries += std::max(model.reach_limit(i), 1);
    if (entries >= kChunkEntries || i + 1 == rows) {
      chunks.push_back({begin, i + 1});
      begin = i + 1;
      entries = 0;
    }
  }
  return chunks;
}

std::size_t chunk_text_bound(RowRange rows, const ResponseModel &model, const RowText &text) {
  std::size_t most = 0;
  for (std::int32_t i = rows.begin; i < rows.end; ++i) most += text.bound(i, model.reach_limit(i));
  return most;
}

std::size_t largest_chunk_text(const std::vector<RowRange> &chunks, const ResponseModel &model, const RowText &text) {
  std::size_t largest = 0;
  for (const RowRange rows : chunks) largest = std::max(largest, chunk_text_bound(rows, model, text));
  return largest;
}

// The text of a chunk, in a block that holds the largest chunk and is reused.
struct ChunkText {
  char *block = nullptr;
  std::size_t size = 0;
};

// `count` blocks of `size` bytes side by side, in one allocation asked for in huge
// pages: the formatting threads then take a fault per 2 MiB rather than per 4 KiB page as
// they first fill them, and faults are costly on virtual machines.
detail::HugePageBlock<char> allocate_text_blocks(std::size_t count, std::size_t size) {
  if (count != 0 && size > SIZE_MAX / count) throw std::bad_alloc();
  detail::HugePageBlock<char> blocks(static_cast<char *>(detail::allocate_in_huge_pages(count * size)));
  if (!blocks) throw std::bad_alloc();
  return blocks;
}

// Computes and formats chunks of rows. Each worker has its own: the row of values is
// the only state.
class ChunkFormatter {
 public:
  ChunkFormatter(const ResponseModel &model, const RowText &text)
      : model_(model), text_(text), row_(static_cast<std::size_t>(model.cols())) {}

  void format(RowRange rows, ChunkText &chunk) {
    char *out = chunk.block;
    for (std::int32_t i = rows.begin; i < rows.end; ++i) {
      // A row's entries are computed in a loop of their own: the evaluations are then
      // independent and overlap in the processor, where interleaved with the
      // formatting each would wait for the one before.
      const std::int32_t reach = model_.row(i, row_.data());
      out = text_.write(i, row_.data(), reach, out);
    }
    chunk.size = static_cast<std::size_t>(out - chunk.block);
  }

 private:
  const ResponseModel &model_;
  const RowText &text_;
  std::vector<double> row_;
};

// Syncs the output on a thread of its own while the rest is computed. Starting the
// kernel's write-back is not enough: the final sync also waits for the disk to make
// the data durable (on a virtual machine, for the host to store its cache), and a
// sync after the last byte would wait for all of it at once. Synced here in stages,
// the final sync finds little left. Only regular files are synced.
class BackgroundSync {
 public:
  explicit BackgroundSync(int fd) : fd_(is_regular_file(fd) ? fd : -1) {}
  BackgroundSync(const BackgroundSync &) = delete;
  BackgroundSync &operator=(const BackgroundSync &) = delete;
  // Waits for a sync in progress; the ones not yet begun are left to the caller's.
  ~BackgroundSync() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
  }

  // Everything handed to the kernel up to `bytes` is to be synced.
  void request(std::int64_t bytes) {
    if (fd_ < 0) return;
    {
      const std::lock_guard lock(mutex_);
      requested_ = bytes;
      if (!thread_.joinable()) start();
    }
    wake_.notify_one();
  }

  // 0, or the errno of a sync that failed. A failure is reported once per open file,
  // so the caller's final sync may not see it again: it must be taken from here.
  [[nodiscard]] int error() {
    const std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  static bool is_regular_file(int fd) {
    struct stat status;
    return fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  }

  // Called with the mutex held. Without a thread the caller's final sync does it all.
  void start() {
    try {
      thread_ = std::jthread([this] { run(); });
    } catch (const std::system_error &) {
      fd_ = -1;
    }
  }

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return done_ || requested_ > synced_; });
      if (done_ || error_ != 0) return;
      const std::int64_t target = requested_;
      lock.unlock();
      const int failed = ::fdatasync(fd_) != 0 ? errno : 0;
      lock.lock();
      error_ = failed;
      synced_ = target;
    }
  }

  int fd_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::int64_t requested_ = 0;
  std::int64_t synced_ = 0;
  int error_ = 0;
  bool done_ = false;
  std::jthread thread_;  // last: joined before the members it uses go
};

// Hands text to the stream and has each completed stretch synced in the background.
class SyncedStream {
 public:
  explicit SyncedStream(std::FILE *stream) : stream_(stream), sync_(::fileno(stream)) {}

  // 0, or the errno of the failed write.
  int write(const char *text, std::size_t length) {
    errno = 0;
    // Some streams report a failed write only in their error indicator.
    if (std::fwrite(text, 1, length, stream_) != length || std::ferror(stream_)) return write_error();
    written_ += static_cast<std::int64_t>(length);
    if (written_ - flushed_ >= kSyncStepBytes) return flush();
    return 0;
  }

  // 0, or the errno of a failed background sync: the data may not have reached the disk.
  [[nodiscard]] int sync_error() { return sync_.error(); }

 private:
  // Read right after the failed call, before anything else can set errno.
  static int write_error() { return errno != 0 ? errno : EIO; }

  int flush() {
    errno = 0;
    if (std::fflush(stream_) != 0) return write_error();
    flushed_ = written_;
    sync_.request(flushed_);
    return sync_.error();
  }

  std::FILE *stream_;
  BackgroundSync sync_;
  std::int64_t written_ = 0;
  std::int64_t flushed_ = 0;
};

// Workers take chunks in order and format each into a slot of a ring, a few slots per
// worker. A finished chunk is written at once when the chunks before it are written,
// by the worker that finished it, which then also writes the finished chunks that
// follow; otherwise it is left for the worker that writes the one before it. So no
// worker waits for another to finish formatting, text mostly leaves from the core
// that has it in its caches, and the ring bounds the memory however far the workers
// run ahead of the output.
class OrderedChunkWriter {
 public:
  OrderedChunkWriter(const std::vector<RowRange> &chunks, std::size_t largest_chunk_text, int workers, SyncedStream &stream)
      : chunks_(chunks),
        slots_(2 * static_cast<std::size_t>(workers)),
        blocks_(allocate_text_blocks(slots_.size(), largest_chunk_text)),
        stream_(stream) {
    for (std::size_t k = 0; k < slots_.size(); ++k) slots_[k].text.block = blocks_.get() + k * largest_chunk_text;
  }

  // A worker's loop; returns when every chunk is taken or the job stopped.
  void work(const ResponseModel &model, const RowText &text) {
    try {
      ChunkFormatter formatter(model, text);
      for (std::size_t k; take(k);) {
        Slot &slot = slots_[k % slots_.size()];  // its previous chunk has been written
        formatter.format(chunks_[k], slot.text);
        finish(slot);
      }
    } catch (const std::bad_alloc &) {
      stop(ENOMEM);
    }
  }

  // 0, or the errno that stopped the job.
  [[nodiscard]] int error() {
    const std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  struct Slot {
    ChunkText text;
    bool finished = false;
  };

  // The next chunk, once its slot is free; false when none is left or the job stopped.
  bool take(std::size_t &k) {
    std::unique_lock lock(mutex_);
    slot_free_.wait(lock, [&] { return stopped_ || next_ == chunks_.size() || next_ < written_ + slots_.size(); });
    if (stopped_ || next_ == chunks_.size()) return false;
    k = next_++;
    return true;
  }

  // Marks the slot's chunk finished and, unless another worker is writing, writes every
  // finished chunk from the first unwritten one on.
  void finish(Slot &slot) {
    std::unique_lock lock(mutex_);
    slot.finished = true;
    if (writing_) return;
    writing_ = true;
    for (Slot *next; !stopped_ && (next = &slots_[written_ % slots_.size()])->finished;) {
      lock.unlock();  // others may take and finish chunks meanwhile
      const int error = stream_.write(next->text.block, next->text.size);
      lock.lock();
      if (error != 0) {
        stopped_ = true;
        error_ = error;
      }
      next->finished = false;
      ++written_;
      slot_free_.notify_all();
    }
    writing_ = false;
  }

  // Workers finish the chunk in hand and write no more.
  void stop(int error) {
    {
      const std::lock_guard lock(mutex_);
      if (!stopped_) error_ = error;
      stopped_ = true;
    }
    slot_free_.notify_all();
  }

  const std::vector<RowRange> &chunks_;
  std::vector<Slot> slots_;
  detail::HugePageBlock<char> blocks_;  // the slots' text
  SyncedStream &stream_;
  std::mutex mutex_;
  std::condition_variable slot_free_;
  std::size_t next_ = 0;     // the next chunk to take
  std::size_t written_ = 0;  // chunks written so far
  bool writing_ = false;     // a worker is writing finished chunks
  bool stopped_ = false;
  int error_ = 0;
};

int write_rows(const ResponseModel &model, const RowText &text, SyncedStream &stream, int threads) {
  const std::vector<RowRange> chunks = split_rows(model);
  const int workers = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), chunks.size()));
  OrderedChunkWriter in_order(chunks, largest_chunk_text(chunks, model, text), workers, stream);
  detail::run_workers(workers, [&] { in_order.work(model, text); });
  return in_order.error();
}

}  // namespace

int write_model_text(const ResponseModel &model, const ModelText &text, std::FILE *stream, int threads) {
  SyncedStream synced(stream);
  try {
    if (const int error = synced.write(text.header.data(), text.header.size())) return error;
    const RowText rows(text.rows, model.cols());
    if (const int error = write_rows(model, rows, synced, detail::choose_threads(threads))) return error;
  } catch (const std::bad_alloc &) {
    return ENOMEM;
  }
  if (const int error = synced.write(text.trailer.data(), text.trailer.size())) return error;
  return synced.sync_error();
}

}  // namespace respmat
