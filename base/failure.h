// Why something a command asked for could not be done: one vocabulary for every
// room above the core library, from the readers of the field's files to the
// commands. The tool turns a failure into a message and an exit status by its kind,
// the Python module into an exception.
#ifndef RESPMAT_BASE_FAILURE_H
#define RESPMAT_BASE_FAILURE_H

#include <cstdint>
#include <cerrno>
#include <cstring>
#include <string>

namespace respmat {

struct Failure {
  enum class Kind {
    usage,           // what was asked for is not possible; nothing was read or written
    input,           // an input is missing, unreadable or not what the command needs
    output,          // an output file could not be written completely
    standard_output  // the result could not be written to standard output
  };
  Kind kind = Kind::input;
  std::string path;      // the file concerned ("standard output" for that stream); empty for usage
  int error_number = 0;  // the system's reason when it gave one, else 0
  std::string message;   // the whole failure in one line, as "file: reason"
};

// The system's words for `error_number`; "cannot be read" when it gave none.
[[nodiscard]] inline std::string system_reason(int error_number) {
  return error_number != 0 ? std::strerror(error_number) : "cannot be read";
}

// A request that cannot be carried out, said as `what`.
[[nodiscard]] inline Failure usage_failure(std::string what) {
  return {Failure::Kind::usage, {}, 0, std::move(what)};
}

// An input whose content is refused: "path: reason", or "path:line: reason".
[[nodiscard]] inline Failure content_failure(const std::string &path, const std::string &reason,
                                             std::int64_t line = 0) {
  const std::string place = line > 0 ? path + ":" + std::to_string(line) : path;
  return {Failure::Kind::input, path, 0, place + ": " + reason};
}

// An input the system could not open or read: "path: <the system's reason>".
[[nodiscard]] inline Failure unreadable(const std::string &path, int error_number) {
  return {Failure::Kind::input, path, error_number, path + ": " + system_reason(error_number)};
}

// An output that could not be written completely; a failure the system gave no
// reason for is an input/output error.
[[nodiscard]] inline Failure unwritable(const std::string &path, int error_number) {
  const int reason = error_number != 0 ? error_number : EIO;
  return {Failure::Kind::output, path, reason, path + ": " + std::strerror(reason)};
}

}  // namespace respmat

#endif
