/* The two halves of the test-only winscard bridge meet here: the Windows half (winscard
 * types, WINAPI) calls these, and the Unix half answers them through the host's
 * pcsc-lite. Fixed widths only, so that neither half's headers reach the other. Return
 * values are PC/SC codes as 32 bits; states, protocols and dispositions are Windows'
 * numbers, which the Unix half turns into pcsc-lite's. */
#ifndef PELLITON_WINSCARD_BRIDGE_H
#define PELLITON_WINSCARD_BRIDGE_H

#include <stdint.h>

#define UB_ATR_SIZE 36 /* Windows' rgbAtr */

struct ub_reader_state {
  const char* reader;
  uint32_t current_state;
  uint32_t event_state;
  uint32_t atr_length;
  uint8_t atr[UB_ATR_SIZE];
};

int32_t ub_establish_context(uint32_t scope, uint64_t* context);
int32_t ub_release_context(uint64_t context);
int32_t ub_cancel(uint64_t context);
/* buffer NULL: *length receives the size needed, terminators included. */
int32_t ub_list_readers(uint64_t context, char* buffer, uint32_t* length);
int32_t ub_connect(uint64_t context, const char* reader, uint32_t share, uint32_t protocols,
                   uint64_t* card, uint32_t* active_protocol);
int32_t ub_disconnect(uint64_t card, uint32_t disposition);
int32_t ub_begin_transaction(uint64_t card);
int32_t ub_end_transaction(uint64_t card, uint32_t disposition);
/* *state: Windows' number (1 absent ... 6 specific). reader may be NULL. */
int32_t ub_status(uint64_t card, char* reader, uint32_t* reader_length, uint32_t* state,
                  uint32_t* protocol, uint8_t* atr, uint32_t* atr_length);
int32_t ub_transmit(uint64_t card, uint32_t protocol, const uint8_t* send, uint32_t send_length,
                    uint8_t* receive, uint32_t* receive_length);
int32_t ub_get_status_change(uint64_t context, uint32_t timeout, struct ub_reader_state* states,
                             uint32_t count);

#endif
