#include "cli/commands/readers.h"

#include <string>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/pcsc_codes.h"
#include "cli/render/render.h"
#include "engine/script_check.h"

namespace pelliton::cli {

int RunReaders(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, bool orvo_attached,
               const Streams& streams) {
  CardAccess card(pcsc, orvo);
  std::vector<std::string> readers;
  const bool service_running = !PcscServiceDown(card.ListReaders(&readers));
  Emit(streams.out, ReadersOutput(options, readers, service_running, orvo_attached));
  return CheckedExit(!readers.empty() || orvo_attached ? kExitSuccess : kExitFailed, streams);
}

}  // namespace pelliton::cli
