#include "cli/commands/plant.h"

#include <atomic>
#include <chrono>

#include "cli/commands/journal.h"
#include "cli/exit_status.h"
#include "cli/render/console_panel.h"
#include "cli/render/output.h"
#include "plant/plant.h"

namespace pelliton::cli {

namespace {

constexpr const char* kProgram = "pelliton-cli";

// The card commands' sender, for the backlog their lines show.
std::atomic<plant::Sender*> running_sender{nullptr};

void Say(std::FILE* stream, const std::string& text) {
  Emit(stream, "pelliton-cli: " + AsTerminalText(text) + "\n");
}

int InitPlantSchema(const CliOptions& options, std::FILE* out, std::FILE* err) {
  std::vector<std::string> done;
  std::string error;
  if (!plant::InitPlant(options.plant_url, &done, &error)) {
    Say(err, "plant init: " + error);
    return kExitPlant;
  }
  for (const std::string& line : done)
    Emit(out, "plant: " + AsTerminalText(line) + "\n");
  Emit(out, "plant: schema version " + std::to_string(plant::kPlantSchemaVersion) +
                (done.empty() ? ", up to date\n" : "\n"));
  return kExitSuccess;
}

int CheckPlant(const CliOptions& options, std::FILE* out, std::FILE* err) {
  std::string error;
  const std::unique_ptr<plant::Plant> plant = plant::Plant::Connect(options.plant_url, &error);
  std::vector<plant::Finding> findings;
  if (plant == nullptr || !plant->Findings(&findings, &error)) {
    Say(err, "plant check: " + error);
    return kExitPlant;
  }
  for (const plant::Finding& finding : findings) {
    const std::string places = finding.first_seq == finding.last_seq
                                   ? "record " + std::to_string(finding.first_seq)
                                   : "records " + std::to_string(finding.first_seq) + " to " +
                                         std::to_string(finding.last_seq);
    const std::string what =
        finding.kind == "gap"
            ? "missing (removed at the station before delivery, or not delivered yet)"
            : finding.detail + " (run id " + finding.run_id + ")";
    Emit(out, AsTerminalText("station " + finding.station + ", " + places + ": " + finding.kind +
                             ": " + what) +
                  "\n");
  }
  Emit(out, findings.empty()
                ? "plant: no gaps, nothing flagged\n"
                : "plant: " + Counted(static_cast<int64_t>(findings.size()), "finding") + "\n");
  return findings.empty() ? kExitSuccess : kExitFailed;
}

}  // namespace

int RunPlantCommand(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const int status = options.plant_action == "init" ? InitPlantSchema(options, out, err)
                                                    : CheckPlant(options, out, err);
  return CheckedExit(status, Streams{out, err});
}

int RunJournalPush(const CliOptions& options, std::FILE* out, std::FILE* err) {
  std::string error;
  const std::unique_ptr<journal::Journal> journal =
      journal::Journal::Open(PathOf(options), kProgram, journal::Journal::Access::kAppend, &error);
  if (journal == nullptr) {
    Say(err, "the journal cannot be opened: " + error);
    return kExitJournal;
  }
  plant::PlantDestination destination(options.plant_url);
  // A plant that refuses is said as it is, not as a failed batch.
  if (!destination.Reach(&error)) {
    int64_t pending = 0;
    std::string count_error;
    const std::string waiting = journal->CountPending(&pending, &count_error)
                                    ? "; " + Counted(pending, "record") + " wait in the journal"
                                    : "";
    Say(err, "journal push: " + error + waiting);
    return kExitPlant;
  }
  const plant::PushResult pushed = plant::PushPending(*journal, destination);
  const std::string delivered = "delivered " + Counted(pushed.delivered, "record");
  if (pushed.error.empty() && pushed.pending == 0) {
    Emit(out, "journal push: " + delivered + "; none left\n");
    return kExitSuccess;
  }
  Say(err, "journal push: " + delivered + "; " +
               (pushed.pending >= 0 ? Counted(pushed.pending, "record") + " still wait"
                                    : std::string("the records left are not known")) +
               (pushed.error.empty() ? std::string() : ": " + pushed.error));
  return kExitPlant;
}

std::unique_ptr<plant::Sender> StartPlantSender(const CliOptions& options,
                                                journal::Journal& journal, std::FILE* err) {
  if (options.plant_url.empty())
    return nullptr;
  std::string error;
  // A connection of its own: the sender's reads and marks never hold the card path's.
  std::unique_ptr<journal::Journal> own =
      journal::Journal::Open(journal.Path(), kProgram, journal::Journal::Access::kAppend, &error);
  if (own == nullptr) {
    Say(err, "plant: " + error + "; the records wait for journal push");
    return nullptr;
  }
  auto sender = std::make_unique<plant::Sender>(
      std::move(own), std::make_unique<plant::PlantDestination>(options.plant_url),
      [err](const std::string& line) { Say(err, line); });
  plant::Sender* notified = sender.get();
  journal.SetOnCommit([notified] { notified->Notify(); });
  running_sender = notified;
  return sender;
}

void StopPlantSender(std::unique_ptr<plant::Sender>* sender, journal::Journal& journal) {
  if (*sender == nullptr)
    return;
  journal.SetOnCommit(nullptr);
  running_sender = nullptr;
  (*sender)->Stop(std::chrono::seconds(2));
  sender->reset();
}

std::string PlantBacklogNote() {
  const plant::Sender* sender = running_sender.load();
  const int64_t backlog = sender != nullptr ? sender->Backlog() : 0;
  return backlog > 0 ? " (plant backlog: " + Counted(backlog, "record") + ")" : std::string();
}

}  // namespace pelliton::cli
