#include "cli/commands/check.h"

#include <string>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/pcsc_codes.h"
#include "cli/render/render.h"
#include "engine/script_check.h"

namespace pelliton::cli {

int RunCheck(const CliOptions& options, const Streams& streams) {
  const ScriptCheckReport report = CheckScript(options.script);
  Emit(streams.out, CheckOutput(options, report));
  if (!report.sound)
    Emit(streams.err, ScriptTroubleNote(options.script, report.read_error, report.utf16));
  return CheckedExit(CheckPasses(report, options.strict) ? kExitSuccess : kExitFailed, streams);
}

}  // namespace pelliton::cli
