/* The Unix half: pcsc-lite's own types and numbers, nothing of Windows'. */
#include <string.h>
#include <winscard.h>

#include "bridge.h"

/* Windows' numbers where pcsc-lite's differ. */
#define WIN_PROTOCOL_RAW 0x00010000u

static int32_t Code(LONG rc) {
  return (int32_t)(uint32_t)rc;
}

static DWORD ToUnixProtocols(uint32_t protocols) {
  DWORD unix_protocols = protocols & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
  if (protocols & WIN_PROTOCOL_RAW)
    unix_protocols |= SCARD_PROTOCOL_RAW;
  return unix_protocols;
}

static uint32_t ToWindowsProtocol(DWORD protocol) {
  uint32_t windows = (uint32_t)(protocol & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1));
  if (protocol & SCARD_PROTOCOL_RAW)
    windows |= WIN_PROTOCOL_RAW;
  return windows;
}

int32_t ub_establish_context(uint32_t scope, uint64_t* context) {
  SCARDCONTEXT unix_context = 0;
  const LONG rc = SCardEstablishContext(scope, NULL, NULL, &unix_context);
  *context = (uint64_t)unix_context;
  return Code(rc);
}

int32_t ub_release_context(uint64_t context) {
  return Code(SCardReleaseContext((SCARDCONTEXT)context));
}

int32_t ub_cancel(uint64_t context) {
  return Code(SCardCancel((SCARDCONTEXT)context));
}

int32_t ub_list_readers(uint64_t context, char* buffer, uint32_t* length) {
  DWORD unix_length = buffer != NULL ? *length : 0;
  const LONG rc = SCardListReaders((SCARDCONTEXT)context, NULL, buffer, &unix_length);
  *length = (uint32_t)unix_length;
  return Code(rc);
}

int32_t ub_connect(uint64_t context, const char* reader, uint32_t share, uint32_t protocols,
                   uint64_t* card, uint32_t* active_protocol) {
  SCARDHANDLE unix_card = 0;
  DWORD active = 0;
  const LONG rc = SCardConnect((SCARDCONTEXT)context, reader, share, ToUnixProtocols(protocols),
                               &unix_card, &active);
  *card = (uint64_t)unix_card;
  *active_protocol = ToWindowsProtocol(active);
  return Code(rc);
}

int32_t ub_disconnect(uint64_t card, uint32_t disposition) {
  return Code(SCardDisconnect((SCARDHANDLE)card, disposition));
}

int32_t ub_begin_transaction(uint64_t card) {
  return Code(SCardBeginTransaction((SCARDHANDLE)card));
}

int32_t ub_end_transaction(uint64_t card, uint32_t disposition) {
  return Code(SCardEndTransaction((SCARDHANDLE)card, disposition));
}

/* pcsc-lite's state is a bit mask; Windows' is the number of the furthest state. */
static uint32_t ToWindowsState(DWORD state) {
  if (state & SCARD_SPECIFIC)
    return 6;
  if (state & SCARD_NEGOTIABLE)
    return 5;
  if (state & SCARD_POWERED)
    return 4;
  if (state & SCARD_SWALLOWED)
    return 3;
  if (state & SCARD_PRESENT)
    return 2;
  if (state & SCARD_ABSENT)
    return 1;
  return 0;
}

int32_t ub_status(uint64_t card, char* reader, uint32_t* reader_length, uint32_t* state,
                  uint32_t* protocol, uint8_t* atr, uint32_t* atr_length) {
  char name[MAX_READERNAME + 1];
  DWORD name_length = sizeof name;
  DWORD unix_state = 0;
  DWORD unix_protocol = 0;
  BYTE unix_atr[MAX_ATR_SIZE];
  DWORD unix_atr_length = sizeof unix_atr;
  const LONG rc = SCardStatus((SCARDHANDLE)card, name, &name_length, &unix_state, &unix_protocol,
                              unix_atr, &unix_atr_length);
  if (rc != SCARD_S_SUCCESS)
    return Code(rc);
  if (reader_length != NULL) {
    if (reader != NULL && *reader_length < name_length) {
      *reader_length = (uint32_t)name_length;
      return Code(SCARD_E_INSUFFICIENT_BUFFER);
    }
    if (reader != NULL)
      memcpy(reader, name, name_length);
    *reader_length = (uint32_t)name_length;
  }
  if (state != NULL)
    *state = ToWindowsState(unix_state);
  if (protocol != NULL)
    *protocol = ToWindowsProtocol(unix_protocol);
  if (atr_length != NULL) {
    if (atr != NULL && *atr_length < unix_atr_length) {
      *atr_length = (uint32_t)unix_atr_length;
      return Code(SCARD_E_INSUFFICIENT_BUFFER);
    }
    if (atr != NULL)
      memcpy(atr, unix_atr, unix_atr_length);
    *atr_length = (uint32_t)unix_atr_length;
  }
  return 0;
}

int32_t ub_transmit(uint64_t card, uint32_t protocol, const uint8_t* send, uint32_t send_length,
                    uint8_t* receive, uint32_t* receive_length) {
  const SCARD_IO_REQUEST* pci = SCARD_PCI_T1;
  if (protocol == SCARD_PROTOCOL_T0)
    pci = SCARD_PCI_T0;
  else if (protocol & WIN_PROTOCOL_RAW)
    pci = SCARD_PCI_RAW;
  DWORD length = *receive_length;
  const LONG rc = SCardTransmit((SCARDHANDLE)card, pci, send, send_length, NULL, receive, &length);
  *receive_length = (uint32_t)length;
  return Code(rc);
}

int32_t ub_get_status_change(uint64_t context, uint32_t timeout, struct ub_reader_state* states,
                             uint32_t count) {
  SCARD_READERSTATE unix_states[64];
  if (count > sizeof unix_states / sizeof unix_states[0])
    return Code(SCARD_E_INVALID_PARAMETER);
  memset(unix_states, 0, sizeof unix_states);
  for (uint32_t i = 0; i < count; ++i) {
    unix_states[i].szReader = states[i].reader;
    unix_states[i].dwCurrentState = states[i].current_state;
  }
  const LONG rc = SCardGetStatusChange((SCARDCONTEXT)context, timeout, unix_states, count);
  for (uint32_t i = 0; i < count; ++i) {
    states[i].event_state = (uint32_t)unix_states[i].dwEventState;
    const DWORD length = unix_states[i].cbAtr <= UB_ATR_SIZE ? unix_states[i].cbAtr : 0;
    states[i].atr_length = (uint32_t)length;
    memcpy(states[i].atr, unix_states[i].rgbAtr, length);
  }
  return Code(rc);
}
