// The plant: every station's journal records in one PostgreSQL database, reached through
// libpq. Stations only insert and read; the database itself checks each station's
// sequence numbers and chain as records arrive, and completes in place a record that was
// delivered while its card was still running.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "journal/journal.h"

struct pg_conn;

namespace pelliton::plant {

// The plant schema this release writes and reads.
inline constexpr int kPlantSchemaVersion = 1;

// The role plant init grants the right to insert and read records, never to change or
// remove one; each station's login role is made a member of it.
inline constexpr const char* kStationRole = "pelliton_station";

// What the plant found wrong with a station's records.
struct Finding {
  std::string station;
  int64_t first_seq = 0;  // the records concerned, first_seq..last_seq
  int64_t last_seq = 0;
  std::string run_id;  // empty for a gap
  std::string kind;    // "gap", "chain", "sequence", "changed"
  std::string detail;
};

// Which records a report reads; an empty field does not filter.
struct PlantQuery {
  std::string since;  // time prefixes as journal::ParseSinceTime makes them
  std::string until;  // records before it
};

class Plant {
 public:
  // Connects to url (a libpq connection URI or key=value string) and checks that the
  // plant's schema is this release's. nullptr with a one-line *error that never holds a
  // password; a url that holds one is refused before anything is sent.
  static std::unique_ptr<Plant> Connect(const std::string& url, std::string* error);
  ~Plant();
  Plant(const Plant&) = delete;
  Plant& operator=(const Plant&) = delete;

  // Delivers records, each keyed by its run id: one already there is not inserted again.
  // True only once the server has acknowledged their commit; after a false some or all
  // of them may be there, and delivering them again is safe.
  bool Deliver(const std::vector<journal::JournalRecord>& records, std::string* error);

  // The records that match, oldest first, one at a time; each returns false to stop.
  bool ForEach(const PlantQuery& query,
               const std::function<bool(const journal::JournalRecord&)>& each, std::string* error);

  // Gaps in each station's sequence and what arrival checks flagged, by station and place.
  bool Findings(std::vector<Finding>* findings, std::string* error);

 private:
  explicit Plant(pg_conn* connection) : connection_(connection) {}
  pg_conn* connection_;
};

// Creates the plant's schema at url, or upgrades it to this release's; idempotent. *done
// receives one line per step taken (none when it was up to date already).
bool InitPlant(const std::string& url, std::vector<std::string>* done, std::string* error);

// Bytes that are no UTF-8 (and NUL, which no PostgreSQL text holds) as U+FFFD: a record's
// text arrives in the plant as close to the station's as the database can hold it.
std::string AsDatabaseText(const std::string& text);

}  // namespace pelliton::plant
