#include "cli/render.h"

#include <utility>

#include "cli/console_panel.h"
#include "cli/json.h"
#include "engine/card_info.h"

namespace pelliton::cli {

namespace {

const char* CommandName(Command command) {
  switch (command) {
    case Command::kReaders:
      return "readers";
    case Command::kInfo:
      return "info";
    case Command::kDownload:
      return "download";
    case Command::kCheck:
      return "check";
    case Command::kJournal:
      return "journal";
    case Command::kHelp:
    case Command::kVersion:
      break;
  }
  return "help";
}

// The card line as a field: no trailing blank, no line breaks.
std::string CardLineField(VersionClass generation) {
  std::string line = CardLineOf(generation);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
    line.pop_back();
  return line;
}

// A path as a JSON field. A path that is not UTF-8 loses bytes in the string, so its
// raw bytes follow in hex ("script_hex"), which still name the file.
void PutPath(JsonWriter& json, const std::string& path) {
  json.Key("script");
  json.String(path);
  if (IsUtf8(path))
    return;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(path.size() * 2);
  for (const char c : path) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0x0F];
  }
  json.Key("script_hex");
  json.String(hex);
}

void PutCardInfo(JsonWriter& json, const CardInfo& info) {
  json.Key("card_line");
  json.String(CardLineField(info.generation));
  json.Key("application_line");
  json.String(ApplicationLine(info));
  json.Key("versions");
  json.StringArray(info.versions);
  json.Key("counter");
  if (info.counter) {
    json.String(*info.counter);
  } else {
    json.Null();
  }
}

void PutApp(JsonWriter& json, const char* name, const AppTally& app) {
  json.Key(name);
  json.BeginObject();
  json.Key("present");
  json.Bool(app.addresses.present);
  json.Key("start");
  json.Number(app.addresses.start);
  json.Key("end");
  json.Number(app.addresses.end);
  json.Key("data_lines");
  json.Number(app.data_lines);
  json.Key("data_bytes");
  json.Number(static_cast<int64_t>(app.data_bytes));
  json.EndObject();
}

}  // namespace

std::string RunJson(const CliOptions& options, const std::string& reader, const CardRun& run,
                    std::optional<int> card_number) {
  JsonWriter json;
  json.BeginObject();
  json.Key("command");
  json.String(CommandName(options.command));
  if (card_number) {
    json.Key("card");
    json.Number(*card_number);
  }
  json.Key("success");
  json.Bool(run.outcome.Succeeded());
  json.Key("reader");
  json.String(options.reader == ReaderChoice::kOrvo ? std::string("Orvo reader") : reader);
  if (options.command == Command::kDownload) {
    PutPath(json, options.script);
    json.Key("counter");
    json.String(options.counter_text);
  }
  json.Key("messages");
  json.StringArray(run.messages);
  if (options.command == Command::kInfo && run.outcome.Succeeded() && run.info)
    PutCardInfo(json, *run.info);
  json.EndObject();
  return json.Text() + "\n";
}

std::string TallyOutput(const CliOptions& options, int cards,
                        const std::vector<TallyFailure>& failures, bool stopped) {
  const int failed = static_cast<int>(failures.size());
  if (options.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("command");
    json.String("tally");
    json.Key("cards");
    json.Number(cards);
    json.Key("succeeded");
    json.Number(cards - failed);
    json.Key("failed");
    json.Number(failed);
    json.Key("interrupted");
    json.Bool(stopped);
    json.Key("failures");
    json.BeginArray();
    for (const TallyFailure& failure : failures) {
      json.BeginObject();
      json.Key("card");
      json.Number(failure.card);
      json.Key("message");
      json.String(failure.message);
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text() + "\n";
  }
  std::string text = "\nCards: " + std::to_string(cards) +
                     ", succeeded: " + std::to_string(cards - failed) +
                     ", failed: " + std::to_string(failed) + "\n";
  for (const TallyFailure& failure : failures) {
    text += "Card " + std::to_string(failure.card) + " failed: " + AsTerminalText(failure.message) +
            "\n";
  }
  return text;
}

std::string ReadersOutput(const CliOptions& options, const std::vector<std::string>& readers,
                          bool service_running, bool orvo_attached) {
  if (options.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("command");
    json.String("readers");
    json.Key("success");
    json.Bool(!readers.empty() || orvo_attached);
    json.Key("pcsc_service");
    json.String(service_running ? "running" : "not running");
    json.Key("pcsc_readers");
    json.StringArray(readers);
    json.Key("orvo_reader");
    json.Bool(orvo_attached);
    json.EndObject();
    return json.Text() + "\n";
  }
  std::string text;
  if (!service_running) {
    text += "The PC/SC service (pcscd) is not running\n";
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
  JsonWriter json;
  json.BeginObject();
  json.Key("command");
  json.String("check");
  json.Key("success");
  json.Bool(CheckPasses(report, options.strict));
  PutPath(json, options.script);
  json.Key("messages");
  std::vector<std::string> messages;
  if (!report.sound) {
    messages.push_back(report.message);
  } else if (!strict_refusal.empty()) {
    messages.push_back(strict_refusal);
  }
  json.StringArray(messages);
  if (!report.sound) {
    json.Key("line");
    if (report.fault_line != 0) {
      json.Number(report.fault_line);
    } else {
      json.Null();
    }
  } else {
    json.Key("lines");
    json.Number(report.lines);
    json.Key("pass_through_lines");
    json.Number(report.pass_through_lines);
    PutApp(json, "app1", report.app1);
    PutApp(json, "app2", report.app2);
    json.Key("suits_v1_cards");
    json.Bool(report.suits_old_cards);
  }
  json.Key("warnings");
  json.BeginArray();
  for (const ScriptWarning& warning : report.warnings) {
    json.BeginObject();
    json.Key("line");
    if (warning.line != 0) {
      json.Number(warning.line);
    } else {
      json.Null();
    }
    json.Key("code");
    json.String(WarningCode(warning.kind));
    json.Key("message");
    json.String(warning.message);
    json.EndObject();
  }
  json.EndArray();
  json.Key("warnings_left_off");
  json.Number(report.warnings_left_off);
  json.EndObject();
  return json.Text() + "\n";
}

}  // namespace pelliton::cli
