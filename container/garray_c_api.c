/* Uses the container from C: proves that its header compiles as C and links. */
#include <stdlib.h>

#include "respmat/garray.h"

int garray_c_round_trip(void) {
  GrowArray a, back;
  int values[] = {5, -3, 8};
  int *alias = NULL;
  uint32_t length = 0;
  uint8_t *form;
  int ok;
  if (garray_init(&a, sizeof(int)) == NULL) return 0;
  garray_set_alias(&a, (void **)&alias);
  garray_append_n(&a, values, 3);
  form = garray_pack_full(&a, &length);
  ok = form != NULL && garray_unpack_full_bounded(&back, form, length, NULL) == &back;
  if (ok) {
    ok = back.count == 3 && garray_find(&back, &values[1]) == 1 && alias == a.data &&
         alias[2] == 8 && zigzag_decode(zigzag_encode(-3)) == -3;
    garray_release(&back);
  }
  free(form);
  garray_release(&a);
  return ok && alias == NULL;
}
