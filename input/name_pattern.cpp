#include "input/name_pattern.h"

#include <re2/re2.h>

namespace respmat {

std::optional<Failure> NamePattern::compile(const std::string &text, const char *option,
                                            std::optional<NamePattern> &pattern) {
  RE2::Options options;
  // Names are bytes, not necessarily UTF-8; and a refused pattern is reported once,
  // by the caller, never printed by the engine.
  options.set_encoding(RE2::Options::EncodingLatin1);
  options.set_log_errors(false);
  auto compiled = std::make_shared<const RE2>(text, options);
  if (!compiled->ok())
    return usage_failure(std::string(option) + " '" + text + "': not a regular expression (" + compiled->error() +
                         ")");
  pattern = NamePattern(std::move(compiled));
  return std::nullopt;
}

bool NamePattern::found_in(std::string_view name) const {
  return RE2::PartialMatch(re2::StringPiece(name.data(), name.size()), *compiled_);
}

}  // namespace respmat
