// Internal: fields of delimited text as the readers above the library take them and
// as messages show them.
#ifndef RESPMAT_TEXT_FIELD_TEXT_H
#define RESPMAT_TEXT_FIELD_TEXT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace respmat::detail {

// True when the text holds nothing but spaces and tabs.
[[nodiscard]] bool is_blank(std::string_view text);

// A field without the spaces and tabs around it and the pair of double quotes that
// may enclose it.
[[nodiscard]] std::string_view unquoted(std::string_view field);

// A field's text as a message shows it: in double quotes, cut after 40 bytes, with
// every byte that is not printable ASCII (which a terminal might act on) shown as '?'.
[[nodiscard]] std::string quoted_field(std::string_view text);

// A whole count or index as the command line and the lists of its options give it:
// decimal digits alone, no sign, no blanks, at most `most`. Nothing for anything
// else, so that no text wraps around or reads as another number.
[[nodiscard]] std::optional<std::int64_t> read_count(std::string_view text, std::int64_t most);

// Names as a message lists them: each quoted as quoted_field() shows it, the first
// five of many and how many more.
[[nodiscard]] std::string quoted_list(const std::vector<std::string> &names);

// Reads a field that must hold one finite number and nothing else but blanks around
// it, as std::atof reads numbers in the "C" locale. Returns nothing when it does;
// otherwise why not, as a message continues after the field's place: "is empty",
// "\"x\" is not a number", "\"inf\" is not a finite number".
[[nodiscard]] std::optional<std::string> read_finite_field(std::string_view field, double &value);

}  // namespace respmat::detail

#endif
