#include "cli/runs.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "cardaccess/card_access.h"
#include "cli/card_info_fields.h"
#include "cli/console_panel.h"
#include "cli/json.h"
#include "cli/script_check.h"
#include "engine/browse.h"
#include "engine/card_info.h"
#include "engine/counter_rule.h"
#include "engine/download.h"

namespace pelliton::cli {

namespace {

void Put(std::FILE* out, const std::string& text) {
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

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
    case Command::kHelp:
      break;
  }
  return "help";
}

struct RunResult {
  bool success = false;
  std::vector<std::string> messages;
  std::string card_info_text;
};

// One procedure on the card in the chosen reader, as the window's button would run it.
class CardSession {
 public:
  CardSession(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              const Streams& streams)
      : options_(options),
        pauser_(pauser),
        streams_(streams),
        panel_(options.json ? nullptr : streams.out,
               options.command == Command::kDownload && streams.out_is_terminal && !options.json),
        card_(pcsc, orvo) {}

  // Lists the readers as the window does at start and takes the chosen one. False, with
  // a note on err, when a named reader is not listed.
  bool ChooseReader() {
    card_.ReloadReaderList(panel_);
    if (options_.reader == ReaderChoice::kOrvo) {
      card_.OnReaderModeClicked(panel_, kOrvoRadio);
      return true;
    }
    card_.OnReaderModeClicked(panel_, kPcscRadio);
    if (options_.reader == ReaderChoice::kNamedPcsc) {
      const std::vector<std::string> entries = panel_.ReaderEntries();
      const auto found = std::find(entries.begin(), entries.end(), options_.reader_name);
      if (found == entries.end()) {
        Put(streams_.err, "pelliton-cli: no PC/SC reader named \"" + options_.reader_name +
                              "\" is listed (see pelliton-cli readers)\n");
        return false;
      }
      panel_.ReaderListSelect(static_cast<int>(found - entries.begin()));
      card_.OnReaderSelChange(panel_);
    }
    return true;
  }

  const std::string& ReaderName() { return card_.Connection().reader_name; }

  RunResult Run() {
    panel_.StartRun();
    if (options_.command == Command::kDownload) {
      RunDownload();
    } else {
      GetCardInfo(panel_, card_, pauser_);
    }
    panel_.ClearProgress();
    RunResult result;
    result.success = panel_.EndedWithSuccessTone();
    result.messages = panel_.Shown();
    result.card_info_text = panel_.CardInfoText();
    return result;
  }

 private:
  void RunDownload() {
    // The browse procedure's check comes first, as in the window, where no script
    // reaches the path box without it.
    switch (PrecheckScript(options_.script)) {
      case ScriptPrecheck::kUnreadable:
        panel_.AppMessageBox(kOpenScriptErrorMessage);
        return;
      case ScriptPrecheck::kNoApp1Start:
        panel_.AppMessageBox(kStartAddrErrorMessage);
        return;
      case ScriptPrecheck::kBadFormat:
        panel_.AppMessageBox(kScriptFormatErrorMessage);
        return;
      case ScriptPrecheck::kAccepted:
        break;
    }
    panel_.SetPathBoxText(options_.script);
    panel_.SetCounterText(options_.counter_text);
    OnDownload(panel_, card_, pauser_);
  }

  const CliOptions& options_;
  Pauser& pauser_;
  Streams streams_;
  ConsolePanel panel_;
  CardAccess card_;
};

void PutRunJson(const CliOptions& options, const std::string& reader, const RunResult& result,
                std::optional<int> card_number, const Streams& streams) {
  JsonWriter json;
  json.BeginObject();
  json.Key("command");
  json.String(CommandName(options.command));
  if (card_number) {
    json.Key("card");
    json.Number(*card_number);
  }
  json.Key("success");
  json.Bool(result.success);
  json.Key("reader");
  if (options.reader == ReaderChoice::kOrvo) {
    json.String("Orvo reader");
  } else {
    json.String(reader);
  }
  if (options.command == Command::kDownload) {
    json.Key("script");
    json.String(options.script);
    json.Key("counter");
    json.String(options.counter_text);
  }
  json.Key("messages");
  json.StringArray(result.messages);
  if (options.command == Command::kInfo && result.success) {
    const CardInfoFields fields = SplitCardInfo(result.card_info_text);
    json.Key("card_line");
    json.String(fields.card_line);
    json.Key("application_line");
    json.String(fields.application_line);
    json.Key("versions");
    json.StringArray(fields.versions);
    json.Key("counter");
    if (fields.counter) {
      json.String(*fields.counter);
    } else {
      json.Null();
    }
  }
  json.EndObject();
  Put(streams.out, json.Text() + "\n");
}

struct Failure {
  int card = 0;
  std::string message;
};

void PutTally(const CliOptions& options, int cards, const std::vector<Failure>& failures,
              bool stopped, const Streams& streams) {
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
    for (const Failure& failure : failures) {
      json.BeginObject();
      json.Key("card");
      json.Number(failure.card);
      json.Key("message");
      json.String(failure.message);
      json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    Put(streams.out, json.Text() + "\n");
    return;
  }
  std::string text = "\nCards: " + std::to_string(cards) +
                     ", succeeded: " + std::to_string(cards - failed) +
                     ", failed: " + std::to_string(failed) + "\n";
  for (const Failure& failure : failures) {
    text += "Card " + std::to_string(failure.card) + " failed: " + AsTerminalText(failure.message) +
            "\n";
  }
  Put(streams.out, text);
}

// The message a failed run ended with: the last one it showed.
std::string FailureMessage(const RunResult& result) {
  return result.messages.empty() ? std::string("(no message)") : result.messages.back();
}

int EachCard(const CliOptions& options, CardSession& session, CardPresence& presence,
             const std::atomic<bool>& stop, const Streams& streams) {
  const std::string reader = session.ReaderName();
  if (reader.empty()) {
    Put(streams.err, "pelliton-cli: No PC/SC card reader exists!\n");
    return kExitFailed;
  }
  int cards = 0;
  std::vector<Failure> failures;
  bool stopped = false;
  long error = 0;
  while (options.card_limit == 0 || cards < static_cast<int>(options.card_limit)) {
    Put(streams.err, "Waiting for a card in " + reader + " ...\n");
    const CardPresence::Wait arrived = presence.WaitFor(reader, true, &error);
    if (arrived == CardPresence::Wait::kStopped) {
      stopped = true;
      break;
    }
    if (arrived == CardPresence::Wait::kFailed)
      break;

    ++cards;
    if (!options.json)
      Put(streams.out, "== Card " + std::to_string(cards) + "\n");
    const RunResult result = session.Run();
    if (options.json)
      PutRunJson(options, reader, result, cards, streams);
    if (!result.success)
      failures.push_back({cards, FailureMessage(result)});

    if (options.card_limit != 0 && cards >= static_cast<int>(options.card_limit))
      break;
    if (stop.load()) {
      stopped = true;
      break;
    }
    Put(streams.err, "Remove the card.\n");
    const CardPresence::Wait left = presence.WaitFor(reader, false, &error);
    if (left == CardPresence::Wait::kStopped) {
      stopped = true;
      break;
    }
    if (left == CardPresence::Wait::kFailed)
      break;
  }
  if (error != 0) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(error) & 0xFFFFFFFFul);
    Put(streams.err, std::string("pelliton-cli: waiting for a card failed (PC/SC ") + code + ")\n");
  }
  PutTally(options, cards, failures, stopped, streams);
  return failures.empty() && error == 0 ? kExitSuccess : kExitFailed;
}

}  // namespace

int RunReaders(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, bool orvo_attached,
               const Streams& streams) {
  ConsolePanel panel(nullptr, false);
  CardAccess card(pcsc, orvo);
  card.ReloadReaderList(panel);
  const std::vector<std::string> readers = panel.ReaderEntries();
  const bool any = !readers.empty() || orvo_attached;

  if (options.json) {
    JsonWriter json;
    json.BeginObject();
    json.Key("command");
    json.String("readers");
    json.Key("success");
    json.Bool(any);
    json.Key("pcsc_readers");
    json.StringArray(readers);
    json.Key("orvo_reader");
    json.Bool(orvo_attached);
    json.EndObject();
    Put(streams.out, json.Text() + "\n");
  } else {
    std::string text;
    if (readers.empty()) {
      text += "No PC/SC card reader exists!\n";
    } else {
      text += "PC/SC readers:\n";
      for (size_t i = 0; i < readers.size(); ++i)
        text += "  " + std::to_string(i) + ": " + readers[i] + "\n";
    }
    text += orvo_attached ? "Orvo reader: attached\n" : "Orvo reader: not attached\n";
    Put(streams.out, text);
  }
  return any ? kExitSuccess : kExitFailed;
}

int RunCheck(const CliOptions& options, const Streams& streams) {
  const ScriptCheckReport report = CheckScript(options.script);
  if (!options.json) {
    Put(streams.out, DescribeCheck(report));
    return report.sound ? kExitSuccess : kExitFailed;
  }
  JsonWriter json;
  json.BeginObject();
  json.Key("command");
  json.String("check");
  json.Key("success");
  json.Bool(report.sound);
  json.Key("script");
  json.String(options.script);
  json.Key("messages");
  json.StringArray(report.sound ? std::vector<std::string>{}
                                : std::vector<std::string>{report.message});
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
    for (const auto& [name, app] : {std::pair{"app1", &report.app1}, {"app2", &report.app2}}) {
      json.Key(name);
      json.BeginObject();
      json.Key("present");
      json.Bool(app->addresses.present);
      json.Key("start");
      json.Number(app->addresses.start);
      json.Key("end");
      json.Number(app->addresses.end);
      json.Key("data_lines");
      json.Number(app->data_lines);
      json.Key("data_bytes");
      json.Number(static_cast<int64_t>(app->data_bytes));
      json.EndObject();
    }
    json.Key("suits_v1_cards");
    json.Bool(report.suits_old_cards);
  }
  json.EndObject();
  Put(streams.out, json.Text() + "\n");
  return report.sound ? kExitSuccess : kExitFailed;
}

int RunOnCard(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, Pauser& pauser,
              CardPresence* presence, const std::atomic<bool>& stop, const Streams& streams) {
  if (options.command == Command::kDownload) {
    // A counter that is no number at all would let the window go on with the previous
    // one; on a production line that is a typing error, not a value.
    uint32_t counter = 0;
    if (ParseCounterText(options.counter_text, &counter) == CounterParse::kNotANumber) {
      Put(streams.err, std::string(kCounterNotANumberMessage) + "\n\n" + UsageText());
      return kExitUsage;
    }
  }

  CardSession session(options, pcsc, orvo, pauser, streams);
  if (!session.ChooseReader())
    return kExitFailed;
  if (options.each_card) {
    if (presence == nullptr)
      return kExitUsage;
    return EachCard(options, session, *presence, stop, streams);
  }
  const RunResult result = session.Run();
  if (options.json)
    PutRunJson(options, session.ReaderName(), result, std::nullopt, streams);
  return result.success ? kExitSuccess : kExitFailed;
}

}  // namespace pelliton::cli
