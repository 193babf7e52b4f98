#include "tests/support/sim_pcsc.h"

#include <algorithm>

namespace pelliton::testing {

void SimPcsc::AttachReader(const std::string& name, sim::CardModel* card, DWORD protocol) {
  if (FindReader(name) != nullptr) {
    return;
  }
  Reader reader;
  reader.name = name;
  reader.card = card;
  reader.protocol = protocol;
  reader.present = card != nullptr && card->Present();
  readers_.push_back(std::move(reader));
}

void SimPcsc::DetachReader(const std::string& name) {
  std::erase_if(readers_, [&](const Reader& r) { return r.name == name; });
}

void SimPcsc::InsertCard(const std::string& name, sim::CardModel* card) {
  Reader* reader = FindReader(name);
  if (reader == nullptr) {
    return;
  }
  // Whatever was in the reader is gone: handles made before see a removed card.
  reader->card = card;
  reader->present = card != nullptr && card->Present();
  reader->powered = false;
  reader->atr.clear();
  reader->insertion++;
  reader->transaction_holder = 0;
}

int SimPcsc::Connections(const std::string& reader) const {
  return static_cast<int>(std::count_if(connections_.begin(), connections_.end(),
                                        [&](const auto& c) { return c.second.reader == reader; }));
}

bool SimPcsc::TransactionHeld(const std::string& name) const {
  const Reader* reader = FindReader(name);
  return reader != nullptr && reader->transaction_holder != 0;
}

bool SimPcsc::Powered(const std::string& name) const {
  const Reader* reader = FindReader(name);
  return reader != nullptr && reader->powered;
}

int SimPcsc::PowerUps(const std::string& name) const {
  const Reader* reader = FindReader(name);
  return reader == nullptr ? 0 : reader->power_ups;
}

SimPcsc::Reader* SimPcsc::FindReader(const std::string& name) {
  for (Reader& reader : readers_) {
    if (reader.name == name) {
      return &reader;
    }
  }
  return nullptr;
}

const SimPcsc::Reader* SimPcsc::FindReader(const std::string& name) const {
  return const_cast<SimPcsc*>(this)->FindReader(name);
}

void SimPcsc::Refresh(Reader& reader) {
  const bool present = reader.card != nullptr && reader.card->Present();
  if (!present && reader.present) {
    reader.present = false;
    reader.powered = false;
    reader.atr.clear();
    reader.insertion++;
    reader.transaction_holder = 0;
  } else if (present && !reader.present) {
    reader.present = true;
  }
}

LONG SimPcsc::Check(SCARDHANDLE card, Connection** connection, Reader** reader) {
  auto it = connections_.find(card);
  if (it == connections_.end()) {
    return SCARD_E_INVALID_HANDLE;
  }
  Reader* r = FindReader(it->second.reader);
  if (r == nullptr) {
    return SCARD_E_READER_UNAVAILABLE;
  }
  Refresh(*r);
  if (it->second.insertion != r->insertion) {
    return SCARD_W_REMOVED_CARD;
  }
  if (it->second.power_cycle != r->power_cycle) {
    it->second.power_cycle = r->power_cycle;  // told once, as pcsc-lite does
    return SCARD_W_RESET_CARD;
  }
  *connection = &it->second;
  *reader = r;
  return SCARD_S_SUCCESS;
}

void SimPcsc::ApplyDisposition(Reader& reader, SCARDHANDLE card, DWORD disposition) {
  if (disposition == SCARD_LEAVE_CARD || !reader.present || !reader.powered) {
    return;
  }
  reader.card->PowerOff();
  reader.powered = false;
  reader.atr.clear();
  reader.power_cycle++;
  if (disposition == SCARD_RESET_CARD) {
    reader.atr = reader.card->PowerOn();
    reader.power_ups++;
    reader.powered = !reader.atr.empty();
  }
  auto it = connections_.find(card);
  if (it != connections_.end()) {
    it->second.power_cycle = reader.power_cycle;
  }
}

void SimPcsc::Drop(SCARDHANDLE card) {
  auto it = connections_.find(card);
  if (it == connections_.end()) {
    return;
  }
  Reader* reader = FindReader(it->second.reader);
  if (reader != nullptr && reader->transaction_holder == card) {
    reader->transaction_holder = 0;
  }
  connections_.erase(it);
}

LONG SimPcsc::EstablishContext(DWORD scope, SCARDCONTEXT* context) {
  calls_.push_back("EstablishContext");
  if (context == nullptr) {
    return SCARD_E_INVALID_PARAMETER;
  }
  if (!service_running_) {
    return SCARD_E_NO_SERVICE;
  }
  if (scope != SCARD_SCOPE_USER && scope != SCARD_SCOPE_TERMINAL && scope != SCARD_SCOPE_SYSTEM) {
    return SCARD_E_INVALID_VALUE;
  }
  *context = next_context_++;
  contexts_[*context] = true;
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::ReleaseContext(SCARDCONTEXT context) {
  calls_.push_back("ReleaseContext");
  if (contexts_.erase(context) == 0) {
    return SCARD_E_INVALID_HANDLE;
  }
  std::vector<SCARDHANDLE> orphans;
  for (const auto& [handle, connection] : connections_) {
    if (connection.context == context) {
      orphans.push_back(handle);
    }
  }
  for (SCARDHANDLE handle : orphans) {
    Drop(handle);
  }
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::ListReaders(SCARDCONTEXT context, std::vector<std::string>* names) {
  calls_.push_back("ListReaders");
  if (names == nullptr) {
    return SCARD_E_INVALID_PARAMETER;
  }
  if (!service_running_) {
    return SCARD_E_NO_SERVICE;
  }
  if (contexts_.count(context) == 0) {
    return SCARD_E_INVALID_HANDLE;
  }
  if (readers_.empty()) {
    return SCARD_E_NO_READERS_AVAILABLE;
  }
  names->clear();
  for (const Reader& reader : readers_) {
    names->push_back(reader.name);
  }
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::Connect(SCARDCONTEXT context, const std::string& name, DWORD share_mode,
                      DWORD preferred_protocols, SCARDHANDLE* card, DWORD* active_protocol) {
  calls_.push_back("Connect");
  if (card == nullptr || active_protocol == nullptr) {
    return SCARD_E_INVALID_PARAMETER;
  }
  if (contexts_.count(context) == 0) {
    return SCARD_E_INVALID_HANDLE;
  }
  if (share_mode != SCARD_SHARE_SHARED && share_mode != SCARD_SHARE_EXCLUSIVE &&
      share_mode != SCARD_SHARE_DIRECT) {
    return SCARD_E_INVALID_VALUE;
  }
  Reader* reader = FindReader(name);
  if (reader == nullptr) {
    return SCARD_E_UNKNOWN_READER;
  }
  Refresh(*reader);
  if (!reader->present) {
    return SCARD_E_NO_SMARTCARD;
  }
  for (const auto& [handle, connection] : connections_) {
    if (connection.reader == name &&
        (connection.share_mode == SCARD_SHARE_EXCLUSIVE || share_mode == SCARD_SHARE_EXCLUSIVE)) {
      return SCARD_E_SHARING_VIOLATION;
    }
  }
  if ((preferred_protocols & reader->protocol) == 0) {
    return SCARD_E_PROTO_MISMATCH;
  }
  if (!reader->powered) {
    reader->atr = reader->card->PowerOn();
    reader->power_ups++;
    if (reader->atr.empty()) {
      return SCARD_W_UNRESPONSIVE_CARD;
    }
    reader->powered = true;
  }
  Connection connection;
  connection.context = context;
  connection.reader = name;
  connection.share_mode = share_mode;
  connection.protocol = reader->protocol;
  connection.insertion = reader->insertion;
  connection.power_cycle = reader->power_cycle;
  *card = next_handle_++;
  connections_[*card] = connection;
  *active_protocol = reader->protocol;
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) {
  calls_.push_back("Status");
  Connection* connection = nullptr;
  Reader* reader = nullptr;
  if (const LONG checked = Check(card, &connection, &reader); checked != SCARD_S_SUCCESS) {
    return checked;
  }
  if (!reader->powered) {
    return SCARD_W_UNPOWERED_CARD;
  }
  if (atr_length == nullptr) {
    return SCARD_S_SUCCESS;
  }
  const DWORD needed = static_cast<DWORD>(reader->atr.size());
  if (atr != nullptr && *atr_length < needed) {
    *atr_length = needed;
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  if (atr != nullptr) {
    std::copy(reader->atr.begin(), reader->atr.end(), atr);
  }
  *atr_length = needed;
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::BeginTransaction(SCARDHANDLE card) {
  calls_.push_back("BeginTransaction");
  Connection* connection = nullptr;
  Reader* reader = nullptr;
  if (const LONG checked = Check(card, &connection, &reader); checked != SCARD_S_SUCCESS) {
    return checked;
  }
  if (reader->transaction_holder != 0 && reader->transaction_holder != card) {
    return SCARD_E_SHARING_VIOLATION;
  }
  reader->transaction_holder = card;
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::EndTransaction(SCARDHANDLE card, DWORD disposition) {
  calls_.push_back("EndTransaction");
  Connection* connection = nullptr;
  Reader* reader = nullptr;
  if (const LONG checked = Check(card, &connection, &reader); checked != SCARD_S_SUCCESS) {
    return checked;
  }
  if (reader->transaction_holder != card) {
    return SCARD_E_NOT_TRANSACTED;
  }
  reader->transaction_holder = 0;
  ApplyDisposition(*reader, card, disposition);
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::Disconnect(SCARDHANDLE card, DWORD disposition) {
  calls_.push_back("Disconnect");
  auto it = connections_.find(card);
  if (it == connections_.end()) {
    return SCARD_E_INVALID_HANDLE;
  }
  Reader* reader = FindReader(it->second.reader);
  if (reader != nullptr) {
    Refresh(*reader);
    if (it->second.insertion == reader->insertion) {
      ApplyDisposition(*reader, card, disposition);
    }
  }
  Drop(card);
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header,
                       const uint8_t* command, DWORD command_length, uint8_t* response,
                       DWORD* response_length) {
  calls_.push_back("Transmit");
  if (send_header == nullptr || command == nullptr || command_length == 0 || response == nullptr ||
      response_length == nullptr) {
    return SCARD_E_INVALID_PARAMETER;
  }
  Connection* connection = nullptr;
  Reader* reader = nullptr;
  if (const LONG checked = Check(card, &connection, &reader); checked != SCARD_S_SUCCESS) {
    return checked;
  }
  if (reader->transaction_holder != 0 && reader->transaction_holder != card) {
    return SCARD_E_SHARING_VIOLATION;
  }
  if (!reader->powered) {
    return SCARD_W_UNPOWERED_CARD;
  }
  if (send_header->dwProtocol != connection->protocol) {
    return SCARD_E_PROTO_MISMATCH;
  }
  const std::vector<uint8_t> reply = reader->card->Transmit(command, command_length);
  if (reply.empty()) {
    Refresh(*reader);
    return reader->present ? SCARD_E_NOT_TRANSACTED : SCARD_W_REMOVED_CARD;
  }
  if (reply.size() > *response_length) {
    *response_length = static_cast<DWORD>(reply.size());
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  std::copy(reply.begin(), reply.end(), response);
  *response_length = static_cast<DWORD>(reply.size());
  return SCARD_S_SUCCESS;
}

}  // namespace pelliton::testing
