#include "sim/reader/simulated_orvo_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <thread>

#include "reader/link_frame.h"
#include "reader/protocol.h"

namespace pelliton::sim {

namespace rd = pelliton::reader;

struct DeviceEntry {
  rd::HidDeviceInfo info;
  bool can_open = true;
};

struct SimulatedOrvoReader::State {
  CardModel* card = nullptr;
  bool attached = true;  // false once the simulator is gone
  bool unplugged = false;
  bool powered = false;
  std::vector<DeviceEntry> devices;
  std::chrono::milliseconds deadline{2000};
  std::chrono::milliseconds report_delay{0};

  // Request being gathered and replies waiting to be read.
  std::vector<uint8_t> assembly;
  std::deque<HidReport> input;

  // One-shot faults.
  bool inject_status = false;
  uint8_t status = 0;
  size_t filler_length = 0;
  bool corrupt_checksum = false;
  size_t write_countdown = 0;
  int32_t write_error = 0;
  size_t read_countdown = 0;
  int32_t read_error = 0;
  size_t silence_from = 0;
  bool override_length = false;
  uint16_t length_field = 0;
  bool stale_report = false;
  std::map<uint8_t, std::vector<uint8_t>> replies;

  // Records.
  std::vector<ReaderRequest> requests;
  std::vector<HidReport> output_reports;
  std::vector<std::string> opened_paths;
  size_t reads = 0;
  size_t discarded = 0;
  std::string offline_name;
  std::vector<OfflineRecord> offline_records;
  size_t offline_erases = 0;

  bool CardPresent() const { return card != nullptr && card->Present(); }

  void QueueFrame(uint8_t first, uint8_t second, uint8_t reply_status,
                  const std::vector<uint8_t>& payload, bool is_stale) {
    std::vector<uint8_t> frame;
    uint16_t n = static_cast<uint16_t>(payload.size());
    if (!is_stale && override_length) {
      override_length = false;
      n = length_field;
    }
    frame.push_back(first);
    frame.push_back(second);
    frame.push_back(reply_status);
    frame.push_back(static_cast<uint8_t>(n & 0xFF));
    frame.push_back(static_cast<uint8_t>(n >> 8));
    frame.insert(frame.end(), payload.begin(), payload.end());
    uint8_t sum = rd::SKXorChecksum(frame.data() + 1, frame.size() - 1);
    if (!is_stale && corrupt_checksum) {
      corrupt_checksum = false;
      sum ^= 0x5A;
    }
    frame.push_back(sum);
    size_t deliver = rd::ReportCount(frame.size());
    if (!is_stale && silence_from != 0) {
      deliver = std::min(deliver, silence_from - 1);
      silence_from = 0;
    }
    for (size_t i = 0; i < deliver; ++i) {
      HidReport report{};
      report[0] = rd::kInputReportPreset;
      const size_t position = i * rd::kReportFrameBytes;
      const size_t take = std::min(frame.size() - position, rd::kReportFrameBytes);
      std::memcpy(report.data() + 1, frame.data() + position, take);
      input.push_back(report);
    }
  }

  // The reader's own answer to one request: status and payload.
  uint8_t Answer(const ReaderRequest& request, std::vector<uint8_t>& payload) {
    const auto overridden = replies.find(request.command);
    if (overridden != replies.end()) {
      payload = overridden->second;
      return 0x00;
    }
    switch (request.command) {
      case rd::kCmdPowerOn: {
        if (!CardPresent()) {
          return 0xFE;
        }
        payload = card->PowerOn();
        powered = !payload.empty();
        return powered ? 0x00 : 0xFE;
      }
      case rd::kCmdPowerOff:
        if (CardPresent()) {
          card->PowerOff();
        }
        powered = false;
        return 0x00;
      case rd::kCmdCardState:
        // 0: card present and active, 1: present and inactive, 2: no card.
        payload = {static_cast<uint8_t>(!CardPresent() ? 0x02 : powered ? 0x00 : 0x01)};
        return 0x00;
      case rd::kCmdApdu: {
        if (!CardPresent() || !powered) {
          return 0xFE;
        }
        payload = card->Transmit(request.payload.data(), request.payload.size());
        if (payload.empty()) {
          return 0xFE;  // mute card
        }
        return payload.size() <= rd::kMaxReplyPayload ? 0x00 : 0x07;
      }
      case rd::kCmdFirmwareVersion: {
        const std::string text = kFirmwareText;
        const size_t l = text.size() + 4;
        payload = {static_cast<uint8_t>(l & 0xFF), static_cast<uint8_t>(l >> 8)};
        payload.insert(payload.end(), text.begin(), text.end());
        payload.push_back(static_cast<uint8_t>(kFirmwareNumber & 0xFF));
        payload.push_back(static_cast<uint8_t>(kFirmwareNumber >> 8));
        return 0x00;
      }
      case rd::kCmdFirmwareStart:
      case rd::kCmdFirmwareFirst:
      case rd::kCmdFirmwareBlock:
      case rd::kCmdFirmwareComplete:
      case rd::kCmdLed:
      case rd::kCmdSpeaker:
        return 0x00;
      case rd::kCmdGetOfflineName:
        payload.assign(offline_name.begin(), offline_name.end());
        return 0x00;
      case rd::kCmdSetOfflineName:
        offline_name.assign(request.payload.begin(), request.payload.end());
        return 0x00;
      case rd::kCmdEraseOffline:
        offline_records.clear();
        ++offline_erases;
        return 0x00;
      case rd::kCmdWriteOffline: {
        if (request.payload.size() < 2 || request.payload[1] != request.payload.size() - 2) {
          return 0x07;
        }
        offline_records.push_back(
            {request.payload[0], {request.payload.begin() + 2, request.payload.end()}});
        return 0x00;
      }
      default:
        return 0x07;
    }
  }

  void HandleFrame() {
    ReaderRequest request;
    request.slot = assembly[0];
    request.command = assembly[1];
    const size_t n = static_cast<size_t>(assembly[2]) | (static_cast<size_t>(assembly[3]) << 8);
    request.payload.assign(assembly.begin() + 4, assembly.begin() + 4 + static_cast<long>(n));
    const bool checksum_ok = rd::SKXorChecksum(assembly.data() + 1, n + 3) == assembly[4 + n];
    assembly.clear();
    requests.push_back(request);

    std::vector<uint8_t> payload;
    uint8_t reply_status = 0x01;  // checksum error
    if (checksum_ok) {
      reply_status = Answer(request, payload);
    }
    if (inject_status) {
      inject_status = false;
      reply_status = status;
      payload.assign(filler_length, 0xEE);
    }
    QueueFrame(request.slot, request.command, reply_status, payload, false);
    if (stale_report) {
      stale_report = false;
      QueueFrame(request.slot, request.command, 0x00, {'S', 'T', 'A', 'L', 'E'}, true);
    }
  }

  int32_t Write(const uint8_t* report) {
    if (!attached || unplugged) {
      return ENODEV;
    }
    if (write_countdown != 0 && --write_countdown == 0) {
      // A real reader drops a request whose reports stop coming.
      assembly.clear();
      return write_error;
    }
    HidReport copy;
    std::memcpy(copy.data(), report, copy.size());
    output_reports.push_back(copy);
    if (report[0] != rd::kOutputReportId) {
      return 0;  // not a request report: ignored by the reader
    }
    assembly.insert(assembly.end(), report + 1, report + rd::kHidReportSize);
    if (assembly.size() >= 4) {
      const size_t n = static_cast<size_t>(assembly[2]) | (static_cast<size_t>(assembly[3]) << 8);
      if (n > rd::kMaxRequestPayload) {
        assembly.clear();
        QueueFrame(0, 0, 0x07, {}, false);
      } else if (assembly.size() >= n + 5) {
        HandleFrame();
      }
    }
    return 0;
  }

  rd::HidReadResult Read(uint8_t* report, std::chrono::milliseconds timeout) {
    if (!attached || unplugged) {
      return {ENODEV, 0};
    }
    ++reads;
    if (read_countdown != 0 && --read_countdown == 0) {
      return {read_error, 0};
    }
    if (report_delay.count() > 0) {
      std::this_thread::sleep_for(std::min(report_delay, timeout));
      if (report_delay > timeout) {
        return {ETIMEDOUT, 0};
      }
    }
    if (input.empty()) {
      std::this_thread::sleep_for(timeout);
      return {ETIMEDOUT, 0};
    }
    std::memcpy(report, input.front().data(), rd::kHidReportSize);
    input.pop_front();
    return {0, rd::kHidReportSize};
  }
};

namespace {

class SimulatedDevice final : public rd::HidDevice {
 public:
  explicit SimulatedDevice(std::shared_ptr<SimulatedOrvoReader::State> state)
      : state_(std::move(state)) {}

  int32_t WriteReport(const uint8_t* report) override { return state_->Write(report); }

  rd::HidReadResult ReadReport(uint8_t* report, std::chrono::milliseconds timeout) override {
    return state_->Read(report, timeout);
  }

  void DiscardPendingInput() override {
    if (!state_->attached || state_->unplugged) {
      return;
    }
    state_->discarded += state_->input.size();
    state_->input.clear();
  }

 private:
  std::shared_ptr<SimulatedOrvoReader::State> state_;
};

}  // namespace

SimulatedOrvoReader::SimulatedOrvoReader(CardModel* card) : state_(std::make_shared<State>()) {
  state_->card = card;
  state_->devices.push_back(
      {{kReaderPath, rd::kReaderVendorId, rd::kReaderProductId, rd::kReaderVersion}, true});
}

SimulatedOrvoReader::~SimulatedOrvoReader() {
  Uninstall();
  state_->attached = false;
  state_->card = nullptr;
}

void SimulatedOrvoReader::Install() {
  rd::SetHidBackend(this);
  installed_ = true;
}

void SimulatedOrvoReader::Uninstall() {
  if (installed_ && &rd::CurrentHidBackend() == this) {
    rd::SetHidBackend(nullptr);
  }
  installed_ = false;
}

std::vector<rd::HidDeviceInfo> SimulatedOrvoReader::Enumerate() {
  std::vector<rd::HidDeviceInfo> list;
  if (state_->unplugged) {
    return list;
  }
  for (const DeviceEntry& entry : state_->devices) {
    list.push_back(entry.info);
  }
  return list;
}

std::unique_ptr<rd::HidDevice> SimulatedOrvoReader::Open(const std::string& path) {
  if (state_->unplugged) {
    return nullptr;
  }
  for (const DeviceEntry& entry : state_->devices) {
    if (entry.info.path == path) {
      if (!entry.can_open) {
        return nullptr;
      }
      state_->opened_paths.push_back(path);
      return std::make_unique<SimulatedDevice>(state_);
    }
  }
  return nullptr;
}

std::chrono::milliseconds SimulatedOrvoReader::ReplyDeadline() const {
  return state_->deadline;
}

void SimulatedOrvoReader::InsertDevice(size_t position, const rd::HidDeviceInfo& info,
                                       bool can_open) {
  position = std::min(position, state_->devices.size());
  state_->devices.insert(state_->devices.begin() + static_cast<long>(position), {info, can_open});
}

void SimulatedOrvoReader::SetReaderOpenable(bool can_open) {
  for (DeviceEntry& entry : state_->devices) {
    if (entry.info.path == kReaderPath) {
      entry.can_open = can_open;
    }
  }
}

void SimulatedOrvoReader::SetReplyDeadline(std::chrono::milliseconds deadline) {
  state_->deadline = deadline;
}

void SimulatedOrvoReader::SetReportDelay(std::chrono::milliseconds delay) {
  state_->report_delay = delay;
}

void SimulatedOrvoReader::InjectStatus(uint8_t status, size_t filler_length) {
  state_->inject_status = true;
  state_->status = status;
  state_->filler_length = std::min(filler_length, rd::kMaxReplyPayload);
}

void SimulatedOrvoReader::CorruptNextChecksum() {
  state_->corrupt_checksum = true;
}

void SimulatedOrvoReader::FailWriteAtReport(size_t k, int32_t error) {
  state_->write_countdown = k;
  state_->write_error = error != 0 ? error : -1;
}

void SimulatedOrvoReader::FailReadAtReport(size_t k, int32_t error) {
  state_->read_countdown = k;
  state_->read_error = error != 0 ? error : -1;
}

void SimulatedOrvoReader::SilenceFromReport(size_t k) {
  state_->silence_from = k;
}

void SimulatedOrvoReader::OverrideNextLengthField(uint16_t length) {
  state_->override_length = true;
  state_->length_field = length;
}

void SimulatedOrvoReader::AddStaleReport() {
  state_->stale_report = true;
}

void SimulatedOrvoReader::Unplug() {
  state_->unplugged = true;
  state_->input.clear();
  state_->assembly.clear();
  state_->powered = false;
}

void SimulatedOrvoReader::Replug() {
  state_->unplugged = false;
}

void SimulatedOrvoReader::SetReply(uint8_t command, std::vector<uint8_t> payload) {
  state_->replies[command] = std::move(payload);
}

void SimulatedOrvoReader::ClearReply(uint8_t command) {
  state_->replies.erase(command);
}

const std::vector<ReaderRequest>& SimulatedOrvoReader::Requests() const {
  return state_->requests;
}

const std::vector<HidReport>& SimulatedOrvoReader::OutputReports() const {
  return state_->output_reports;
}

const std::vector<std::string>& SimulatedOrvoReader::OpenedPaths() const {
  return state_->opened_paths;
}

size_t SimulatedOrvoReader::ReadCount() const {
  return state_->reads;
}

size_t SimulatedOrvoReader::DiscardedReports() const {
  return state_->discarded;
}

size_t SimulatedOrvoReader::PendingInputReports() const {
  return state_->input.size();
}

const std::string& SimulatedOrvoReader::OfflineName() const {
  return state_->offline_name;
}

const std::vector<OfflineRecord>& SimulatedOrvoReader::OfflineRecords() const {
  return state_->offline_records;
}

size_t SimulatedOrvoReader::OfflineErases() const {
  return state_->offline_erases;
}

void SimulatedOrvoReader::ClearRecords() {
  state_->requests.clear();
  state_->output_reports.clear();
  state_->opened_paths.clear();
  state_->reads = 0;
  state_->discarded = 0;
}

}  // namespace pelliton::sim
