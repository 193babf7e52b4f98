#include "cli/render/render.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "cardaccess/pcsc_codes.h"
#include "cli/commands/plant.h"
#include "cli/render/console_panel.h"
#include "cli/render/json_line.h"
#include "cli/render/verdict.h"
#include "engine/bytes.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"

namespace pelliton::cli {

namespace {

Json Header(const char* command) {
  return JsonHeader(command);
}

std::string Line(const Json& json) {
  return JsonLine(json);
}

Json FailuresJson(const std::vector<TallyFailure>& failures) {
  Json list = Json::array();
  for (const TallyFailure& failure : failures)
    list.push_back({{"card", failure.card}, {"message", WithLineFeeds(failure.message)}});
  return list;
}

// "Card 3 failed: MESSAGE" lines, indent before each.
std::string FailureLines(const std::vector<TallyFailure>& failures, const char* indent) {
  std::string text;
  for (const TallyFailure& failure : failures) {
    text += indent + std::string("Card ") + std::to_string(failure.card) +
            " failed: " + AsTerminalText(WithLineFeeds(failure.message)) + "\n";
  }
  return text;
}

bool IsUtf8(const std::string& text) {
  try {
    (void)Json(text).dump();
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

// The card line as a field: no trailing blank, no line breaks.
std::string CardLineField(VersionClass generation) {
  std::string line = CardLineOf(generation);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
    line.pop_back();
  return line;
}

Json Messages(const std::vector<std::string>& messages) {
  Json array = Json::array();
  for (const std::string& message : messages)
    array.push_back(WithLineFeeds(message));
  return array;
}

// A path as a JSON field. A path that is not UTF-8 loses bytes in the string, so its
// raw bytes follow in hex ("script_hex"), which still name the file.
void PutPath(Json& json, const std::string& path) {
  json["script"] = path;
  if (IsUtf8(path))
    return;
  json["script_hex"] = HexText(path, HexCase::kLower);
}

void PutCardInfo(Json& json, const CardInfo& info) {
  const std::string_view generation = GenerationName(info.generation);
  json["card_version"] = generation.empty() ? Json() : Json(std::string(generation));
  json["card_line"] = CardLineField(info.generation);
  json["application_line"] = ApplicationLine(info);
  // A card with one version text holds it for both applications.
  json["one_version"] = info.one_version;
  const std::string app1 = info.versions.empty() ? std::string() : info.versions.front();
  json["app1_version"] = app1;
  json["app2_version"] = info.versions.size() > 1 ? info.versions[1] : app1;
  if (info.counter) {
    const std::optional<uint32_t> number = CounterNumber(*info.counter);
    json["counter"] = number ? Json(*number) : Json();
    json["counter_text"] = *info.counter;
  } else {
    json["counter"] = nullptr;
    json["counter_text"] = nullptr;
  }
}

// The counter as typed, as the counter rule reads it (out of range too); null when the
// rule finds no number.
Json CounterAsTyped(const std::string& text) {
  uint32_t number = 0;
  if (ParseCounterText(text, &number) == CounterParse::kNotANumber)
    return nullptr;
  return number;
}

Json AppJson(const AppTally& app) {
  Json json;
  json["present"] = app.addresses.present;
  json["start"] = app.addresses.start;
  json["end"] = app.addresses.end;
  json["data_lines"] = app.data_lines;
  json["data_bytes"] = app.data_bytes;
  return json;
}

}  // namespace

std::string WithLineFeeds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

std::optional<uint32_t> CounterNumber(const std::string& characters) {
  if (characters.empty() || characters.size() > 9 ||
      characters.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return static_cast<uint32_t>(std::stoul(characters));
}

std::string RunJson(const CliOptions& options, const std::string& reader, const CardRun& run,
                    std::optional<int> card_number) {
  Json json = Header(CommandName(options.command));
  if (card_number)
    json["card"] = *card_number;
  json["success"] = run.outcome.Succeeded();
  json["reader"] = reader;
  json["run_id"] = run.run_id.empty() ? Json() : Json(run.run_id);
  json["atr"] = run.atr_hex.empty() ? Json() : Json(run.atr_hex);
  json["elapsed_ms"] = run.elapsed.count();
  if (options.command == Command::kDownload) {
    PutPath(json, options.script);
    json["counter"] = CounterAsTyped(options.counter_text);
  }
  json["messages"] = Messages(run.messages);
  if (options.command == Command::kInfo && run.outcome.Succeeded() && run.info)
    PutCardInfo(json, *run.info);
  if (run.read_back) {
    Json read_back = Json::object();
    PutCardInfo(read_back, *run.read_back);
    json["read_back"] = std::move(read_back);
  }
  return Line(json);
}

std::string TallyOutput(const CliOptions& options, int cards,
                        const std::vector<TallyFailure>& failures, bool stopped) {
  const int failed = static_cast<int>(failures.size());
  if (options.json) {
    Json json = Header("tally");
    json["cards"] = cards;
    json["succeeded"] = cards - failed;
    json["failed"] = failed;
    json["interrupted"] = stopped;
    json["failures"] = FailuresJson(failures);
    return Line(json);
  }
  return "\nCards: " + std::to_string(cards) + ", succeeded: " + std::to_string(cards - failed) +
         ", failed: " + std::to_string(failed) + "\n" + FailureLines(failures, "");
}

std::string StationTallyOutput(bool json, const std::vector<station::ReaderTally>& tallies,
                               bool interrupted) {
  int cards = 0;
  int failed = 0;
  for (const station::ReaderTally& tally : tallies) {
    cards += tally.cards;
    failed += static_cast<int>(tally.failures.size());
  }
  if (json) {
    Json out = Header("tally");
    out["cards"] = cards;
    out["succeeded"] = cards - failed;
    out["failed"] = failed;
    out["interrupted"] = interrupted;
    out["readers"] = Json::array();
    for (const station::ReaderTally& tally : tallies) {
      Json reader;
      reader["reader"] = tally.reader;
      reader["cards"] = tally.cards;
      reader["succeeded"] = tally.cards - static_cast<int>(tally.failures.size());
      reader["failed"] = tally.failures.size();
      reader["failures"] = FailuresJson(tally.failures);
      reader["ended"] = tally.ended.empty() ? Json(nullptr) : Json(tally.ended);
      out["readers"].push_back(std::move(reader));
    }
    return Line(out);
  }
  std::string text = "\n";
  for (const station::ReaderTally& tally : tallies) {
    const int reader_failed = static_cast<int>(tally.failures.size());
    text += "Reader " + AsTerminalText(tally.reader) + ": cards " + std::to_string(tally.cards) +
            ", succeeded " + std::to_string(tally.cards - reader_failed) + ", failed " +
            std::to_string(reader_failed) +
            (tally.ended.empty() ? std::string() : "; " + AsTerminalText(tally.ended)) + "\n" +
            FailureLines(tally.failures, "  ");
  }
  text += "Total: cards " + std::to_string(cards) + ", succeeded " +
          std::to_string(cards - failed) + ", failed " + std::to_string(failed) + " (" +
          std::to_string(tallies.size()) + (tallies.size() == 1 ? " reader" : " readers") +
          (interrupted ? ", interrupted" : "") + ")\n";
  return text;
}

std::string ReadersOutput(const CliOptions& options, const std::vector<std::string>& readers,
                          bool service_running, bool orvo_attached) {
  if (options.json) {
    Json json = Header("readers");
    json["success"] = !readers.empty() || orvo_attached;
    json["pcsc_service"] = service_running ? "running" : "not running";
    json["pcsc_readers"] = readers;
    json["orvo_reader"] = orvo_attached;
    return Line(json);
  }
  std::string text;
  if (!service_running) {
    // A line of its own: the sentence starts with a capital.
    std::string sentence = PcscServiceDownMessage();
    sentence.front() =
        static_cast<char>(std::toupper(static_cast<unsigned char>(sentence.front())));
    text += sentence + "\n";
  } else if (readers.empty()) {
    text += "No PC/SC card reader exists!\n";
  } else {
    text += "PC/SC readers:\n";
    for (size_t i = 0; i < readers.size(); ++i)
      text += "  " + std::to_string(i) + ": " + AsTerminalText(readers[i]) + "\n";
  }
  text += orvo_attached ? "Orvo reader: attached\n" : "Orvo reader: not attached\n";
  return text;
}

std::string CheckOutput(const CliOptions& options, const ScriptCheckReport& report) {
  const std::string strict_refusal = StrictRefusal(report, options.strict);
  if (!options.json) {
    std::string text = DescribeCheck(report);
    if (!strict_refusal.empty())
      text += strict_refusal + "\n";
    return AsTerminalText(text);
  }
  Json json = Header("check");
  json["success"] = CheckPasses(report, options.strict);
  PutPath(json, options.script);
  std::vector<std::string> messages;
  if (!report.sound) {
    messages.push_back(report.message);
  } else if (!strict_refusal.empty()) {
    messages.push_back(strict_refusal);
  }
  json["messages"] = Messages(messages);
  if (!report.sound) {
    json["line"] = report.fault_line != 0 ? Json(report.fault_line) : Json();
  } else {
    json["lines"] = report.lines;
    json["pass_through_lines"] = report.pass_through_lines;
    json["app1"] = AppJson(report.app1);
    json["app2"] = AppJson(report.app2);
    json["suits_v1_cards"] = report.suits_old_cards;
  }
  json["warnings"] = Json::array();
  for (const ScriptWarning& warning : report.warnings) {
    Json entry;
    entry["line"] = warning.line != 0 ? Json(warning.line) : Json();
    entry["code"] = WarningCode(warning.kind);
    entry["message"] = WithLineFeeds(warning.message);
    json["warnings"].push_back(std::move(entry));
  }
  json["warnings_left_off"] = report.warnings_left_off;
  return Line(json);
}

std::string OutcomeDetail(const Outcome& outcome) {
  std::string text(RunEndName(outcome.end));
  char code[32];
  if (outcome.status_word) {
    std::snprintf(code, sizeof code, ", SW %02X%02X", outcome.status_word->sw1,
                  outcome.status_word->sw2);
    text += code;
  }
  if (outcome.transport_result) {
    std::snprintf(code, sizeof code, ", transport code 0x%08X",
                  static_cast<uint32_t>(*outcome.transport_result));
    text += code;
  }
  if (outcome.line != 0)
    text += ", line " + std::to_string(outcome.line);
  return text + ", " + std::to_string(outcome.exchanges) + " exchanges";
}

std::string QuietOutput(const CardRun& run) {
  if (run.outcome.Succeeded() && run.info) {
    return AsTerminalText(CardLineField(run.info->generation) + "\n" + ApplicationLine(*run.info) +
                          "\n");
  }
  return AsTerminalText(WithLineFeeds(run.outcome.message)) + "\n";
}

std::string ScriptTroubleNote(const std::string& path, ScriptReadError read, bool utf16) {
  if (read != ScriptReadError::kNone)
    return "pelliton-cli: cannot read " + AsTerminalText(path) + ": " + ScriptReadErrorText(read) +
           "\n";
  if (utf16)
    return "pelliton-cli: the script looks like UTF-16 text; save it as ASCII/UTF-8\n";
  return std::string();
}

std::string RunNotes(const CardRun& run, const std::string& script_path) {
  std::string notes = ScriptTroubleNote(script_path, run.script_read, run.script_utf16);
  if (run.service_lost)
    notes += "pelliton-cli: " + PcscServiceStoppedMessage() + " during this card's run\n";
  if (!run.record_error.empty())
    notes += "pelliton-cli: this card's run could not be recorded in the journal: " +
             AsTerminalText(run.record_error) + "\n";
  return notes;
}

CardReport ReportCard(const CliOptions& options, const std::string& reader, const CardRun& run,
                      std::optional<int> card_number, bool err_is_terminal) {
  CardReport report;
  const bool passed = run.outcome.Succeeded();
  if (options.quiet && !options.json)
    report.out = QuietOutput(run);
  if (options.verbosity > 0)
    report.err +=
        "pelliton-cli: outcome: " + OutcomeDetail(run.outcome) + PlantBacklogNote() + "\n";
  if (!options.quiet) {
    const Verdict verdict{passed, reader, run.outcome.message, run.elapsed, card_number};
    report.err += VerdictBanner(verdict, BannerStyleFor(err_is_terminal, std::getenv("NO_COLOR")));
  }
  return report;
}

}  // namespace pelliton::cli
