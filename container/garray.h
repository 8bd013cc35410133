/* Growable arrays of fixed-size elements. */
#ifndef RESPMAT_CONTAINER_GARRAY_H
#define RESPMAT_CONTAINER_GARRAY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Process-wide default minimum capacity, initially 1 (shared with the table reader). */
extern uint32_t default_min_capacity;

#ifdef __cplusplus
}
#endif

#endif
