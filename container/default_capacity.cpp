#include "respmat/garray.h"

uint32_t default_min_capacity = 1;
