// Internal: the UTF-8 byte-order mark that some editors put before the first line of a
// text. It is no part of the text: left in, it would become part of the first field
// (a column name, a number) without showing in any message.
#ifndef RESPMAT_TEXT_BYTE_ORDER_MARK_H
#define RESPMAT_TEXT_BYTE_ORDER_MARK_H

#include <cstddef>
#include <string_view>

namespace respmat::detail {

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The length of the byte-order mark that starts `text`: 3, or 0 when there is none.
[[nodiscard]] inline std::size_t byte_order_mark_length(std::string_view text) {
  return text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
}

}  // namespace respmat::detail

#endif
