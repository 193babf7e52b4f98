// The HID device seam of the Orvo reader: the only place where the reader code
// touches the operating system. The system backend is the real one (hidapi on Linux,
// hid.dll and SetupAPI on Windows); tests and the simulated reader plug in their own
// through SetHidBackend.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelliton::reader {

inline constexpr size_t kHidReportSize = 64;

struct HidDeviceInfo {
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t release_number = 0;  // the device's version number
};

struct HidReadResult {
  // 0 when a report arrived; ETIMEDOUT when none arrived within the time bound; EINTR
  // when a signal cut the wait short (the link waits on); otherwise the positive OS
  // error code of the failed read, or a negative value when the failure came without
  // one.
  int32_t error = 0;
  size_t bytes_read = 0;
};

// One open device. Destroying it closes it.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // Writes one whole report (byte 0 is the report ID). 0 on success; otherwise the
  // positive OS code, or a negative value when the failure came without one.
  virtual int32_t WriteReport(const uint8_t* report) = 0;
  // Reads one report of at most kHidReportSize bytes into report, waiting at most
  // timeout.
  virtual HidReadResult ReadReport(uint8_t* report, std::chrono::milliseconds timeout) = 0;
  // Drops every input report already waiting, without blocking.
  virtual void DiscardPendingInput() = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  // Every present HID device with its attributes, in enumeration order.
  virtual std::vector<HidDeviceInfo> Enumerate() = 0;
  // Opens a device for synchronous reading and writing; null when it cannot be opened.
  virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;
  // The longest one reply may take to arrive, all its reports together.
  virtual std::chrono::milliseconds ReplyDeadline() const { return std::chrono::seconds(20); }
};

// Selects the backend used by every later call; null selects the system backend. The
// caller keeps the backend alive while it is selected.
void SetHidBackend(HidBackend* backend);
HidBackend& CurrentHidBackend();

// The system backend: hidapi (hidraw) on Linux, the Windows HID API on Windows. One
// file per platform defines it.
HidBackend& SystemHidBackend();

}  // namespace pelliton::reader
