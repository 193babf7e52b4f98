#include "cardaccess/card_access.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pelliton {

namespace {

bool CommandLengthFits(int32_t length) {
  return length >= 0 && static_cast<size_t>(length) <= kApduBufferSize;
}

}  // namespace

CardAccess::CardAccess(PcscApi& pcsc, OrvoApi& orvo) : pcsc_(pcsc), orvo_(orvo) {}

LONG CardAccess::ListReaders(std::vector<std::string>* names) {
  names->clear();
  connection_.reader_name.clear();

  const SCARDCONTEXT previous = connection_.context;
  connection_.context = 0;
  if (previous != 0) {
    if (connection_.handle_kind == HandleKind::Pcsc && handle_context_ == previous) {
      retired_context_ = previous;
    } else {
      pcsc_.ReleaseContext(previous);
    }
  }

  SCARDCONTEXT context = 0;
  const LONG established = pcsc_.EstablishContext(SCARD_SCOPE_USER, &context);
  if (established != SCARD_S_SUCCESS) {
    return established;
  }
  connection_.context = context;
  const LONG listed = pcsc_.ListReaders(context, names);
  if (listed != SCARD_S_SUCCESS) {
    names->clear();
  }
  return listed;
}

int32_t CardAccess::ResetCard() {
  last_reset_fault_ = ResetFault::kNone;
  return mode_ == ReaderMode::Pcsc ? ResetCardPcsc() : ResetCardOrvo();
}

void CardAccess::ReleaseHandle() {
  switch (connection_.handle_kind) {
    case HandleKind::Pcsc: {
      const auto card = static_cast<SCARDHANDLE>(connection_.card_handle);
      pcsc_.EndTransaction(card, SCARD_LEAVE_CARD);
      pcsc_.Disconnect(card, SCARD_UNPOWER_CARD);
      if (retired_context_ != 0) {
        pcsc_.ReleaseContext(retired_context_);
        retired_context_ = 0;
      }
      handle_context_ = 0;
      break;
    }
    case HandleKind::Orvo:
      orvo_.CloseReader(static_cast<int32_t>(connection_.card_handle));
      break;
    case HandleKind::None:
      break;
  }
  connection_.card_handle = 0;
  connection_.handle_kind = HandleKind::None;
}

int32_t CardAccess::ResetCardPcsc() {
  ReleaseHandle();

  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  const LONG connected =
      pcsc_.Connect(connection_.context, connection_.reader_name, SCARD_SHARE_SHARED,
                    SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
  if (connected != SCARD_S_SUCCESS) {
    last_reset_fault_ = ResetFault::kConnect;
    return static_cast<int32_t>(connected);
  }

  connection_.card_handle = static_cast<int64_t>(card);
  connection_.handle_kind = HandleKind::Pcsc;
  handle_context_ = connection_.context;
  connection_.active_protocol = static_cast<uint32_t>(protocol);
  connection_.send_header.dwProtocol = protocol;
  connection_.send_header.cbPciLength = sizeof(SCARD_IO_REQUEST);

  // The length goes in as it stands (0 after start): the service then answers with the
  // count it needs, and the second reset of a pair reads the ATR.
  DWORD atr_length = std::min<DWORD>(connection_.atr_length, kAtrBufferSize);
  const LONG status = pcsc_.Status(card, connection_.atr, &atr_length);
  connection_.atr_length = static_cast<uint32_t>(std::min<DWORD>(atr_length, kAtrBufferSize));
  pcsc_.BeginTransaction(card);
  if (status != SCARD_S_SUCCESS) {
    last_reset_fault_ = ResetFault::kStatus;
  } else {
    ++atr_reads_;
  }
  return static_cast<int32_t>(status);
}

int32_t CardAccess::ResetCardOrvo() {
  ReleaseHandle();

  const int32_t reader = orvo_.OpenReader();
  connection_.card_handle = reader;
  if (reader == PELLITON_READER_NOT_FOUND) {
    last_reset_fault_ = ResetFault::kOpenReader;
    return PELLITON_READER_NOT_FOUND;
  }
  // 0 in the cell means nothing open, so such a handle is never handed to the close call.
  connection_.handle_kind = reader != 0 ? HandleKind::Orvo : HandleKind::None;

  int32_t atr_length = 0;
  const int32_t reset = orvo_.ResetCard(reader, kOrvoSlot, connection_.atr, &atr_length);
  if (reset != 0 || atr_length < 0 || static_cast<size_t>(atr_length) > kAtrBufferSize) {
    last_reset_fault_ = ResetFault::kCardReset;
    return kOrvoResetFailed;
  }
  connection_.atr_length = static_cast<uint32_t>(atr_length);
  ++atr_reads_;
  return 0;
}

int32_t CardAccess::TransmitApdu() {
  return mode_ == ReaderMode::Pcsc ? TransmitPcsc() : TransmitOrvo();
}

int32_t CardAccess::TransmitPcsc() {
  ApduExchange& ex = exchange_;
  const DWORD capacity = std::min<DWORD>(ex.response_length, kApduBufferSize);
  if (connection_.handle_kind != HandleKind::Pcsc) {
    ex.response_length = 0;
    return static_cast<int32_t>(SCARD_E_INVALID_HANDLE);
  }
  if (!CommandLengthFits(ex.command_length)) {
    ex.response_length = 0;
    return static_cast<int32_t>(SCARD_E_INVALID_PARAMETER);
  }

  DWORD received = capacity;
  const LONG result =
      pcsc_.Transmit(static_cast<SCARDHANDLE>(connection_.card_handle), &connection_.send_header,
                     ex.command, static_cast<DWORD>(ex.command_length), ex.response, &received);
  if (result != SCARD_S_SUCCESS) {
    ex.response_length = static_cast<uint32_t>(std::min(received, capacity));
    return static_cast<int32_t>(result);
  }
  if (received > capacity) {
    ex.response_length = static_cast<uint32_t>(capacity);
    return static_cast<int32_t>(SCARD_E_INSUFFICIENT_BUFFER);
  }
  ex.response_length = static_cast<uint32_t>(received);
  if (received < 2) {
    return static_cast<int32_t>(SCARD_F_COMM_ERROR);
  }
  return 0;
}

int32_t CardAccess::TransmitOrvo() {
  ApduExchange& ex = exchange_;
  ex.response_length = kOrvoFailedResponseLength;
  if (connection_.handle_kind == HandleKind::Pcsc) {
    return PELLITON_READER_NOT_FOUND;
  }
  if (!CommandLengthFits(ex.command_length)) {
    return PELLITON_READER_TOO_LARGE;
  }

  // The reader does not read the length on entry; 200 is what a failure leaves behind.
  int32_t received = static_cast<int32_t>(kOrvoFailedResponseLength);
  int32_t result = orvo_.CardApdu(static_cast<int32_t>(connection_.card_handle), kOrvoSlot,
                                  ex.command, ex.command_length, ex.response, &received,
                                  static_cast<uint32_t>(kApduBufferSize));
  if (result == 0) {
    if (received < 0 || static_cast<size_t>(received) > kApduBufferSize) {
      result = PELLITON_READER_TOO_LARGE;
    } else if (received < 2) {
      result = PELLITON_READER_MALFORMED_REPLY;
    }
  }
  ex.response_length = result == 0 ? static_cast<uint32_t>(received) : kOrvoFailedResponseLength;
  return result;
}

}  // namespace pelliton
