// Internal: the line reader with its two kinds of null result told apart.
#ifndef RESPMAT_TEXT_LINE_READER_H
#define RESPMAT_TEXT_LINE_READER_H

#include <cstdio>

namespace respmat::detail {

// text_read_line(), which returns null both at the end of the input and when it
// cannot go on; here `failed` is set in the second case (a read error, a stream that
// keeps shrinking, memory running out) and cleared otherwise.
char *read_line(std::FILE *stream, bool &failed);

}  // namespace respmat::detail

#endif
