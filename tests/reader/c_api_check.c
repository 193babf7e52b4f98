/* Built as C against the shared library: the header is plain C and, with no reader
 * attached, opening finds nothing and closing an unknown handle is refused. */
#include <stdio.h>

#include "reader/reader_api.h"

int main(void) {
  int failures = 0;
  const int32_t opened = DllOpenReader();
  if (opened != PELLITON_READER_NOT_FOUND) {
    fprintf(stderr, "DllOpenReader: %d, expected -2\n", (int)opened);
    ++failures;
    if (opened > 0) {
      DllCloseReader(opened);
    }
  }
  const int32_t closed = DllCloseReader(4242);
  if (closed != PELLITON_READER_CLOSE_FAILED) {
    fprintf(stderr, "DllCloseReader: %d, expected -4\n", (int)closed);
    ++failures;
  }
  uint8_t atr[64];
  int32_t atr_length = 0;
  if (DllReset7816Card(4242, 0, NULL, &atr_length) != PELLITON_READER_NULL_ARGUMENT ||
      DllReset7816Card(4242, 0, atr, &atr_length) <= 0) {
    fprintf(stderr, "DllReset7816Card on an unknown handle\n");
    ++failures;
  }
  return failures == 0 ? 0 : 1;
}
