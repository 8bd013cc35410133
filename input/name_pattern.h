// Names chosen by a regular expression given on the command line. The engine works in
// time linear in the name and with a bounded stack, so no name or pattern, however
// long or nested, can crash the tool or stall it. The syntax is ECMAScript's common
// part: literals, `.`, classes such as `[A-Z]` and `\d`, anchors `^` `$`, groups
// `( )` and `(?: )`, alternation, and the repetitions `* + ? {n,m}` (greedy or lazy,
// counts up to 1000). Back-references and look-arounds (`\1`, `(?=`, `(?!`, `(?<=`)
// are refused, since no linear-time engine can have them. Names are matched as bytes.
#ifndef RESPMAT_INPUT_NAME_PATTERN_H
#define RESPMAT_INPUT_NAME_PATTERN_H

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/failure.h"

namespace re2 {
class RE2;
}

namespace respmat {

class NamePattern {
 public:
  // The pattern `text`, or a usage failure naming `option` when it is not a regular
  // expression this engine takes.
  [[nodiscard]] static std::optional<Failure> compile(const std::string &text, const char *option,
                                                      std::optional<NamePattern> &pattern);

  // Whether `name` contains a match.
  [[nodiscard]] bool found_in(std::string_view name) const;

 private:
  explicit NamePattern(std::shared_ptr<const re2::RE2> compiled) : compiled_(std::move(compiled)) {}
  std::shared_ptr<const re2::RE2> compiled_;
};

}  // namespace respmat

#endif
