#include "tests/support/sim_pcsc.h"

#include <algorithm>
#include <chrono>

namespace pelliton::testing {

void SimPcsc::AttachReader(const std::string& name, sim::CardModel* card, DWORD protocol) {
  const Lock lock(mutex_);
  if (FindReader(name) != nullptr) {
    return;
  }
  Reader reader;
  reader.name = name;
  reader.card = card;
  reader.protocol = protocol;
  reader.present = card != nullptr && card->Present();
  reader.events = reader.present ? 1 : 0;
  readers_.push_back(std::move(reader));
  reader_changes_++;
  Changed();
}

void SimPcsc::DetachReader(const std::string& name) {
  const Lock lock(mutex_);
  if (std::erase_if(readers_, [&](const Reader& r) { return r.name == name; }) != 0)
    reader_changes_++;
  Changed();
}

void SimPcsc::InsertCard(const std::string& name, sim::CardModel* card) {
  const Lock lock(mutex_);
  Reader* reader = FindReader(name);
  if (reader == nullptr) {
    return;
  }
  // Whatever was in the reader is gone: handles made before see a removed card.
  const bool present = card != nullptr && card->Present();
  reader->events += (reader->present ? 1 : 0) + (present ? 1 : 0);
  reader->card = card;
  reader->present = present;
  reader->powered = false;
  reader->atr.clear();
  reader->insertion++;
  reader->transaction_holder = 0;
  reader->stalled = false;
  Changed();
}

void SimPcsc::SetServiceRunning(bool running) {
  const Lock lock(mutex_);
  if (service_running_ && !running) {
    for (const auto& [context, alive] : contexts_)
      dead_contexts_.insert(context);
    contexts_.clear();
    for (const auto& [handle, connection] : connections_)
      dead_handles_.insert(handle);
    connections_.clear();
    for (Reader& reader : readers_)
      reader.transaction_holder = 0;
  }
  service_running_ = running;
  Changed();
}

void SimPcsc::HoldForOtherProgram(const std::string& name, bool held) {
  const Lock lock(mutex_);
  if (Reader* reader = FindReader(name); reader != nullptr)
    reader->held_by_other = held;
  Changed();
}

void SimPcsc::StallAfter(const std::string& name, int commands) {
  const Lock lock(mutex_);
  if (Reader* reader = FindReader(name); reader != nullptr)
    reader->commands_before_stall = commands;
}

void SimPcsc::StopStalling(const std::string& name) {
  const Lock lock(mutex_);
  if (Reader* reader = FindReader(name); reader != nullptr) {
    reader->commands_before_stall = -1;
    reader->stalled = false;
  }
  Changed();
}

bool SimPcsc::Stalled(const std::string& name) const {
  const Lock lock(mutex_);
  const Reader* reader = FindReader(name);
  return reader != nullptr && reader->stalled;
}

std::vector<std::string> SimPcsc::Calls() const {
  const Lock lock(mutex_);
  return calls_;
}

LONG SimPcsc::CheckContext(SCARDCONTEXT context) const {
  if (dead_contexts_.count(context) != 0)
    return SCARD_E_NO_SERVICE;
  return contexts_.count(context) != 0 ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

DWORD SimPcsc::StateOf(const std::string& name) {
  if (name == kReaderChangeName)
    return static_cast<DWORD>(reader_changes_ & 0xFFFF) << 16;
  Reader* reader = FindReader(name);
  if (reader == nullptr)
    return SCARD_STATE_UNKNOWN;
  Refresh(*reader);
  DWORD state = reader->present ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY;
  if (reader->present && std::any_of(connections_.begin(), connections_.end(),
                                     [&](const auto& c) { return c.second.reader == name; }))
    state |= SCARD_STATE_INUSE;
  return state | static_cast<DWORD>(reader->events & 0xFFFF) << 16;
}

LONG SimPcsc::GetStatusChange(SCARDCONTEXT context, DWORD timeout_ms,
                              std::vector<ReaderState>* states) {
  Lock lock(mutex_);
  calls_.push_back("GetStatusChange");
  if (states == nullptr || states->empty())
    return SCARD_E_INVALID_PARAMETER;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (const LONG checked = CheckContext(context); checked != SCARD_S_SUCCESS)
      return checked;
    if (cancelled_.erase(context) != 0)
      return SCARD_E_CANCELLED;
    bool changed = false;
    for (ReaderState& state : *states) {
      const DWORD now = StateOf(state.reader);
      const DWORD known = state.current & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
      // A caller unaware of the state, or one that knows another, is told at once.
      if (now != known) {
        state.event = now | SCARD_STATE_CHANGED;
        changed = true;
      } else {
        state.event = now;
      }
    }
    if (changed)
      return SCARD_S_SUCCESS;
    if (timeout_ms != INFINITE) {
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout &&
          std::chrono::steady_clock::now() >= deadline)
        return SCARD_E_TIMEOUT;
    } else {
      changed_.wait(lock);
    }
  }
}

LONG SimPcsc::Cancel(SCARDCONTEXT context) {
  const Lock lock(mutex_);
  if (const LONG checked = CheckContext(context); checked != SCARD_S_SUCCESS)
    return checked;
  cancelled_.insert(context);
  Changed();
  return SCARD_S_SUCCESS;
}

int SimPcsc::Connections(const std::string& reader) const {
  const Lock lock(mutex_);
  return static_cast<int>(std::count_if(connections_.begin(), connections_.end(),
                                        [&](const auto& c) { return c.second.reader == reader; }));
}

bool SimPcsc::TransactionHeld(const std::string& name) const {
  const Lock lock(mutex_);
  const Reader* reader = FindReader(name);
  return reader != nullptr && reader->transaction_holder != 0;
}

bool SimPcsc::Powered(const std::string& name) const {
  const Lock lock(mutex_);
  const Reader* reader = FindReader(name);
  return reader != nullptr && reader->powered;
}

int SimPcsc::PowerUps(const std::string& name) const {
  const Lock lock(mutex_);
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
    reader.events++;
    reader.present = false;
    reader.powered = false;
    reader.atr.clear();
    reader.insertion++;
    reader.transaction_holder = 0;
    Changed();
  } else if (present && !reader.present) {
    reader.events++;
    reader.present = true;
    Changed();
  }
}

LONG SimPcsc::Check(SCARDHANDLE card, Connection** connection, Reader** reader) {
  if (dead_handles_.count(card) != 0) {
    return SCARD_E_NO_SERVICE;
  }
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
  Lock lock(mutex_);
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
  Lock lock(mutex_);
  calls_.push_back("ReleaseContext");
  if (dead_contexts_.erase(context) != 0) {
    return SCARD_S_SUCCESS;
  }
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
  Lock lock(mutex_);
  calls_.push_back("ListReaders");
  if (names == nullptr) {
    return SCARD_E_INVALID_PARAMETER;
  }
  if (!service_running_) {
    return SCARD_E_NO_SERVICE;
  }
  if (const LONG checked = CheckContext(context); checked != SCARD_S_SUCCESS) {
    return checked;
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
  Lock lock(mutex_);
  calls_.push_back("Connect");
  if (card == nullptr || active_protocol == nullptr) {
    return SCARD_E_INVALID_PARAMETER;
  }
  if (const LONG checked = CheckContext(context); checked != SCARD_S_SUCCESS) {
    return checked;
  }
  if (share_mode != SCARD_SHARE_SHARED && share_mode != SCARD_SHARE_EXCLUSIVE &&
      share_mode != SCARD_SHARE_DIRECT) {
    return SCARD_E_INVALID_VALUE;
  }
  Reader* reader = FindReader(name);
  if (reader == nullptr) {
    return SCARD_E_UNKNOWN_READER;
  }
  // pcsc-lite holds a connect back while another program's transaction lasts.
  changed_.wait(lock, [&] {
    reader = FindReader(name);
    return reader == nullptr || !reader->held_by_other || CheckContext(context) != SCARD_S_SUCCESS;
  });
  if (const LONG checked = CheckContext(context); checked != SCARD_S_SUCCESS) {
    return checked;
  }
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
  Changed();
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::Status(SCARDHANDLE card, uint8_t* atr, DWORD* atr_length) {
  Lock lock(mutex_);
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
  Lock lock(mutex_);
  calls_.push_back("BeginTransaction");
  Connection* connection = nullptr;
  Reader* reader = nullptr;
  if (const LONG checked = Check(card, &connection, &reader); checked != SCARD_S_SUCCESS) {
    return checked;
  }
  if (reader->held_by_other) {
    const std::string name = reader->name;
    changed_.wait(lock, [&] {
      const Reader* r = FindReader(name);
      return connections_.count(card) == 0 || r == nullptr || !r->held_by_other;
    });
    if (const LONG checked = Check(card, &connection, &reader); checked != SCARD_S_SUCCESS) {
      return checked;
    }
  }
  if (reader->transaction_holder != 0 && reader->transaction_holder != card) {
    return SCARD_E_SHARING_VIOLATION;
  }
  reader->transaction_holder = card;
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::EndTransaction(SCARDHANDLE card, DWORD disposition) {
  Lock lock(mutex_);
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
  Lock lock(mutex_);
  calls_.push_back("Disconnect");
  if (dead_handles_.erase(card) != 0) {
    return SCARD_E_NO_SERVICE;
  }
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
  Changed();
  return SCARD_S_SUCCESS;
}

LONG SimPcsc::Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* send_header,
                       const uint8_t* command, DWORD command_length, uint8_t* response,
                       DWORD* response_length) {
  Lock lock(mutex_);
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
  if (reader->commands_before_stall == 0) {
    // The card stopped answering: the command waits as pcsc-lite's would, until the test
    // lets it go; then the late answer comes.
    reader->stalled = true;
    Changed();
    const std::string name = reader->name;
    changed_.wait(lock, [&] {
      const Reader* r = FindReader(name);
      return r == nullptr || !r->stalled;
    });
    if (const LONG checked = Check(card, &connection, &reader); checked != SCARD_S_SUCCESS) {
      return checked;
    }
  }
  if (reader->commands_before_stall > 0) {
    reader->commands_before_stall--;
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
