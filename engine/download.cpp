#include "engine/download.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "engine/browse.h"
#include "engine/bytes.h"
#include "engine/card_exchange.h"
#include "engine/card_generation.h"
#include "engine/load_plan.h"
#include "engine/script.h"

namespace pelliton {

namespace {

const char kFormatting[] = "\r\n\r\nFormatting APP Data area...";
const char kLoading[] = "\r\n\r\nAPP Loading......";
const char kSuccess[] = "\r\n\r\nDownload APP Successfull!";

std::string WithLine(const char* head, uint32_t line, const char* tail) {
  return head + std::to_string(line) + tail;
}

// Windows opens the lower-cased path as the same file; anywhere else file names are
// case-sensitive and lower-casing would point the next run at another file or none.
std::string PathForNextRun(const std::string& path) {
#ifdef _WIN32
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
#else
  return path;
#endif
}

class DownloadRun {
 public:
  // script: the script already read, or null to read it from the panel's path, into
  // *read when that is given (which then outlives the run).
  DownloadRun(OperatorPanel& panel, CardAccess& card, Pauser& pauser, const ScriptText* script,
              std::optional<ScriptText>* read = nullptr)
      : panel_(panel),
        card_(card),
        x_(card.Exchange()),
        pauser_(pauser),
        script_(script),
        read_(read != nullptr ? *read : own_read_) {
    read_.reset();
  }

  DownloadOutcome Run();

 private:
  // The ways a run ends, as the operator meets them.
  void FailShown(RunEnd end, std::string text) {  // StatusText shown, then the error beep
    outcome_.end = end;
    FailShowThenBeep(panel_, std::move(text), outcome_);
  }
  void FailBeepFirst(RunEnd end, std::string text) {  // error beep, then StatusText shown
    outcome_.end = end;
    FailBeepThenShow(panel_, std::move(text), outcome_);
  }
  void FailWindowBox(const char* text) {
    outcome_.end = RunEnd::kRefused;
    outcome_.message = text;
    panel_.WindowMessageBox(text);
    panel_.Beep(kErrorBeepHz, kErrorBeepMs);
  }
  void FailAppBox(RunEnd end, const char* text) {
    outcome_.end = end;
    outcome_.message = text;
    panel_.Beep(kErrorBeepHz, kErrorBeepMs);
    panel_.AppMessageBox(text);
  }
  // An exchange that did not come back, and a status word the run does not accept.
  void FailCommunication(const Exchanged& exchanged, std::string text) {
    outcome_.transport_result = exchanged.result;
    FailShown(RunEnd::kCommunication, std::move(text));
  }
  void FailStatusWord(StatusWord sw, std::string text) {
    outcome_.status_word = sw;
    FailBeepFirst(RunEnd::kCardRefused, std::move(text) + SwText(sw));
  }

  void ShowProgressText(const char* text) {
    panel_.StatusText() = text;
    panel_.RefreshControls();
    panel_.RepaintNow();
  }
  void AdvanceProgress() { panel_.SetProgressPos(++position_); }

  bool ReadScript();
  bool PassesVersionGate();
  bool PassesLineCheck();
  bool Format();
  bool LoadLines();
  bool SendLine(uint32_t line_number, size_t command_length);
  bool FailLine(LineVerdict verdict, uint32_t line_number);
  bool WriteConfiguration(uint32_t counter);

  OperatorPanel& panel_;
  CardAccess& card_;
  ApduExchange& x_;
  Pauser& pauser_;

  DownloadOutcome outcome_;
  const ScriptText* script_;
  std::optional<ScriptText> own_read_;
  std::optional<ScriptText>& read_;  // the script read by this run, when none was given
  ScriptAddresses addresses_;
  uint32_t step_ = 1;
  int position_ = 0;
};

DownloadOutcome DownloadRun::Run() {
  panel_.SetStatusBoxText("");
  panel_.SetProgressRange(0, kDownloadProgressMax);
  panel_.SetProgressPos(0);
  panel_.ReadControls();
  panel_.RepaintNow();

  if (card_.Mode() == ReaderMode::Pcsc && card_.Connection().reader_name.empty()) {
    FailWindowBox("Please Select reader first!");
    return outcome_;
  }
  const uint32_t counter = panel_.CounterValue();
  outcome_.counter = counter;
  if (counter == 0 || counter > 5000) {
    FailWindowBox("The counter must be greater than 0 and less than 5000 !");
    return outcome_;
  }

  if (const int32_t reset = ResetTwice(card_, panel_, pauser_); reset != 0) {
    FailReset(panel_, reset, outcome_);
    return outcome_;
  }
  position_ = 1;
  panel_.SetProgressPos(position_);

  if (!ReadScript()) {
    FailAppBox(RunEnd::kScriptUnreadable, kOpenScriptErrorMessage);
    return outcome_;
  }
  if (!PassesVersionGate() || !PassesLineCheck() || !Format() || !LoadLines() ||
      !WriteConfiguration(counter))
    return outcome_;

  panel_.SetProgressPos(kDownloadProgressMax);
  outcome_.end = RunEnd::kSuccess;
  outcome_.message = kSuccess;
  panel_.StatusText() = kSuccess;
  panel_.Beep(kOkBeepHz, kOkBeepMs);
  panel_.RefreshControls();
  return outcome_;
}

bool DownloadRun::ReadScript() {
  if (script_ == nullptr) {
    ScriptText text;
    if (ReadScriptText(panel_.ScriptPath(), &text) != ScriptReadError::kNone)
      return false;
    script_ = &read_.emplace(std::move(text));
  }
  panel_.ScriptPath() = PathForNextRun(panel_.ScriptPath());
  addresses_ = DecodeAddressLines(script_->Body());
  return true;
}

bool DownloadRun::PassesVersionGate() {
  const VersionClass version = VersionClassOfAtr(card_.Connection());
  if (version != VersionClass::kV100 && version != VersionClass::kV110)
    return true;
  if (addresses_.app2.present && addresses_.app2.start == kApp2StartForOldCards)
    return true;
  FailShown(RunEnd::kWrongGeneration,
            "Tessiv Card Version: " + std::string(GenerationName(version)) +
                "\r\n\r\n Norvane App file dose not match!\r\n Please use a Tessiv card with at "
                "least version V2.00 to download this file!");
  return false;
}

// Everything that can refuse the script without the card is asked before the format:
// a script refused halfway would leave the card erased and half loaded.
bool DownloadRun::PassesLineCheck() {
  const ScriptPrecheck precheck = PrecheckScript(*script_);
  if (precheck != ScriptPrecheck::kAccepted) {
    ShowPrecheckRefusal(panel_, precheck, outcome_);
    return false;
  }
  const LineFault fault = FindLineFault(script_->Body(), addresses_);
  if (fault.Found())
    return FailLine(fault.verdict, fault.line);
  return true;
}

bool DownloadRun::Format() {
  step_ = ProgressStep(CountScriptLines(script_->Body()));
  position_ = 2;
  panel_.SetProgressPos(position_);
  ShowProgressText(kFormatting);

  static constexpr uint8_t kFormat[] = {0xF0, 0xDB, 0x00, 0x00, 0x00};
  const Exchanged formatted = Send(card_, kFormat, outcome_);
  if (!formatted.Received()) {
    FailCommunication(formatted, "APP Data Aera Format commumation Error!");
    return false;
  }
  if (!IsSuccessSw(formatted.sw)) {
    FailStatusWord(formatted.sw, "APP Data Aera Format! ");
    return false;
  }
  ShowProgressText(kLoading);
  return true;
}

bool DownloadRun::LoadLines() {
  LoadPlanner planner(addresses_);
  uint32_t line_number = 0;
  ScriptLines lines(script_->Body());
  std::string_view line;
  while (lines.Next(&line)) {
    ++line_number;
    if (line_number % step_ == 0)
      AdvanceProgress();

    size_t command_length = 0;
    const LineVerdict verdict = planner.Plan(line, x_.command, &command_length);
    if (verdict == LineVerdict::kPassedOver)
      continue;
    if (verdict == LineVerdict::kNotHex)
      return FailLine(verdict, line_number);
    // Every hexadecimal line waits before it is handled, the one that ends the run too.
    pauser_.Sleep(1);
    switch (verdict) {
      case LineVerdict::kPassedOver:
      case LineVerdict::kNotHex:
      case LineVerdict::kChecked:
        continue;
      case LineVerdict::kSendData:
      case LineVerdict::kSendPassThrough:
        if (!SendLine(line_number, command_length))
          return false;
        continue;
      case LineVerdict::kNoAddressCheck:
      case LineVerdict::kApp1Mismatch:
      case LineVerdict::kApp2Mismatch:
      case LineVerdict::kUnknownKind:
        return FailLine(verdict, line_number);
    }
  }
  return true;
}

bool DownloadRun::FailLine(LineVerdict verdict, uint32_t line_number) {
  outcome_.line = line_number;
  // A character that is no hexadecimal digit sounds before it is shown; the others after.
  if (verdict == LineVerdict::kNotHex) {
    FailBeepFirst(RunEnd::kScriptLine, LoadFailureMessage(verdict, line_number));
  } else {
    FailShown(RunEnd::kScriptLine, LoadFailureMessage(verdict, line_number));
  }
  return false;
}

bool DownloadRun::SendLine(uint32_t line_number, size_t command_length) {
  const Exchanged sent = Transmit(card_, command_length, outcome_);
  if (!sent.Received()) {
    outcome_.line = line_number;
    FailCommunication(sent, WithLine("App1 Chip communication error! at line ", line_number, "!"));
    return false;
  }
  if (IsSuccessSw(sent.sw))
    return true;
  outcome_.line = line_number;
  if (sent.sw == StatusWord{0x69, 0x82}) {
    FailStatusWord(sent.sw, "Not satisfied with the Access Control!");
  } else {
    FailStatusWord(sent.sw, WithLine("App1 Command error at line ", line_number, "!"));
  }
  return false;
}

bool DownloadRun::WriteConfiguration(uint32_t counter) {
  AdvanceProgress();
  pauser_.Sleep(5);

  static constexpr uint8_t kGetChallenge[] = {0x00, 0x84, 0x00, 0x00, 0x04};
  const Exchanged challenge = Send(card_, kGetChallenge, outcome_);
  if (!challenge.Received()) {
    FailCommunication(challenge, "Write APP CFG Data commumation Error!");
    return false;
  }
  // A challenge of fewer than four bytes would leave stale bytes in the CRC block.
  if (!IsSuccessSw(challenge.sw) || x_.response_length < 6) {
    FailStatusWord(challenge.sw, "Wrtte APP CFG Data Error,Update Card Version Error! ");
    return false;
  }

  uint8_t block[8];
  std::copy(x_.response, x_.response + 4, block);
  PutU32BE(counter, block + 4);
  const uint32_t crc = Crc32(block, sizeof block);

  uint8_t configuration[13] = {0xF0, 0x80, 0x01, 0x00, 0x08};
  PutU32BE(counter, configuration + 5);
  PutU32BE(crc, configuration + 9);
  const Exchanged written = Send(card_, configuration, outcome_);
  if (!written.Received()) {
    FailCommunication(written, "Write APP CFG Data commumation Error!");
    return false;
  }
  if (!IsSuccessSw(written.sw)) {
    FailStatusWord(written.sw,
                   "Download APP Successfull!\r\n\r\n This Tessiv card version is not support "
                   "counter function!\r\n ");
    return false;
  }
  return true;
}

}  // namespace

DownloadOutcome OnDownload(OperatorPanel& panel, CardAccess& card, Pauser& pauser) {
  return DownloadRun(panel, card, pauser, nullptr).Run();
}

DownloadOutcome OnDownload(OperatorPanel& panel, CardAccess& card, Pauser& pauser,
                           const ScriptText& script) {
  return DownloadRun(panel, card, pauser, &script).Run();
}

DownloadOutcome OnDownload(OperatorPanel& panel, CardAccess& card, Pauser& pauser,
                           std::optional<ScriptText>* read) {
  return DownloadRun(panel, card, pauser, nullptr, read).Run();
}

uint32_t ProgressStep(uint32_t line_count) {
  const uint32_t step = line_count / 50;
  return step == 0 ? 1 : step;
}

}  // namespace pelliton
