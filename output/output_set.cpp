#include "output/output_set.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/stop_request.h"

namespace respmat {

// Compared by their resolved paths too, so that "out.csv" and "./out.csv" clash
// before either exists.
bool same_file(const std::string &a, const std::string &b) {
  std::error_code ignored;
  if (std::filesystem::equivalent(a, b, ignored)) return true;
  const auto resolved = [](const std::string &path) {
    std::error_code failed;
    std::filesystem::path place = std::filesystem::weakly_canonical(std::filesystem::absolute(path, failed), failed);
    return failed ? std::filesystem::path() : place;
  };
  const std::filesystem::path place = resolved(a);
  return !place.empty() && place == resolved(b);
}

std::optional<Failure> clashing_outputs(const std::vector<std::string> &inputs,
                                        const std::vector<NamedOutput> &outputs) {
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    const std::string &path = outputs[k].path;
    if (!named_descriptor(path))
      for (const std::string &input : inputs)
        // "-" reads standard input, which may be redirected from the output's file.
        if (same_file(path, input == "-" ? "/dev/stdin" : input)) return usage_failure(path + ": is also an input");
    for (std::size_t l = 0; l < k; ++l)
      if (path == outputs[l].path || same_file(path, outputs[l].path))
        return usage_failure(outputs[l].path + ": is named for both the " + outputs[l].role + " and the " +
                             outputs[k].role);
  }
  return std::nullopt;
}

std::optional<Failure> refuse_what_cannot_fit(const std::string &path, std::uint64_t bytes) {
  if (named_descriptor(path)) return std::nullopt;
  std::error_code ignored;
  const std::filesystem::path target = std::filesystem::absolute(path, ignored);
  if (std::filesystem::exists(target, ignored) && !std::filesystem::is_regular_file(target, ignored))
    return std::nullopt;
  struct statvfs space;
  if (::statvfs(target.parent_path().c_str(), &space) != 0) return std::nullopt;
  const std::uint64_t free = static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize;
  if (bytes <= free) return std::nullopt;
  return Failure{Failure::Kind::output, path, ENOSPC,
                 path + ": needs at least " + std::to_string(bytes) + " bytes, but its file system has " +
                     std::to_string(free) + " bytes free"};
}

std::optional<std::size_t> OutputSet::open(const std::string &path, std::optional<Failure> &failure) {
  errno = 0;
  std::string refused;
  std::unique_ptr<OutputSink> sink = OutputSink::open(path, standard_output_, refused);
  if (!sink) {
    failure = unwritable(refused, errno);
    return std::nullopt;
  }
  opened_.push_back({path, std::move(sink)});
  return opened_.size() - 1;
}

Failure OutputSet::failure_of(std::size_t output, int error_number) const {
  if (!opened_[output].sink->is_standard_output()) return unwritable(opened_[output].path, error_number);
  Failure failure = unwritable("standard output", error_number);
  failure.kind = Failure::Kind::standard_output;
  return failure;
}

std::optional<Failure> OutputSet::check(std::size_t output, bool written) const {
  if (written && !std::ferror(stream(output))) return std::nullopt;
  return failure_of(output, errno);
}

bool OutputSet::writes_standard_output() const {
  for (const Opened &output : opened_)
    if (output.sink->is_standard_output()) return true;
  return false;
}

std::optional<Failure> OutputSet::commit() {
  // A run asked to stop while it worked puts nothing in place, however far it got.
  if (stop_request() != 0) throw StopRequested();
  for (std::size_t k = 0; k < opened_.size(); ++k)
    if (!opened_[k].sink->complete()) return failure_of(k, errno);
  for (std::size_t k = opened_.size(); k-- > 0;)
    if (!opened_[k].sink->put_in_place()) return unwritable(opened_[k].path, errno);
  return std::nullopt;
}

}  // namespace respmat
