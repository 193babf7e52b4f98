// A simulated Orvo reader behind the HID device seam. It gathers output reports into
// request frames, answers each command with a reply frame cut into input reports,
// records what it was sent, and can be told to misbehave.
//
//   MyCard card;
//   pelliton::sim::SimulatedOrvoReader reader(&card);
//   reader.Install();            // DllOpenReader now finds it
//   int32_t handle = DllOpenReader();
//
// Card commands go to the CardModel; without a card (or with Present() false) the
// card state is "no card" and power-on and APDUs answer status 0xFE.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "reader/hid_device.h"
#include "sim/card_model.h"

namespace pelliton::sim {

struct ReaderRequest {
  uint8_t slot = 0;
  uint8_t command = 0;
  std::vector<uint8_t> payload;
};

struct OfflineRecord {
  uint8_t value = 0;
  std::vector<uint8_t> data;
};

using HidReport = std::array<uint8_t, reader::kHidReportSize>;

class SimulatedOrvoReader final : public reader::HidBackend {
 public:
  static constexpr const char* kReaderPath = "sim:orvo-reader";
  // Reply of the firmware version command unless overridden with SetReply.
  static constexpr const char* kFirmwareText = "ORVO SIM 2.05";
  static constexpr uint16_t kFirmwareNumber = 0x0205;

  explicit SimulatedOrvoReader(CardModel* card = nullptr);
  // Uninstalls itself; devices still open then fail every call with ENODEV.
  ~SimulatedOrvoReader() override;
  SimulatedOrvoReader(const SimulatedOrvoReader&) = delete;
  SimulatedOrvoReader& operator=(const SimulatedOrvoReader&) = delete;

  // Makes this the HID backend of the reader code / restores the system backend.
  void Install();
  void Uninstall();

  // reader::HidBackend
  std::vector<reader::HidDeviceInfo> Enumerate() override;
  std::unique_ptr<reader::HidDevice> Open(const std::string& path) override;
  std::chrono::milliseconds ReplyDeadline() const override;

  // --- enumeration ---
  // Inserts a device into the enumeration before position (clamped to the end). At
  // first the list holds only the reader itself, at kReaderPath. Any device that
  // opens behaves as the reader.
  void InsertDevice(size_t position, const reader::HidDeviceInfo& info, bool can_open = true);
  // Whether the reader's own entry can be opened.
  void SetReaderOpenable(bool can_open);

  // --- timing ---
  // The host's reply deadline (2 s here so that a silent reader does not hold a test
  // for the real 20 s).
  void SetReplyDeadline(std::chrono::milliseconds deadline);
  // Every read waits this long before a report is delivered.
  void SetReportDelay(std::chrono::milliseconds delay);

  // --- faults (one-shot unless said otherwise) ---
  // The next reply carries this status and filler_length payload bytes.
  void InjectStatus(uint8_t status, size_t filler_length = 0);
  // The next reply's checksum byte is wrong.
  void CorruptNextChecksum();
  // The k-th output report from now (1 = the next) fails with error (0: a failure
  // without an OS code); the partial request frame is dropped.
  void FailWriteAtReport(size_t k, int32_t error);
  // The k-th read from now fails with error (0: a failure without an OS code).
  void FailReadAtReport(size_t k, int32_t error);
  // Of the next reply only the first k - 1 reports are delivered (k = 1: nothing).
  void SilenceFromReport(size_t k);
  // The next reply's length field says length, whatever its payload.
  void OverrideNextLengthField(uint16_t length);
  // After the next reply an extra input report is left waiting: a complete reply
  // frame with the payload "STALE".
  void AddStaleReport();
  // Unplugged: gone from the enumeration, every write and read fails with ENODEV.
  void Unplug();
  void Replug();
  // Persistent: command answers this payload (status 0) instead of its own reply.
  void SetReply(uint8_t command, std::vector<uint8_t> payload);
  void ClearReply(uint8_t command);

  // --- records ---
  const std::vector<ReaderRequest>& Requests() const;
  const std::vector<HidReport>& OutputReports() const;
  const std::vector<std::string>& OpenedPaths() const;
  size_t ReadCount() const;
  size_t DiscardedReports() const;
  size_t PendingInputReports() const;
  const std::string& OfflineName() const;
  const std::vector<OfflineRecord>& OfflineRecords() const;
  size_t OfflineErases() const;
  void ClearRecords();

  struct State;

 private:
  std::shared_ptr<State> state_;
  bool installed_ = false;
};

}  // namespace pelliton::sim
