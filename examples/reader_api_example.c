/* Reads the answer to reset of the card in an Orvo reader and asks the card for its
 * information reply, through the reader's C API.
 *   cc reader_api_example.c $(pkg-config --cflags --libs pelliton-reader)
 */
#include <pelliton/reader/reader_api.h>
#include <stdio.h>

int main(void) {
  int32_t reader = DllOpenReader();
  if (reader < 0) {
    printf("No Orvo reader found (%d)\n", (int)reader);
    return 1;
  }

  uint8_t atr[33];
  int32_t atr_length = 0;
  int32_t result = DllReset7816Card(reader, 0, atr, &atr_length);
  if (result != 0) {
    printf("No card in the reader (%d)\n", (int)result);
    DllCloseReader(reader);
    return 1;
  }
  printf("ATR:");
  for (int32_t i = 0; i < atr_length; ++i)
    printf(" %02X", atr[i]);
  printf("\n");

  /* The card information query; the reply is fetched with GET RESPONSE. */
  const uint8_t query[] = {0xF0, 0x88, 0x00, 0x00, 0x08, 0x11, 0x22,
                           0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  uint8_t response[594];
  int32_t response_length = 0;
  result = Dll7816CardAPDU(reader, 0, query, (int32_t)sizeof query, response, &response_length);
  if (result != 0 || response_length < 2) {
    printf("Exchange failed (%d)\n", (int)result);
  } else {
    printf("SW=%02X%02X\n", response[response_length - 2], response[response_length - 1]);
  }

  Dll7816CardPowerdown(reader, 0);
  DllCloseReader(reader);
  return result == 0 ? 0 : 1;
}
