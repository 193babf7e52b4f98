// pelliton-cli's own text handling on arbitrary bytes: the terminal text, the verdict
// banner, the argument parser, the configuration file reader and the reader choice must
// take anything without fault, and what they print for a terminal must stay one line
// where it promises one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/args.h"
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
  return 0;
}
