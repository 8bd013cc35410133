/* Growable arrays of fixed-size elements, with a compact integer codec and two
 * serialized forms.
 *
 * A GrowArray keeps `count` elements of `elem_size` opaque bytes each, packed and in
 * order, in one heap block with room for `capacity` of them. Elements are copied with
 * memcpy and compared with memcmp; the container never interprets them.
 *
 * Record layout (the record and its storage are two separate allocations; the record
 * may live anywhere, the block always comes from malloc):
 *
 *     GrowArray (40 bytes on 64-bit)   storage block (malloc), capacity slots
 *     [ data         ] -------------> [ elem 0 ][ elem 1 ] ... [ elem count-1 ][ spare ... ]
 *     [ alias_slot   ] --> caller's pointer variable, kept equal to data (or null)
 *     [ count        ]     elements in use
 *     [ capacity     ]     slots in the block
 *     [ min_capacity ]     floor of the shrink rule, capacity restored by garray_clear
 *     [ elem_size    ]     bytes per element
 *     [ fill_percent ]     32-bit float, 60.0 by default
 *
 * Capacity policy. With f = fill_percent, the target capacity for n elements is
 * T(n) = n / (f * 0.005 + 0.5) truncated, evaluated step by step in 80-bit extended
 * precision; for whole-number f from 1 to 100 it equals floor(200 n / (f + 100)), so
 * n + floor(n / 4) at the default 60. An insertion that needs room for n > capacity
 * elements sets the capacity to T(n) (never below n). After every removal that leaves
 * new_count elements, the array shrinks to max(T(new_count), min_capacity) when
 * new_count / capacity < f / 100 (for whole-number f: when 100 new_count <= f capacity)
 * and capacity > min_capacity. A resize never happens in place: the elements move to a
 * new block, `data` changes, and the variable behind a non-null `alias_slot` is set to
 * the new block. Addresses of elements taken before such a call are then invalid.
 *
 * Ownership. Every record that an operation fills (garray_init, garray_init_sized,
 * garray_copy, garray_union, garray_intersection and the readers, loaders and
 * unpackers) owns its block until garray_release or garray_destroy; those operations
 * treat the record as empty memory and never release what it held. Buffers from the
 * pack operations are released with free().
 *
 * Failure. When memory runs out or a size does not fit in 32 bits, an operation with
 * a pointer result returns null and leaves nothing allocated; an operation that fills
 * a record then leaves it zeroed (no storage; garray_release on it is harmless). The
 * other operations leave the array as it was, except that a removal whose shrink
 * cannot be allocated keeps the larger block. Serialized input is untrusted: readers,
 * loaders and unpackers return null for truncated or malformed forms. Stream readers
 * go on after a signal interrupts a read (EINTR).
 *
 * Alias. Any object pointer variable can be attached (pass its address cast to
 * void **); the container writes it as bytes, never through a typed lvalue.
 *
 * Requires (all operations): record, element and stream arguments are not null, and
 * every operation other than the initialisers and loaders gets a record that holds
 * storage. Element pointers address elem_size readable bytes.
 *
 * Not thread-safe: a record is used by one thread at a time, and the byte-wise sorts
 * share the process-wide garray_compare_size.
 */
#ifndef RESPMAT_GARRAY_H
#define RESPMAT_GARRAY_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library hides everything but these declarations. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* Process-wide default minimum capacity, initially 1. Growable arrays take it as their
 * default capacity and minimum capacity; the table reader of respmat/text.h starts its
 * working row array at it. The library only ever reads it. */
extern uint32_t default_min_capacity;

/* The index result meaning "absent" (garray_find), "not appended" (garray_push_unique)
 * or "failed" (the appending operations): all 32 bits set, -1 as a signed value. */
#define GARRAY_NPOS ((uint32_t)0xFFFFFFFFu)

/* The growable array record. */
typedef struct GrowArray {
  void *data;            /* storage block of capacity * elem_size bytes */
  void **alias_slot;     /* caller's pointer variable kept equal to data, or null */
  uint32_t count;        /* elements in use */
  uint32_t capacity;     /* elements the block has room for */
  uint32_t min_capacity; /* floor of the shrink rule */
  uint32_t elem_size;    /* bytes per element */
  float fill_percent;    /* fill level in percent driving growth and shrinking */
} GrowArray;

/* ---- Varint and zigzag codecs --------------------------------------------------
 * An unsigned 32-bit value is stored in 7-bit groups, least significant first, in the
 * fewest bytes that hold every set bit (1 to 5). The high bit 0x80 is set on the LAST
 * byte only and clear on every byte before it: 300 is 2C 82, 0 is 80. */

/* Writes the encoding of `v` to `stream` in one write call.
 * Returns the number of bytes the stream accepted: 1 to 5 on success, fewer when the
 * write failed. Requires: `stream` open for binary writing. */
size_t varint_write_stream(uint32_t v, FILE *stream);

/* Stores the encoding of `v` at *cursor and advances *cursor past it.
 * Requires: room for 5 bytes at *cursor (not checked). */
void varint_write_mem(uint32_t v, uint8_t **cursor);

/* Reads one encoded value from `stream`. Non-minimal encodings are accepted (00 80 is
 * 0); bits beyond bit 31 are dropped. The number ends at the byte with the high bit
 * set, at the end of input, or after the fifth byte, whichever comes first; the value
 * then holds the groups read so far, and nothing is reported (the array readers check
 * for truncation themselves). Requires: `stream` open for binary reading. */
uint32_t varint_read_stream(FILE *stream);

/* Reads one encoded value at *cursor and advances *cursor past its last byte. Reads
 * at most 5 bytes; a fifth byte without the high bit still ends the number.
 * Requires: a complete encoding at *cursor (its length is not checked). */
uint32_t varint_read_mem(const uint8_t **cursor);

/* Maps a signed value to an unsigned one so that small magnitudes stay small:
 * 0, -1, 1, -2, 2 give 0, 1, 2, 3, 4. */
uint32_t zigzag_encode(int32_t s);

/* Inverts zigzag_encode for every 32-bit value. */
int32_t zigzag_decode(uint32_t u);

/* ---- Record and capacity policy ------------------------------------------------ */

/* Initialises `ga` for elements of `elem_size` bytes: count 0, capacity and
 * min_capacity default_min_capacity (read now), fill_percent 60, no alias.
 * Returns `ga`, or null when the block cannot be allocated (the record is zeroed). */
GrowArray *garray_init(GrowArray *ga, uint32_t elem_size);

/* Initialises `ga` with capacity and min_capacity `capacity`, fill_percent 60 and no
 * alias. With `start_full` nonzero the count is `capacity` and the caller is expected
 * to fill every slot (the block is not initialised); otherwise the count is 0.
 * Returns `ga`, or null when the block cannot be allocated (the record is zeroed). */
GrowArray *garray_init_sized(GrowArray *ga, uint32_t elem_size, uint32_t capacity, int start_full);

/* Makes `dst` an independent copy of `src`: same count, capacity, min_capacity,
 * elem_size and fill_percent, a new block holding all of src's capacity slots, and no
 * alias. Returns `dst`, or null when memory runs out (`dst` is zeroed).
 * Requires: `dst` is not `src`. */
GrowArray *garray_copy(GrowArray *dst, const GrowArray *src);

/* Attaches the caller's pointer variable behind `slot` (null detaches): `data` is
 * written into it now and after every relocation, and null on release. The variable
 * behind the previous slot is left as it is. Returns the previous `alias_slot`. */
void **garray_set_alias(GrowArray *ga, void **slot);

/* Moves the elements to a block of exactly `count` slots (1 byte when empty) and sets
 * capacity to count; min_capacity is kept, so capacity may fall below it. Storage
 * moves: earlier element addresses become invalid and the alias slot is updated.
 * When memory runs out the array is left as it was. */
void garray_shrink_to_fit(GrowArray *ga);

/* Empties the array and gives it a fresh block of min_capacity slots. Storage moves:
 * earlier element addresses become invalid and the alias slot is updated. When
 * memory runs out the array is left as it was. */
void garray_clear(GrowArray *ga);

/* Releases the block, sets `data` to null (so a second release is harmless) and writes
 * null into the alias variable, if any. The record may then only be initialised or
 * loaded anew. */
void garray_release(GrowArray *ga);

/* As garray_release, then frees the record itself. Requires: `ga` came from malloc. */
void garray_destroy(GrowArray *ga);

/* Returns the larger of `a` and `b`. */
uint32_t garray_max_unsigned(uint32_t a, uint32_t b);

/* ---- Insertion, removal and search ---------------------------------------------
 * Every adding operation grows by the capacity policy when the needed count exceeds
 * the capacity, and every removal applies the shrink rule; either can move the
 * storage, which invalidates earlier element addresses and updates the alias slot.
 * Sources may lie in the array's own storage. A needed count beyond 2^32 - 1, or a
 * block beyond 2^32 - 1 bytes, fails like an allocation failure. */

/* Appends one element. Returns its index (the count before the call), or GARRAY_NPOS
 * when memory runs out (the array is unchanged). */
uint32_t garray_push(GrowArray *ga, const void *elem);

/* Appends `n` slots without writing them. Returns the address of the first new slot
 * (just past the last element when `n` is 0), or null when memory runs out (the
 * array is unchanged). */
void *garray_extend(GrowArray *ga, uint32_t n);

/* Appends the `n` consecutive elements at `elems`. Returns the index of the first
 * (the count before the call), or GARRAY_NPOS when memory runs out (unchanged). */
uint32_t garray_append_n(GrowArray *ga, const void *elems, uint32_t n);

/* Appends `n` copies of the element at `elem`, growing one element at a time.
 * Returns the count before the call (nothing is appended when `n` <= 0), or
 * GARRAY_NPOS when memory runs out (the count and elements are as before). */
uint32_t garray_push_copies(GrowArray *ga, const void *elem, int32_t n);

/* Appends every element of `src` (which may be `ga` itself). Returns the address of
 * the first appended element, or null when the element sizes differ or memory runs
 * out; `ga` is then unchanged. */
void *garray_append_array(GrowArray *ga, const GrowArray *src);

/* Inserts one element at `pos`, moving the later ones up; a `pos` at or beyond the
 * count appends. Returns the address of the inserted element, or null when memory
 * runs out (the array is unchanged). */
void *garray_insert(GrowArray *ga, const void *elem, uint32_t pos);

/* Returns the highest index whose element equals `key` byte for byte, or GARRAY_NPOS
 * when there is none. */
uint32_t garray_find(const GrowArray *ga, const void *key);

/* Appends `elem` unless an equal element is present. Returns the new index, or
 * GARRAY_NPOS when an equal element is present or memory runs out (unchanged). */
uint32_t garray_push_unique(GrowArray *ga, const void *elem);

/* Removes element `index` by moving the last element into its place, then applies
 * the shrink rule. An index not below the count changes nothing. */
void garray_remove_swap(GrowArray *ga, uint32_t index);

/* Removes element `index` keeping the order of the rest, then applies the shrink
 * rule. An index not below the count changes nothing. */
void garray_remove_at(GrowArray *ga, uint32_t index);

/* Removes the last element equal to `key` as garray_remove_swap does; nothing
 * changes when there is none. */
void garray_remove_value_swap(GrowArray *ga, const void *key);

/* Removes the last element equal to `key` as garray_remove_at does; nothing changes
 * when there is none. */
void garray_remove_value(GrowArray *ga, const void *key);

/* ---- Sorting, de-duplication and merging ---------------------------------------
 * Byte-wise order is memcmp order over elem_size bytes (for little-endian integers
 * this is not numeric order). De-duplication and the set operations remove elements
 * by moving the last one into the freed slot, so their results are in general not
 * sorted. */

/* The element size that garray_compare_bytes compares; each byte-wise operation sets
 * it just before it sorts, and it keeps the last value set. */
extern uint32_t garray_compare_size;

/* qsort comparator: memcmp of the two elements over garray_compare_size bytes. */
int garray_compare_bytes(const void *a, const void *b);

/* Sorts the elements with qsort and the caller's comparator.
 * Requires: `compare` is a consistent ordering and does not start a byte-wise sort of
 * another element size. */
void garray_sort(GrowArray *ga, int (*compare)(const void *, const void *));

/* Sorts the elements in ascending byte-wise order. */
void garray_sort_bytes(GrowArray *ga);

/* Sorts byte-wise, then scans from the last element down and removes the later of
 * each equal neighbouring pair as garray_remove_swap does: every element remains
 * exactly once. Storage may move (shrink rule). */
void garray_sort_unique(GrowArray *ga);

/* Builds in `result` the elements present in `a` or `b`, each once: a copy of `a`
 * with `b` appended, then reduced as garray_sort_unique does. `result` is treated as
 * empty memory and gets no alias. Returns `result`, or null when the element sizes
 * differ or memory runs out; `result` is then left untouched. */
GrowArray *garray_union(GrowArray *result, const GrowArray *a, const GrowArray *b);

/* Builds in `result` a copy of `a` with `b` appended, sorted byte-wise, from which
 * one element of every run of equal elements is removed (by unordered removals): an
 * element occurring m times in a and b together occurs m - 1 times, so for arrays
 * without duplicates the result is the elements present in both. `result` is treated
 * as empty memory and gets no alias. Returns `result`, or null when the element sizes
 * differ or memory runs out; `result` is then left untouched. */
GrowArray *garray_intersection(GrowArray *result, const GrowArray *a, const GrowArray *b);

/* ---- Serialized forms ----------------------------------------------------------
 * Full form:  varint count, varint elem_size, varint min_capacity, fill_percent as 4
 *             little-endian bytes, then count * elem_size element bytes.
 * Short form: varint count, varint elem_size, then the element bytes.
 * A loaded full form keeps min_capacity and fill_percent and gets capacity
 * max(T(count), min_capacity); a loaded short form gets min_capacity
 * default_min_capacity, fill_percent 60 and capacity max(floor(count * 1.25),
 * default_min_capacity). Loaded records have no alias. Readers, loaders and
 * unpackers return null, leaving the record zeroed and nothing allocated, when the
 * input ends early, a varint has no final byte within 5 bytes, count * elem_size or
 * the chosen block does not fit in 32 bits, the slots that min_capacity (or
 * default_min_capacity) adds beyond the capacity the count implies would take more
 * than the larger of 16 MiB and the form's element bytes, or a full form's
 * fill_percent is not a number from 0 to 100. Every form the writers produce from an
 * array whose min_capacity stays within that allowance reads back; the capacity the
 * count implies is capped at the slots a 32-bit block holds. From seekable streams and files they allocate only after checking that the
 * input holds all the element bytes; from other streams the memory asked for grows
 * with the element bytes that arrive. */

/* Writes the full form of `ga` to `stream`. Returns the element count of the final
 * write (count on success); 0 when the header write falls short.
 * Requires: `stream` open for binary writing; it is left open. */
size_t garray_write_full(const GrowArray *ga, FILE *stream);

/* Writes the short form of `ga` to `stream`. Results as garray_write_full. */
size_t garray_write_short(const GrowArray *ga, FILE *stream);

/* Writes the short form of `ga` to a new file at `path` (mode "wb").
 * Returns 0 on success; nonzero when the file cannot be opened, a write falls short
 * or closing fails. */
int garray_save_short(const GrowArray *ga, const char *path);

/* Returns a new malloc'd buffer holding the full form and stores its length in
 * *out_length; null (and length 0) when memory runs out or the size exceeds 32 bits.
 * The buffer has room for count * elem_size + 19 bytes. Requires: `out_length` is not
 * null. */
uint8_t *garray_pack_full(const GrowArray *ga, uint32_t *out_length);

/* As garray_pack_full for the short form (room for count * elem_size + 10 bytes). */
uint8_t *garray_pack_short(const GrowArray *ga, uint32_t *out_length);

/* Reads a full form from `stream` into `ga`. Returns `ga`, or null (see above).
 * Requires: `stream` open for binary reading; it is left open, just past the form. */
GrowArray *garray_read_full(GrowArray *ga, FILE *stream);

/* Reads a short form from `stream` into `ga`. Returns `ga`, or null (see above). */
GrowArray *garray_read_short(GrowArray *ga, FILE *stream);

/* Loads a short form from the file at `path` (mode "rb"). Returns `ga`, or null when
 * the file cannot be opened or holds no valid form (see above). */
GrowArray *garray_load_short(GrowArray *ga, const char *path);

/* Unpacks the full form at `src` into `ga`; when `out_end` is not null, stores the
 * address just past the form there. Returns `ga`, or null for a malformed form.
 * Requires: a complete form at `src` (its length is not checked; see the bounded
 * variant). */
GrowArray *garray_unpack_full(GrowArray *ga, const uint8_t *src, const uint8_t **out_end);

/* As garray_unpack_full for the short form. */
GrowArray *garray_unpack_short(GrowArray *ga, const uint8_t *src, const uint8_t **out_end);

/* As garray_unpack_full, reading no more than `length` bytes from `src`: returns null
 * when the form is truncated or malformed (nothing allocated, `ga` zeroed). */
GrowArray *garray_unpack_full_bounded(GrowArray *ga, const uint8_t *src, size_t length,
                                      const uint8_t **out_end);

/* As garray_unpack_short, reading no more than `length` bytes from `src`. */
GrowArray *garray_unpack_short_bounded(GrowArray *ga, const uint8_t *src, size_t length,
                                       const uint8_t **out_end);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif
