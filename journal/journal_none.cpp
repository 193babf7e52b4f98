// The journal of a build without SQLite (the Windows build made on Debian, which has no
// SQLite for MinGW-w64): nothing is kept, and every attempt to open it says so.
#include "journal/journal.h"

namespace pelliton::journal {

namespace {

constexpr char kNoJournal[] = "this build keeps no journal";

}  // namespace

bool JournalKept() {
  return false;
}

std::unique_ptr<Journal> Journal::Open(const std::string& /*path*/, const std::string& /*program*/,
                                       Access /*access*/, std::string* error) {
  *error = kNoJournal;
  return nullptr;
}

// No Journal is ever made here; these only complete the class.
Journal::~Journal() = default;

bool Journal::Append(JournalRecord /*record*/, std::string* error, std::string* /*run_id*/) {
  *error = kNoJournal;
  return false;
}

bool Journal::Begin(JournalRecord /*record*/, std::string* /*run_id*/, std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::Complete(const std::string& /*run_id*/, JournalRecord /*record*/,
                       std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::Abandon(const std::string& /*run_id*/, const char* /*outcome*/,
                      const std::string& /*message*/, std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::AbandonAll(const char* /*outcome*/, const std::string& /*message*/,
                         std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::ForEach(const JournalQuery& /*query*/,
                      const std::function<bool(const JournalRecord&)>& /*each*/,
                      std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::Snapshot(const std::function<bool(std::string*)>& /*body*/, std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::Verify(ChainReport* /*report*/, std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::List(const JournalQuery& /*query*/, std::vector<JournalRecord>* /*records*/,
                   std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::Pending(OutboxCursor* /*cursor*/, size_t /*limit*/,
                      std::vector<JournalRecord>* /*records*/, std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::CountPending(int64_t* /*count*/, std::string* error) {
  *error = kNoJournal;
  return false;
}

bool Journal::MarkDelivered(const std::vector<JournalRecord>& /*records*/, std::string* error) {
  *error = kNoJournal;
  return false;
}

}  // namespace pelliton::journal
