// The whole card information query over either transport, with every answer of the
// PC/SC service and of the Orvo reader (results, ATRs, replies and the lengths they
// claim) taken from the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cardaccess/card_access.h"
#include "cardaccess/reader_controls.h"
#include "engine/card_info.h"
#include "reader/reader_api.h"

namespace {

using pelliton::CardAccess;

LONG PickResult(FuzzedDataProvider& in) {
  static constexpr LONG kResults[] = {SCARD_S_SUCCESS,           SCARD_E_SHARING_VIOLATION,
                                      SCARD_W_UNRESPONSIVE_CARD, SCARD_W_REMOVED_CARD,
                                      SCARD_E_NO_SMARTCARD,      SCARD_E_INSUFFICIENT_BUFFER};
  const uint8_t pick = in.ConsumeIntegral<uint8_t>();
  return pick < 200 ? SCARD_S_SUCCESS : kResults[pick % std::size(kResults)];
}

// Writes at most capacity bytes, as any service must, but claims whatever the input says.
uint32_t Answer(FuzzedDataProvider& in, uint8_t* out, uint32_t capacity) {
  const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegral<uint16_t>() % 700);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), capacity), out);
  return in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : static_cast<uint32_t>(bytes.size());
}

class FuzzPcsc : public pelliton::PcscApi {
 public:
  explicit FuzzPcsc(FuzzedDataProvider& in) : in_(in) {}
  LONG EstablishContext(DWORD, SCARDCONTEXT* context) override {
    *context = 1;
    return PickResult(in_);
  }
  LONG ListReaders(SCARDCONTEXT, std::vector<std::string>* names) override {
    *names = {"Fuzz Reader"};
    return PickResult(in_);
  }
  LONG Connect(SCARDCONTEXT, const std::string&, DWORD, DWORD, SCARDHANDLE* card,
               DWORD* protocol) override {
    *card = 7;
    *protocol = SCARD_PROTOCOL_T1;
    return PickResult(in_);
  }
  LONG Status(SCARDHANDLE, uint8_t* atr, DWORD* atr_length) override {
    *atr_length = Answer(in_, atr, static_cast<uint32_t>(*atr_length));
    return PickResult(in_);
  }
  LONG BeginTransaction(SCARDHANDLE) override { return 0; }
  LONG EndTransaction(SCARDHANDLE, DWORD) override { return 0; }
  LONG Disconnect(SCARDHANDLE, DWORD) override { return 0; }
  LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, const uint8_t*, DWORD, uint8_t* response,
                DWORD* response_length) override {
    *response_length = Answer(in_, response, static_cast<uint32_t>(*response_length));
    return PickResult(in_);
  }

 private:
  FuzzedDataProvider& in_;
};

class FuzzOrvo : public pelliton::OrvoApi {
 public:
  explicit FuzzOrvo(FuzzedDataProvider& in) : in_(in) {}
  int32_t OpenReader() override { return in_.ConsumeBool() ? 3 : PELLITON_READER_NOT_FOUND; }
  int32_t CloseReader(int32_t) override { return 0; }
  int32_t ResetCard(int32_t, int32_t, uint8_t* atr, int32_t* atr_length) override {
    const int32_t result = in_.ConsumeBool() ? 0 : PELLITON_READER_STATUS_04;
    if (result == 0) {
      *atr_length = static_cast<int32_t>(Answer(in_, atr, 33));
    }
    return result;
  }
  int32_t CardApdu(int32_t, int32_t, const uint8_t*, int32_t, uint8_t* response,
                   int32_t* response_length, uint32_t capacity) override {
    if (!in_.ConsumeBool()) {
      return PELLITON_READER_BAD_CHECKSUM;
    }
    *response_length = static_cast<int32_t>(Answer(in_, response, capacity));
    return 0;
  }

 private:
  FuzzedDataProvider& in_;
};

class QuietPanel : public pelliton::OperatorPanel {
 public:
  std::string& StatusText() override { return status_; }
  void RefreshControls() override {}
  void SetStatusBoxText(const std::string&) override {}
  void Beep(uint32_t, uint32_t) override {}
  void ReaderListClear() override { names_.clear(); }
  void ReaderListInsert(int, const std::string& name) override { names_.push_back(name); }
  void ReaderListSelect(int) override {}
  std::string ReaderListCurrentText() override { return names_.empty() ? "" : names_.front(); }
  void EnableControl(int, bool) override {}
  std::string& ScriptPath() override { return path_; }
  uint32_t& CounterValue() override { return counter_; }
  std::string& CardInfoText() override { return info_; }
  std::string& HiddenLabelText() override { return label_; }
  bool ReadControls() override { return true; }
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int) override {}
  void RepaintNow() override {}
  void WindowMessageBox(const std::string&) override {}
  void AppMessageBox(const std::string&) override {}
  std::optional<std::string> ChooseScriptFile(const std::string&) override { return {}; }
  void ShowScriptPath(const std::string&) override {}
  void SetPathBoxText(const std::string&) override {}

 private:
  std::string status_, path_, info_, label_;
  std::vector<std::string> names_;
  uint32_t counter_ = 500;
};

class NoPause : public pelliton::Pauser {
 public:
  void Sleep(uint32_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzPcsc pcsc(in);
  FuzzOrvo orvo(in);
  QuietPanel panel;
  NoPause pauser;
  CardAccess access(pcsc, orvo);
  ReloadReaderList(access, panel);
  OnReaderModeClicked(access, panel,
                      in.ConsumeBool() ? pelliton::kPcscRadio : pelliton::kOrvoRadio);
  access.Connection().atr_length = in.ConsumeIntegralInRange<uint32_t>(0, pelliton::kAtrBufferSize);
  for (int run = 0; run < 2 && in.remaining_bytes() > 0; ++run) {
    pelliton::GetCardInfo(panel, access, pauser);
    if (access.Exchange().response_length > pelliton::kApduBufferSize ||
        access.Connection().atr_length > pelliton::kAtrBufferSize) {
      std::abort();
    }
  }
  return 0;
}
