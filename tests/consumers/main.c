/* A C program using the library: writes, reloads and prints a matrix. */
#include <stdio.h>

#include <respmat/garray.h>
#include <respmat/matrix.h>
#include <respmat/text.h>
#include <respmat/version.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  Matrix M = matrix_alloc(2, 2);
  if (M == NULL) return 1;
  M[0][0] = 1.5;
  M[0][1] = -2;
  M[1][0] = 0.1;
  M[1][1] = 4;
  int failed = matrix_save_csv(M, argv[1], 0); /* nonzero: not written */
  matrix_free(M);
  if (failed) return 1;

  Matrix back = matrix_load_text(argv[1], 0, ",", 0, NULL);
  if (back == NULL) return 1;
  printf("%d x %d\n", matrix_rows(back), matrix_cols(back));
  matrix_write_csv(back, stdout, 1);
  matrix_free(back);

  StringTable table = table_read(argv[1], ",", 0, NULL);
  printf("rows=%d find=%d\n", carray_count(table), table_find_field(table, "0.1", 1));
  table_free(table);
  printf("respmat %s\n", respmat_version());
  return 0;
}
