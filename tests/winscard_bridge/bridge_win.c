/* The Windows half: the winscard functions as a Windows program calls them, with
 * Windows' types and layouts, each handed to the Unix half through bridge.h. Exported
 * as wb_* and renamed in winscard.exports: exported under their own names, a -Bsymbolic
 * winelib library would bind the Unix half's calls to pcsc-lite to these instead. */
#include <windows.h>
#include <winscard.h>

#include "bridge.h"

/* The layouts a Windows program passes, not pcsc-lite's (80 bytes, a 16-byte request). */
_Static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4, "Windows widths");
_Static_assert(sizeof(SCARD_READERSTATEA) == 64, "Windows reader state");
_Static_assert(sizeof(SCARD_IO_REQUEST) == 8, "Windows protocol control block");

const SCARD_IO_REQUEST wb_T0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST wb_T1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST wb_RawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

LONG WINAPI wb_SCardEstablishContext(DWORD scope, const void* reserved1, const void* reserved2,
                                     SCARDCONTEXT* context) {
  (void)reserved1;
  (void)reserved2;
  if (context == NULL)
    return SCARD_E_INVALID_PARAMETER;
  uint64_t unix_context = 0;
  const LONG rc = ub_establish_context(scope, &unix_context);
  *context = (SCARDCONTEXT)unix_context;
  return rc;
}

LONG WINAPI wb_SCardReleaseContext(SCARDCONTEXT context) {
  return ub_release_context(context);
}

LONG WINAPI wb_SCardCancel(SCARDCONTEXT context) {
  return ub_cancel(context);
}

LONG WINAPI wb_SCardFreeMemory(SCARDCONTEXT context, const void* memory) {
  (void)context;
  if (memory != NULL)
    HeapFree(GetProcessHeap(), 0, (void*)memory);
  return SCARD_S_SUCCESS;
}

LONG WINAPI wb_SCardListReadersA(SCARDCONTEXT context, const char* groups, char* readers,
                                 DWORD* length) {
  (void)groups;
  if (length == NULL)
    return SCARD_E_INVALID_PARAMETER;
  uint32_t needed = 0;
  LONG rc = ub_list_readers(context, NULL, &needed);
  if (rc != SCARD_S_SUCCESS)
    return rc;
  char* target = readers;
  if (*length == SCARD_AUTOALLOCATE) {
    if (readers == NULL)
      return SCARD_E_INVALID_PARAMETER;
    target = HeapAlloc(GetProcessHeap(), 0, needed);
    if (target == NULL)
      return SCARD_E_NO_MEMORY;
  } else if (readers == NULL) {
    *length = needed;
    return SCARD_S_SUCCESS;
  } else if (*length < needed) {
    *length = needed;
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  rc = ub_list_readers(context, target, &needed);
  if (*length == SCARD_AUTOALLOCATE) {
    if (rc == SCARD_S_SUCCESS)
      *(char**)readers = target;
    else
      HeapFree(GetProcessHeap(), 0, target);
  }
  *length = needed;
  return rc;
}

LONG WINAPI wb_SCardConnectA(SCARDCONTEXT context, const char* reader, DWORD share, DWORD protocols,
                             SCARDHANDLE* card, DWORD* active_protocol) {
  if (card == NULL || active_protocol == NULL || reader == NULL)
    return SCARD_E_INVALID_PARAMETER;
  uint64_t unix_card = 0;
  uint32_t active = 0;
  const LONG rc = ub_connect(context, reader, share, protocols, &unix_card, &active);
  *card = (SCARDHANDLE)unix_card;
  *active_protocol = active;
  return rc;
}

LONG WINAPI wb_SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
  return ub_disconnect(card, disposition);
}

LONG WINAPI wb_SCardBeginTransaction(SCARDHANDLE card) {
  return ub_begin_transaction(card);
}

LONG WINAPI wb_SCardEndTransaction(SCARDHANDLE card, DWORD disposition) {
  return ub_end_transaction(card, disposition);
}

LONG WINAPI wb_SCardStatusA(SCARDHANDLE card, char* reader, DWORD* reader_length, DWORD* state,
                            DWORD* protocol, BYTE* atr, DWORD* atr_length) {
  uint32_t name_length = reader_length != NULL ? *reader_length : 0;
  uint32_t unix_state = 0;
  uint32_t unix_protocol = 0;
  uint32_t length = atr_length != NULL ? *atr_length : 0;
  const LONG rc = ub_status(card, reader, reader_length != NULL ? &name_length : NULL, &unix_state,
                            &unix_protocol, atr, atr_length != NULL ? &length : NULL);
  if (reader_length != NULL)
    *reader_length = name_length;
  if (atr_length != NULL)
    *atr_length = length;
  if (state != NULL)
    *state = unix_state;
  if (protocol != NULL)
    *protocol = unix_protocol;
  return rc;
}

LONG WINAPI wb_SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_pci, const BYTE* send,
                             DWORD send_length, SCARD_IO_REQUEST* receive_pci, BYTE* receive,
                             DWORD* receive_length) {
  (void)receive_pci;
  if (send_pci == NULL || receive_length == NULL)
    return SCARD_E_INVALID_PARAMETER;
  uint32_t length = *receive_length;
  const LONG rc = ub_transmit(card, send_pci->dwProtocol, send, send_length, receive, &length);
  *receive_length = length;
  return rc;
}

LONG WINAPI wb_SCardGetStatusChangeA(SCARDCONTEXT context, DWORD timeout,
                                     SCARD_READERSTATEA* states, DWORD count) {
  struct ub_reader_state unix_states[64];
  if (count > sizeof unix_states / sizeof unix_states[0] || (count > 0 && states == NULL))
    return SCARD_E_INVALID_PARAMETER;
  for (DWORD i = 0; i < count; ++i) {
    unix_states[i].reader = states[i].szReader;
    unix_states[i].current_state = states[i].dwCurrentState;
    unix_states[i].event_state = 0;
    unix_states[i].atr_length = 0;
  }
  const LONG rc = ub_get_status_change(context, timeout, unix_states, count);
  for (DWORD i = 0; i < count; ++i) {
    states[i].dwEventState = unix_states[i].event_state;
    states[i].cbAtr = unix_states[i].atr_length;
    memcpy(states[i].rgbAtr, unix_states[i].atr, unix_states[i].atr_length);
  }
  return rc;
}
