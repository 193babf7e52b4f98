#include "journal/card_record.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "engine/bytes.h"
#include "engine/card_generation.h"
#include "engine/script.h"
#include "journal/sha256.h"

namespace pelliton::journal {

namespace {

// The ends at which the run had not reset the card: the connection's ATR is then an
// earlier card's, not this run's.
bool ReadAnAtr(RunEnd end) {
  return end != RunEnd::kNoScript && end != RunEnd::kRefused && end != RunEnd::kResetFailed;
}

// What every procedure's record holds.
JournalRecord CommonRecord(const RunClock& clock, const Outcome& outcome, CardAccess& card) {
  JournalRecord record;
  record.time_utc = clock.StartText();
  record.duration_ms = clock.ElapsedMs();
  const CardConnection& connection = card.Connection();
  record.reader = RecordReaderName(card);
  if (ReadAnAtr(outcome.end) && clock.ReadAtrSinceStart(card)) {
    record.atr = HexText(connection.atr, std::min<size_t>(connection.atr_length, kAtrBufferSize));
    record.generation = std::string(GenerationName(VersionClassOfAtr(connection)));
  }
  record.outcome = std::string(RunEndName(outcome.end));
  record.message = outcome.message;
  record.failing_line = outcome.line;
  if (outcome.transport_result)
    record.transport_result = *outcome.transport_result;
  if (outcome.status_word) {
    char text[5];
    std::snprintf(text, sizeof text, "%02X%02X", outcome.status_word->sw1,
                  outcome.status_word->sw2);
    record.status_word = text;
  }
  record.apdu_count = outcome.exchanges;
  return record;
}

}  // namespace

std::string RecordReaderName(CardAccess& card) {
  return card.Mode() == ReaderMode::UsbReader ? "Orvo reader" : card.Connection().reader_name;
}

RunClock::RunClock(const CardAccess& card)
    : wall_(std::chrono::system_clock::now()),
      steady_(std::chrono::steady_clock::now()),
      atr_reads_(card.AtrReads()) {}

std::string RunClock::StartText() const {
  return UtcText(wall_);
}

int64_t RunClock::ElapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               steady_)
      .count();
}

std::string UtcText(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  // The calendar of <chrono>: the same on every platform, with no gmtime_r to look for.
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss clock{ms - day};
  char text[80];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

JournalRecord DownloadRecord(const RunClock& clock, const DownloadOutcome& outcome,
                             CardAccess& card, const std::string& script_path) {
  // Read as a script is read: a regular file of bounded size, never a pipe or a device.
  ScriptText script;
  if (!script_path.empty() && ReadScriptText(script_path, &script) == ScriptReadError::kNone)
    return DownloadRecord(clock, outcome, card, script_path, script.Bytes());
  JournalRecord record = CommonRecord(clock, outcome, card);
  record.procedure = "download";
  record.script_path = script_path;
  if (outcome.counter != 0)
    record.counter_written = outcome.counter;
  return record;
}

JournalRecord DownloadRecord(const RunClock& clock, const DownloadOutcome& outcome,
                             CardAccess& card, const std::string& script_path,
                             std::string_view script_bytes) {
  JournalRecord record = CommonRecord(clock, outcome, card);
  record.procedure = "download";
  record.script_path = script_path;
  record.script_size = static_cast<int64_t>(script_bytes.size());
  record.script_sha256 = Sha256Hex(script_bytes);
  if (outcome.counter != 0)
    record.counter_written = outcome.counter;
  return record;
}

void AddReadBack(const CardInfo& info, JournalRecord* record) {
  record->generation = std::string(GenerationName(info.generation));
  record->first_version = info.first_text;
  record->second_version = info.second_text;
  record->counter_read = info.counter.value_or("");
}

JournalRecord InfoRecord(const RunClock& clock, const CardInfoOutcome& outcome, CardAccess& card) {
  JournalRecord record = CommonRecord(clock, outcome, card);
  record.procedure = "info";
  if (outcome.info)
    AddReadBack(*outcome.info, &record);
  return record;
}

}  // namespace pelliton::journal
