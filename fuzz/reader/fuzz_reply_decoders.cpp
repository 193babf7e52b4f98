// Reply payload decoders, directly and behind every reader operation: a scripted
// device answers each read with the next slice of the input.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "reader/bounded_calls.h"
#include "reader/hid_device.h"
#include "reader/protocol.h"
#include "reader/reader_api.h"

namespace rd = pelliton::reader;

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;

class ScriptedDevice final : public rd::HidDevice {
 public:
  int32_t WriteReport(const uint8_t*) override { return 0; }
  rd::HidReadResult ReadReport(uint8_t* report, std::chrono::milliseconds) override {
    if (g_size == 0) {
      return {ETIMEDOUT, 0};
    }
    const size_t bytes_read = g_data[0] % (rd::kHidReportSize + 1);
    ++g_data;
    --g_size;
    const size_t n = g_size < rd::kHidReportSize ? g_size : rd::kHidReportSize;
    std::memcpy(report, g_data, n);
    g_data += n;
    g_size -= n;
    return {0, bytes_read};
  }
  void DiscardPendingInput() override {}
};

class ScriptedBackend final : public rd::HidBackend {
 public:
  std::vector<rd::HidDeviceInfo> Enumerate() override {
    return {{"fuzz", rd::kReaderVendorId, rd::kReaderProductId, rd::kReaderVersion}};
  }
  std::unique_ptr<rd::HidDevice> Open(const std::string&) override {
    return std::make_unique<ScriptedDevice>();
  }
  std::chrono::milliseconds ReplyDeadline() const override { return std::chrono::seconds(5); }
};

template <size_t N>
struct Fenced {
  uint8_t bytes[N + 64];
  Fenced() { std::memset(bytes, 0xA5, sizeof bytes); }
  uint8_t* data() { return bytes + 32; }
  void Check() const {
    for (size_t i = 0; i < 32; ++i) {
      if (bytes[i] != 0xA5 || bytes[32 + N + i] != 0xA5) {
        std::abort();
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) {
    return 0;
  }
  // The decoders on the raw input.
  {
    uint8_t state = 0;
    size_t offset = 0;
    size_t text = 0;
    uint32_t number = 0;
    (void)rd::DecodeAtr(data + 1, size - 1);
    (void)rd::DecodeCardState(data + 1, size - 1, &state);
    if (rd::DecodeFirmwareVersion(data + 1, size - 1, &offset, &text, &number) == 0 &&
        offset + text + 2 > size - 1) {
      std::abort();
    }
  }

  static ScriptedBackend backend;
  static int32_t handle = [] {
    rd::SetHidBackend(&backend);
    rd::SetSleepFunction([](uint32_t) {});
    return DllOpenReader();
  }();
  const uint8_t operation = data[0];
  g_data = data + 1;
  g_size = size - 1;

  Fenced<594> out;
  int32_t length = 0;
  uint32_t ulength = 0;
  uint32_t number = 0;
  const uint8_t apdu[5] = {0x00, 0x84, 0x00, 0x00, 0x08};
  int32_t result = 0;
  switch (operation % 8) {
    case 0:
      result = DllReset7816Card(handle, 0, out.data(), &length);
      if (result == 0 && (length < 2 || length > 33)) {
        std::abort();
      }
      break;
    case 1:
      result = Dll7816CardAPDU(handle, 0, apdu, 5, out.data(), &length);
      break;
    case 2:
      result = rd::CardApduBounded(handle, 0, apdu, 5, out.data(), &length, 300);
      if (result == 0 && length > 300) {
        std::abort();
      }
      break;
    case 3:
      result = DllGet7816CardState(handle, 0, out.data());
      break;
    case 4:
      result =
          DllGetFirmwareVersion(handle, reinterpret_cast<char*>(out.data()), &ulength, &number);
      if (result == 0 && ulength > 276) {
        std::abort();
      }
      break;
    case 5:
      result = DllGetOfflineFileName(handle, reinterpret_cast<char*>(out.data()), &ulength);
      if (result == 0 && ulength > 280) {
        std::abort();
      }
      break;
    case 6:
      result = SKRevData(handle, 0, 0x6F, out.data(), &length);
      break;
    default:
      result = DllDownloadFirmwareStart(handle, apdu, 5);
      break;
  }
  (void)result;
  out.Check();
  return 0;
}
