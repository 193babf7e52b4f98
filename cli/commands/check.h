// check: the offline lint of a script, no card needed.
#pragma once

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cli/args.h"
#include "cli/exit_status.h"
#include "cli/render/output.h"

namespace pelliton::cli {

int RunCheck(const CliOptions& options, const Streams& streams);

}  // namespace pelliton::cli
