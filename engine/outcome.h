// What a procedure run came to, as a value: front ends decide exit codes, records and
// verdicts from it, never from a tone or from the texts the panel was shown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/card_generation.h"

namespace pelliton {

// SW1 SW2, the last two bytes of a response.
struct StatusWord {
  uint8_t sw1 = 0;
  uint8_t sw2 = 0;
  bool operator==(const StatusWord&) const = default;
};

// Where a run ended.
enum class RunEnd : uint8_t {
  kSuccess,
  kNoScript,          // no script chosen (browse)
  kRefused,           // a precondition of the run (reader, counter): the card was not touched
  kResetFailed,       // the card could not be reset
  kScriptUnreadable,  // the script file could not be read
  kScriptRefused,     // the script as a whole was refused (App1 start, AddressLine format)
  kWrongGeneration,   // the script does not suit the card's generation
  kScriptLine,        // a script line ended the run (line)
  kCommunication,     // an exchange failed (transport_result)
  kCardRefused,       // the card answered a status word that ends the run (status_word)
  kReadBack,          // the download succeeded, but reading the card back afterwards
                      // failed or showed another counter (front ends' read-back)
  kAbandoned,         // the card or reader stopped answering and was given up: the card
                      // may be left half-loaded
};

// A stable name of where a run ended ("success", "reset_failed", "read_back", ...), for
// records, their readers and verbose output; it never changes with the messages.
std::string_view RunEndName(RunEnd end);

struct Outcome {
  RunEnd end = RunEnd::kRefused;
  // The text that told the operator the outcome, exactly as shown ("\r\n" line breaks).
  std::string message;
  // 1-based line of the script that ended the run; 0 when no line did.
  uint32_t line = 0;
  // The transport's code of a failed reset or exchange.
  std::optional<int32_t> transport_result;
  // The status word that ended the run.
  std::optional<StatusWord> status_word;
  // Exchanges with the card made by the run (resets not counted).
  uint32_t exchanges = 0;

  bool Succeeded() const { return end == RunEnd::kSuccess; }
};

struct DownloadOutcome : Outcome {
  // The counter the run wrote, or was to write (0 before the controls were read).
  uint32_t counter = 0;
};

// What the card information query read from the card.
struct CardInfo {
  VersionClass generation = VersionClass::kUnknown;
  // The two version texts as the card stores them, and whether the card holds one
  // version (the first nine bytes of both fields agree).
  std::string first_text;
  std::string second_text;
  bool one_version = true;
  // What the operator reads: the version text(s) as the application line shows them, and
  // the four characters labelled "counter:" on cards that keep one.
  std::vector<std::string> versions;
  std::optional<std::string> counter;
};

struct CardInfoOutcome : Outcome {
  std::optional<CardInfo> info;  // on success
};

}  // namespace pelliton
