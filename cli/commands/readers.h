// readers: the PC/SC readers the service lists, and whether an Orvo reader is attached.
#pragma once

#include "cardaccess/orvo_api.h"
#include "cardaccess/pcsc_api.h"
#include "cli/args.h"
#include "cli/exit_status.h"
#include "cli/render/output.h"

namespace pelliton::cli {

int RunReaders(const CliOptions& options, PcscApi& pcsc, OrvoApi& orvo, bool orvo_attached,
               const Streams& streams);

}  // namespace pelliton::cli
