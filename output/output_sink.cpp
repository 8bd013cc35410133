#include "output/output_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>

namespace respmat {

std::optional<int> named_descriptor(const std::string &path) {
  std::optional<int> descriptor;
  if (path == "-" || path == "/dev/stdout") descriptor = 1;
  if (path == "/dev/stderr") descriptor = 2;
  for (const std::string_view prefix : {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/")}) {
    if (!path.starts_with(prefix)) continue;
    const std::string_view number = std::string_view(path).substr(prefix.size());
    int value = -1;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (!number.empty() && error == std::errc() && end == number.data() + number.size()) descriptor = value;
  }
  if (descriptor && path != "-" && ::fcntl(*descriptor, F_GETFD) == -1) return std::nullopt;
  return descriptor;
}

std::unique_ptr<OutputSink> OutputSink::open(const std::string &path, std::FILE *standard_output,
                                             std::string &refused) {
  refused = path;
  auto sink = std::make_unique<OutputSink>();
  const std::optional<int> descriptor = named_descriptor(path);
  if (descriptor == 1) {
    sink->stream_ = standard_output;
  } else if (descriptor) {
    const int copy = ::fcntl(*descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return nullptr;
    sink->descriptor_stream_.reset(::fdopen(copy, "w"));
    if (!sink->descriptor_stream_) {
      const int saved = errno;
      ::close(copy);
      errno = saved;
      return nullptr;
    }
    sink->stream_ = sink->descriptor_stream_.get();
  } else {
    sink->replacement_ = std::make_unique<FileReplacement>(path);
    if (!sink->replacement_->open()) {
      refused = sink->replacement_->failed_path();
      return nullptr;
    }
    sink->stream_ = sink->replacement_->stream();
  }
  sink->descriptor_ = descriptor.value_or(-1);
  return sink;
}

bool OutputSink::complete() {
  if (replacement_) return replacement_->complete();
  errno = 0;
  return std::fflush(stream_) == 0 && !std::ferror(stream_);
}

bool OutputSink::put_in_place() { return !replacement_ || replacement_->put_in_place(); }

}  // namespace respmat
