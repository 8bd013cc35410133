// Internal: memory that large loads fill, asked for in huge pages. Taking a fresh page
// costs a fault per page, and on virtual machines a fault costs more than parsing the
// numbers that fill the page; a 2 MiB page takes one fault where 4 KiB pages take 512.
// Everything here is a hint: where the system offers no huge pages, the memory is
// the same, only slower to touch first.
#ifndef RESPMAT_MATRIX_HUGE_PAGES_H
#define RESPMAT_MATRIX_HUGE_PAGES_H

#include <cstddef>

namespace respmat::detail {

// A block of `bytes` (at least one) from malloc's family, to be released with
// std::free; large blocks are aligned to huge pages and asked for in them. Null when
// memory runs out.
[[nodiscard]] void *allocate_in_huge_pages(std::size_t bytes);

// Asks for huge pages under the whole huge pages inside [begin, end), memory that is
// allocated and about to be filled; pages already touched are gathered into huge ones.
void gather_into_huge_pages(const void *begin, const void *end);

}  // namespace respmat::detail

#endif
