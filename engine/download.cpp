#include "engine/download.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/load_plan.h"
#include "engine/script.h"

namespace pelliton {

namespace {

constexpr uint32_t kApp2StartForOldCards = 0x00012000;
constexpr size_t kVersionByteOffset = 17;

const char kFormatting[] = "\r\n\r\nFormatting APP Data area...";
const char kLoading[] = "\r\n\r\nAPP Loading......";
const char kSuccess[] = "\r\n\r\nDownload APP Successfull!";

std::string WithLine(const char* head, uint32_t line, const char* tail) {
  return head + std::to_string(line) + tail;
}

std::string SwText(uint8_t sw1, uint8_t sw2) {
  char text[16];
  std::snprintf(text, sizeof text, "SW=0x%02x%02x", sw1, sw2);
  return text;
}

bool IsSuccessSw1(uint8_t sw1) {
  return sw1 == 0x61 || sw1 == 0x90 || sw1 == 0x9F;
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
  DownloadRun(OperatorPanel& panel, CardAccess& card, Pauser& pauser)
      : panel_(panel), card_(card), x_(card.Exchange()), pauser_(pauser) {}

  void Run();

 private:
  // The ways a run ends, as the operator meets them.
  void FailShown(const std::string& text) {  // StatusText shown, then the error beep
    panel_.StatusText() = text;
    panel_.RefreshControls();
    panel_.Beep(kErrorBeepHz, kErrorBeepMs);
  }
  void FailBeepFirst(const std::string& text) {  // error beep, then StatusText shown
    panel_.Beep(kErrorBeepHz, kErrorBeepMs);
    panel_.StatusText() = text;
    panel_.RefreshControls();
  }
  void FailWindowBox(const char* text) {
    panel_.WindowMessageBox(text);
    panel_.Beep(kErrorBeepHz, kErrorBeepMs);
  }
  void FailAppBox(const char* text) {
    panel_.Beep(kErrorBeepHz, kErrorBeepMs);
    panel_.AppMessageBox(text);
  }

  void ShowProgressText(const char* text) {
    panel_.StatusText() = text;
    panel_.RefreshControls();
    panel_.RepaintNow();
  }
  void AdvanceProgress() { panel_.SetProgressPos(++position_); }

  // Exchanges command_length bytes of the command buffer. Returns the transport's
  // result; on 0 the response holds at least the status word.
  int32_t Exchange(size_t command_length) {
    x_.command_length = static_cast<int32_t>(command_length);
    x_.response_length = kApduBufferSize;
    x_.last_result = card_.TransmitApdu();
    return x_.last_result;
  }
  uint8_t Sw1() const { return x_.response[x_.response_length - 2]; }
  uint8_t Sw2() const { return x_.response[x_.response_length - 1]; }

  bool ReadScript();
  bool PassesVersionGate();
  bool Format();
  bool LoadLines();
  bool SendLine(uint32_t line_number, size_t command_length);
  bool WriteConfiguration(uint32_t counter);

  OperatorPanel& panel_;
  CardAccess& card_;
  ApduExchange& x_;
  Pauser& pauser_;

  std::vector<std::string> lines_;
  ScriptAddresses addresses_;
  uint32_t step_ = 1;
  int position_ = 0;
};

void DownloadRun::Run() {
  panel_.SetStatusBoxText("");
  panel_.SetProgressRange(0, kDownloadProgressMax);
  panel_.SetProgressPos(0);
  panel_.ReadControls();
  panel_.RepaintNow();

  if (card_.Mode() == ReaderMode::Pcsc && card_.Connection().reader_name.empty()) {
    return FailWindowBox("Please Select reader first!");
  }
  const uint32_t counter = panel_.CounterValue();
  if (counter == 0 || counter > 5000) {
    return FailWindowBox("The counter must be greater than 0 and less than 5000 !");
  }

  card_.ResetCard(panel_);
  pauser_.Sleep(100);
  if (card_.ResetCard(panel_) != 0) {
    panel_.Beep(kErrorBeepHz, kErrorBeepMs);
    // Shows what the reset left in the status text (the Orvo reader's reason).
    panel_.RefreshControls();
    panel_.AppMessageBox("Card Reset Error!");
    return;
  }
  position_ = 1;
  panel_.SetProgressPos(position_);

  if (!ReadScript())
    return FailAppBox("Open APP update file error!");
  if (!PassesVersionGate())
    return;
  if (!Format())
    return;
  if (!LoadLines())
    return;
  if (!WriteConfiguration(counter))
    return;

  panel_.SetProgressPos(kDownloadProgressMax);
  panel_.StatusText() = kSuccess;
  panel_.Beep(kOkBeepHz, kOkBeepMs);
  panel_.RefreshControls();
}

bool DownloadRun::ReadScript() {
  if (!ReadScriptLines(panel_.ScriptPath(), &lines_))
    return false;
  panel_.ScriptPath() = PathForNextRun(panel_.ScriptPath());
  addresses_ = DecodeAddressLines(lines_);
  return true;
}

bool DownloadRun::PassesVersionGate() {
  const CardConnection& connection = card_.Connection();
  if (connection.atr_length <= kVersionByteOffset)
    return true;
  const char* version = nullptr;
  switch (connection.atr[kVersionByteOffset]) {
    case 2:
      version = "V1.00";
      break;
    case 3:
      version = "V1.10";
      break;
    default:
      return true;
  }
  if (addresses_.app2.present && addresses_.app2.start == kApp2StartForOldCards)
    return true;
  FailShown(std::string("Tessiv Card Version: ") + version +
            "\r\n\r\n Norvane App file dose not match!\r\n Please use a Tessiv card with at "
            "least version V2.00 to download this file!");
  return false;
}

bool DownloadRun::Format() {
  step_ = ProgressStep(static_cast<uint32_t>(lines_.size()));
  position_ = 2;
  panel_.SetProgressPos(position_);
  ShowProgressText(kFormatting);

  const uint8_t format[] = {0xF0, 0xDB, 0x00, 0x00, 0x00};
  std::copy(std::begin(format), std::end(format), x_.command);
  if (Exchange(sizeof format) != 0) {
    FailShown("APP Data Aera Format commumation Error!");
    return false;
  }
  if (!IsSuccessSw1(Sw1())) {
    FailBeepFirst("APP Data Aera Format! " + SwText(Sw1(), Sw2()));
    return false;
  }
  ShowProgressText(kLoading);
  return true;
}

bool DownloadRun::LoadLines() {
  LoadPlanner planner(addresses_);
  uint32_t line_number = 0;
  for (const std::string& line : lines_) {
    ++line_number;
    if (line_number % step_ == 0)
      AdvanceProgress();

    size_t command_length = 0;
    const LineVerdict verdict = planner.Plan(line, x_.command, &command_length);
    if (verdict == LineVerdict::kPassedOver)
      continue;
    if (verdict == LineVerdict::kNotHex) {
      FailBeepFirst(LoadFailureMessage(verdict, line_number));
      return false;
    }
    // Every hexadecimal line waits before it is handled, the one that ends the run too.
    pauser_.Sleep(1);
    switch (verdict) {
      case LineVerdict::kPassedOver:
      case LineVerdict::kNotHex:
      case LineVerdict::kChecked:
        continue;
      case LineVerdict::kSend:
        if (!SendLine(line_number, command_length))
          return false;
        continue;
      case LineVerdict::kNoAddressCheck:
      case LineVerdict::kApp1Mismatch:
      case LineVerdict::kApp2Mismatch:
      case LineVerdict::kUnknownKind:
        FailShown(LoadFailureMessage(verdict, line_number));
        return false;
    }
  }
  return true;
}

bool DownloadRun::SendLine(uint32_t line_number, size_t command_length) {
  if (Exchange(command_length) != 0) {
    FailShown(WithLine("App1 Chip communication error! at line ", line_number, "!"));
    return false;
  }
  if (IsSuccessSw1(Sw1()))
    return true;
  if (Sw1() == 0x69 && Sw2() == 0x82) {
    FailBeepFirst("Not satisfied with the Access Control!" + SwText(Sw1(), Sw2()));
  } else {
    FailBeepFirst(WithLine("App1 Command error at line ", line_number, "!") + SwText(Sw1(), Sw2()));
  }
  return false;
}

bool DownloadRun::WriteConfiguration(uint32_t counter) {
  AdvanceProgress();
  pauser_.Sleep(5);

  const uint8_t get_challenge[] = {0x00, 0x84, 0x00, 0x00, 0x04};
  std::copy(std::begin(get_challenge), std::end(get_challenge), x_.command);
  if (Exchange(sizeof get_challenge) != 0) {
    FailShown("Write APP CFG Data commumation Error!");
    return false;
  }
  // A challenge of fewer than four bytes would leave stale bytes in the CRC block.
  if (!IsSuccessSw1(Sw1()) || x_.response_length < 6) {
    FailBeepFirst("Wrtte APP CFG Data Error,Update Card Version Error! " + SwText(Sw1(), Sw2()));
    return false;
  }

  uint8_t block[8];
  std::copy(x_.response, x_.response + 4, block);
  PutU32BE(counter, block + 4);
  const uint32_t crc = Crc32(block, sizeof block);

  const uint8_t header[] = {0xF0, 0x80, 0x01, 0x00, 0x08};
  std::copy(std::begin(header), std::end(header), x_.command);
  PutU32BE(counter, x_.command + 5);
  PutU32BE(crc, x_.command + 9);
  if (Exchange(13) != 0) {
    FailShown("Write APP CFG Data commumation Error!");
    return false;
  }
  if (!IsSuccessSw1(Sw1())) {
    FailBeepFirst(
        "Download APP Successfull!\r\n\r\n This Tessiv card version is not support counter "
        "function!\r\n " +
        SwText(Sw1(), Sw2()));
    return false;
  }
  return true;
}

}  // namespace

void OnDownload(OperatorPanel& panel, CardAccess& card, Pauser& pauser) {
  DownloadRun(panel, card, pauser).Run();
}

uint32_t Crc32(const uint8_t* bytes, size_t count) {
  uint32_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc ^= static_cast<uint32_t>(bytes[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  }
  return crc;
}

void PutU32BE(uint32_t value, uint8_t* dest) {
  dest[0] = static_cast<uint8_t>(value >> 24);
  dest[1] = static_cast<uint8_t>(value >> 16);
  dest[2] = static_cast<uint8_t>(value >> 8);
  dest[3] = static_cast<uint8_t>(value);
}

uint32_t GetU32BE(const uint8_t* bytes, uint32_t count) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < (count & 0xFF); ++i)
    value = (value << 8) | bytes[i];
  return value;
}

uint32_t ProgressStep(uint32_t line_count) {
  const uint32_t step = line_count / 50;
  return step == 0 ? 1 : step;
}

}  // namespace pelliton
