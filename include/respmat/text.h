/* Delimited text reading: a line reader, two quote-aware field splitters, a table
 * reader, and the counted arrays they return.
 *
 * Ownership: every result is allocated with malloc and belongs to the caller.
 * Line strings are released with free(); rows with carray_free_all(); tables with
 * table_free().
 *
 * Counted array layout. A counted array is an array of pointer-sized slots with a
 * 32-bit signed element count in the four bytes just before slot 0. The handle is
 * the address of slot 0, so a row indexes like a plain `char **`. On targets whose
 * pointers are 8 bytes, 4 bytes of padding come first so that the slots stay
 * pointer-aligned:
 *
 *     allocation start                handle
 *     |                               |
 *     [ padding (4) ][ count (int32) ][ slot 0 ][ slot 1 ] ... [ slot count-1 ]
 *
 * The allocation is released through its true start, never through the handle;
 * the carray_ functions and table_free() do that.
 *
 * A StringTable is a counted array of rows in file order; each row is a counted
 * array of NUL-terminated field strings, each field its own allocation.
 *
 * Reading: a read that a signal interrupts (a handler installed without SA_RESTART
 * makes a blocked read fail with EINTR) goes on where it stopped; it is not taken
 * for a read error.
 */
#ifndef RESPMAT_TEXT_H
#define RESPMAT_TEXT_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library hides everything but these declarations. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* A table of rows of field strings (see the layout above). */
typedef char ***StringTable;

/* Reads one line from `stream` into a new string of exactly its length plus the NUL.
 * A line ends at a line feed, at a carriage return (a line feed right after it is
 * taken along), at a NUL byte, or at the end of input; the line end is consumed and
 * not stored. A final line without a line end is returned like any other, and a line
 * end at the very end of the input does not produce an extra empty line, and neither
 * does an empty line whose carriage return is the very last byte.
 * Returns null at the end of input, when the stream reports a read error, when the
 * stream keeps delivering fewer bytes than it measured, or when memory runs out.
 * Requires: `stream` is open for reading. Streams that cannot be repositioned (pipes)
 * are read as well, through an internal buffer instead of a measure-and-reread. */
char *text_read_line(FILE *stream);

/* Splits `line` at every occurrence of the separator string `sep`, scanning left to
 * right without overlap. Separators between `quote` characters do not split; quote
 * characters stay in the field text; `quote` 0 turns quoting off. An empty `sep`
 * never matches, so the whole line is one field.
 * Returns a new row with at least one field, or null when memory runs out. */
char **text_split(const char *sep, const char *line, char quote);

/* Splits `line` into the maximal runs of bytes that are not white space (space, \t,
 * \n, \v, \f, \r) outside quotes. An empty or blank line gives a row of zero fields.
 * Returns a new row, or null when memory runs out. */
char **text_split_ws(const char *line, char quote);

/* Reads the file at `path` into a table: each line that does not begin with `skip`
 * (null: no comment lines) is split with text_split(sep, line, quote), or with
 * text_split_ws(line, quote) when `sep` is null, and becomes one row. A UTF-8
 * byte-order mark before the first line is no part of it.
 * Returns the new table (zero rows for a file without lines), or null when the file
 * cannot be opened, a read error occurs, or memory runs out; nothing is left
 * allocated then. */
StringTable table_read(const char *path, const char *sep, char quote, const char *skip);

/* Releases a table with all its rows and field strings. Accepts null. */
void table_free(StringTable table);

/* Returns the element count of any counted array. */
int32_t carray_count(const void *array);

/* Releases each element with free(), from the last to the first, then the array.
 * Accepts null. */
void carray_free_all(void *array);

/* Releases the array's own allocation only; the elements are left alone. Accepts null. */
void carray_free(void *array);

/* Removes the first `k` elements, moving the rest down in order; the removed
 * elements are not released and the allocation is not shrunk. `k` is clamped to the
 * range 0 to the count, so the count never turns negative. */
void carray_drop_front(void *array, int32_t k);

/* Finds `text` among the fields of row `row` of `table`, comparing ASCII letters
 * without regard to case and every other byte by value. The search runs from the
 * last field to the first, so the highest matching index is returned.
 * Returns the field index, or -1 when no field matches or `row` is not a row of the
 * table. */
int32_t table_find_field(StringTable table, const char *text, int32_t row);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif
