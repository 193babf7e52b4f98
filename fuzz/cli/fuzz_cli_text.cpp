// pelliton-cli's own text handling on arbitrary bytes: the terminal text, the verdict
// banner, the argument parser, the configuration file reader, the reader choice and the
// journal's exports must take anything without fault; what they print for a terminal
// must stay one line where it promises one, and a JSON export must stay JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/args.h"
#include "cli/commands/journal.h"
#include "cli/defaults.h"
#include "cli/reader_choice.h"
#include "cli/render/console_panel.h"
#include "cli/render/render.h"
#include "cli/render/verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelliton::cli;
  const std::string text(reinterpret_cast<const char*>(data), size);

  if (AsTerminalText(text).size() > text.size() * 4)
    std::abort();
  const std::string banner = VerdictBanner(Verdict{false, text, text, {}, 1}, BannerStyle{});
  if (banner.find('\n') != banner.size() - 1)
    std::abort();
  if (WithLineFeeds(text).find('\r') != std::string::npos)
    std::abort();

  std::vector<std::string> args;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\0') {
      args.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  const Defaults defaults = ParseConfigText(text, "cli.conf");
  ParseArgs(args, defaults);

  if (!args.empty()) {
    const std::vector<std::string> readers(args.begin() + 1, args.end());
    const ReaderPick pick = PickReader(readers, args.front(), std::vector<bool>(readers.size()));
    if (pick.index && *pick.index >= readers.size())
      std::abort();
  }
  // A record whose every text is the input, as a card, a reader or a path could make it.
  pelliton::journal::JournalRecord record;
  record.run_id = record.reader = record.atr = record.first_version = record.message = text;
  record.script_path = record.counter_read = record.outcome = text;
  for (const JournalFormat format :
       {JournalFormat::kTable, JournalFormat::kCsv, JournalFormat::kJson}) {
    JournalWriter writer(format, nullptr);
    writer.Measure(record);
    writer.Write(record);
    writer.Finish();
    const std::string& out = writer.Text();
    size_t lines = 0;
    for (const char c : out)
      lines += c == '\n';
    if (format == JournalFormat::kTable && lines != 3)  // heading, record, count
      std::abort();
    if (format == JournalFormat::kJson &&
        (lines != 1 || !nlohmann::json::accept(out.substr(0, out.size() - 1))))
      std::abort();
  }
  return 0;
}
