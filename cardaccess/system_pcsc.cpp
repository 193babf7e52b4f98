// SystemPcsc: the system's PC/SC client library, pcsc-lite on Linux and winscard on
// Windows. The calls and result values are the same; the types differ in width (LONG is
// 64 bits with pcsc-lite, 32 on Windows), which the callers never depend on.
#include <cstring>

#include "cardaccess/pcsc_api.h"

namespace pelliton {

LONG SystemPcsc::EstablishContext(DWORD scope, SCARDCONTEXT* context) {
  return SCardEstablishContext(scope, nullptr, nullptr, context);
}

LONG SystemPcsc::ReleaseContext(SCARDCONTEXT context) {
  return SCardReleaseContext(context);
}

LONG SystemPcsc::ListReaders(SCARDCONTEXT context, std::vector<std::string>* names) {
  if (names == nullptr) {
    return SCARD_E_INVALID_PARAMETER;
  }
  names->clear();
  char* list = nullptr;
  DWORD length = SCARD_AUTOALLOCATE;
  const LONG result = PELLITON_SCARD_BYTES(SCardListReaders)(
      context, nullptr, reinterpret_cast<char*>(&list), &length);
  if (result != SCARD_S_SUCCESS) {
    return result;
  }
  if (list == nullptr) {
    return SCARD_E_NO_READERS_AVAILABLE;
  }
  // A run of zero-terminated names ended by an empty one; never read past the length given.
  size_t offset = 0;
  while (offset < length) {
    const size_t name_length = strnlen(list + offset, length - offset);
    if (name_length == 0) {
      break;
    }
    names->emplace_back(list + offset, name_length);
    offset += name_length + 1;
  }
  SCardFreeMemory(context, list);
  return SCARD_S_SUCCESS;
}

LONG SystemPcsc::Connect(SCARDCONTEXT context, const std::string& reader, DWORD share_mode,
                         DWORD preferred_protocols, SCARDHANDLE* card, DWORD* active_protocol) {
  // No context was established (card access keeps 0 for none): pcsc-lite's own answer,
  // given here so that winscard is not asked (wine's aborts the process).
  if (context == 0) {
    return SCARD_E_INVALID_HANDLE;
  }
  return PELLITON_SCARD_BYTES(SCardConnect)(context, reader.c_str(), share_mode,
                                            preferred_protocols, card, active_protocol);
}

LONG SystemPcsc::Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) {
  // No name buffer: only the ATR is wanted.
  DWORD name_length = 200;
  DWORD state = 0;
  DWORD protocol = 0;
  return PELLITON_SCARD_BYTES(SCardStatus)(card, nullptr, &name_length, &state, &protocol, atr,
                                           atr_length);
}

LONG SystemPcsc::BeginTransaction(SCARDHANDLE card) {
  return SCardBeginTransaction(card);
}

LONG SystemPcsc::EndTransaction(SCARDHANDLE card, DWORD disposition) {
  return SCardEndTransaction(card, disposition);
}

LONG SystemPcsc::Disconnect(SCARDHANDLE card, DWORD disposition) {
  return SCardDisconnect(card, disposition);
}

LONG SystemPcsc::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header,
                          const uint8_t* command, DWORD command_length, uint8_t* response,
                          DWORD* response_length) {
  return SCardTransmit(card, send_header, command, command_length, nullptr, response,
                       response_length);
}

LONG SystemPcsc::GetStatusChange(SCARDCONTEXT context, DWORD timeout_ms,
                                 std::vector<ReaderState>* states) {
  if (states == nullptr || states->empty())
    return SCARD_E_INVALID_PARAMETER;
  std::vector<PELLITON_SCARD_BYTES(SCARD_READERSTATE)> native(states->size());
  for (size_t i = 0; i < states->size(); ++i) {
    native[i].szReader = (*states)[i].reader.c_str();
    native[i].dwCurrentState = (*states)[i].current;
  }
  const LONG result = PELLITON_SCARD_BYTES(SCardGetStatusChange)(context, timeout_ms, native.data(),
                                                                 static_cast<DWORD>(native.size()));
  if (result == SCARD_S_SUCCESS) {
    for (size_t i = 0; i < states->size(); ++i)
      (*states)[i].event = native[i].dwEventState;
  }
  return result;
}

LONG SystemPcsc::Cancel(SCARDCONTEXT context) {
  return SCardCancel(context);
}

}  // namespace pelliton
