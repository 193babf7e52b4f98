// The plant as pelliton-cli uses it: plant init and plant check, journal push, and the
// background sender of the card commands.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/args.h"
#include "journal/journal.h"
#include "plant/sender.h"

namespace pelliton::cli {

// plant init URL: the schema made or upgraded; plant check [URL]: each station's gaps and
// what the plant flagged, exit status kExitFailed when there is any. kExitPlant when the
// plant cannot be reached or refuses.
int RunPlantCommand(const CliOptions& options, std::FILE* out, std::FILE* err);

// journal push: every pending record delivered; kExitSuccess only when none is left.
int RunJournalPush(const CliOptions& options, std::FILE* out, std::FILE* err);

// For a card command with a plant: the sender delivering the records journal writes,
// told of each one as it is committed. Its notices go to err, one line each. None when no
// plant is set (or the journal cannot be opened a second time, said on err: the cards
// still run, their records wait for journal push).
std::unique_ptr<plant::Sender> StartPlantSender(const CliOptions& options,
                                                journal::Journal& journal, std::FILE* err);
// Ends it when the command ends: the records in flight get a moment to be acknowledged,
// the rest wait for journal push.
void StopPlantSender(std::unique_ptr<plant::Sender>* sender, journal::Journal& journal);

// " (plant backlog: N records)" with the records the running sender counts as waiting
// for the plant, for the live lines and -v; empty without a sender or a backlog.
std::string PlantBacklogNote();

}  // namespace pelliton::cli
