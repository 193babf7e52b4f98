#include "tests/support/fake_pcsc.h"

#include <algorithm>
#include <cstdio>

namespace pelliton::testing {

namespace {

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

LONG FakePcsc::Pop(std::deque<LONG>& results) {
  if (results.empty()) {
    return SCARD_S_SUCCESS;
  }
  const LONG result = results.front();
  results.pop_front();
  return result;
}

LONG FakePcsc::EstablishContext(DWORD scope, SCARDCONTEXT* context) {
  calls.push_back("EstablishContext(" + std::to_string(scope) + ")");
  const LONG result = Pop(establish_results);
  if (result == SCARD_S_SUCCESS) {
    *context = next_context++;
  }
  return result;
}

LONG FakePcsc::ReleaseContext(SCARDCONTEXT context) {
  calls.push_back("ReleaseContext(" + Hex(context) + ")");
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::ListReaders(SCARDCONTEXT context, std::vector<std::string>* names) {
  calls.push_back("ListReaders(" + Hex(context) + ")");
  LONG result = Pop(list_results);
  if (result == SCARD_S_SUCCESS && readers.empty()) {
    result = SCARD_E_NO_READERS_AVAILABLE;
  }
  if (result == SCARD_S_SUCCESS) {
    *names = readers;
  }
  return result;
}

LONG FakePcsc::Connect(SCARDCONTEXT context, const std::string& reader, DWORD share_mode,
                       DWORD preferred_protocols, SCARDHANDLE* card, DWORD* active_protocol) {
  calls.push_back("Connect(" + Hex(context) + "," + reader + "," + std::to_string(share_mode) +
                  "," + std::to_string(preferred_protocols) + ")");
  const LONG result = Pop(connect_results);
  if (result == SCARD_S_SUCCESS) {
    *card = next_handle++;
    *active_protocol = protocol;
  }
  return result;
}

LONG FakePcsc::Status(SCARDHANDLE card, uint8_t* atr_out, DWORD* atr_length) {
  calls.push_back("Status(" + Hex(card) + "," + std::to_string(*atr_length) + ")");
  if (!status_results.empty()) {
    return Pop(status_results);
  }
  if (*atr_length < atr.size()) {
    *atr_length = static_cast<DWORD>(atr.size());
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  std::copy(atr.begin(), atr.end(), atr_out);
  *atr_length = static_cast<DWORD>(atr.size());
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::BeginTransaction(SCARDHANDLE card) {
  calls.push_back("BeginTransaction(" + Hex(card) + ")");
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::EndTransaction(SCARDHANDLE card, DWORD disposition) {
  calls.push_back("EndTransaction(" + Hex(card) + "," + std::to_string(disposition) + ")");
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::Disconnect(SCARDHANDLE card, DWORD disposition) {
  calls.push_back("Disconnect(" + Hex(card) + "," + std::to_string(disposition) + ")");
  return SCARD_S_SUCCESS;
}

LONG FakePcsc::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header,
                        const uint8_t* command, DWORD command_length, uint8_t* response,
                        DWORD* response_length) {
  const std::string protocol_name = send_header == nullptr                         ? "null"
                                    : send_header->dwProtocol == SCARD_PROTOCOL_T0 ? "T0"
                                    : send_header->dwProtocol == SCARD_PROTOCOL_T1 ? "T1"
                                                                                   : "?";
  calls.push_back("Transmit(" + Hex(card) + "," + protocol_name + "," +
                  std::to_string(command_length) + "," + std::to_string(*response_length) + ")");
  commands.emplace_back(command, command + command_length);
  if (replies.empty()) {
    return SCARD_E_NOT_TRANSACTED;
  }
  const Reply reply = replies.front();
  replies.pop_front();
  const size_t copied = std::min<size_t>(reply.bytes.size(), *response_length);
  std::copy_n(reply.bytes.begin(), copied, response);
  *response_length = reply.reported_length >= 0 ? static_cast<DWORD>(reply.reported_length)
                                                : static_cast<DWORD>(reply.bytes.size());
  return reply.result;
}

}  // namespace pelliton::testing
