// The Linux system backend of the HID device seam: hidapi over hidraw.
#include <hidapi/hidapi.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "reader/hid_device.h"

namespace pelliton::reader {
namespace {

int32_t ErrnoOrEio() {
  return errno > 0 ? errno : EIO;
}

class HidapiDevice final : public HidDevice {
 public:
  explicit HidapiDevice(hid_device* device) : device_(device) {}
  ~HidapiDevice() override { hid_close(device_); }
  HidapiDevice(const HidapiDevice&) = delete;
  HidapiDevice& operator=(const HidapiDevice&) = delete;

  int32_t WriteReport(const uint8_t* report) override {
    errno = 0;
    if (hid_write(device_, report, kHidReportSize) < 0) {
      return ErrnoOrEio();
    }
    return 0;
  }

  HidReadResult ReadReport(uint8_t* report, std::chrono::milliseconds timeout) override {
    const int ms = static_cast<int>(std::clamp<int64_t>(timeout.count(), 0, INT_MAX));
    errno = 0;
    const int got = hid_read_timeout(device_, report, kHidReportSize, ms);
    if (got < 0) {
      return {ErrnoOrEio(), 0};
    }
    if (got == 0) {
      return {ETIMEDOUT, 0};
    }
    return {0, static_cast<size_t>(got)};
  }

  void DiscardPendingInput() override {
    // Bounded: a device that keeps sending cannot hold us here.
    uint8_t scratch[kHidReportSize];
    for (int i = 0; i < 64; ++i) {
      if (hid_read_timeout(device_, scratch, kHidReportSize, 0) <= 0) {
        return;
      }
    }
  }

 private:
  hid_device* device_;
};

class Hidapi final : public HidBackend {
 public:
  Hidapi() { initialised_ = hid_init() == 0; }

  std::vector<HidDeviceInfo> Enumerate() override {
    std::vector<HidDeviceInfo> found;
    if (!initialised_) {
      return found;
    }
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
      if (info->path == nullptr) {
        continue;
      }
      found.push_back({info->path, info->vendor_id, info->product_id, info->release_number});
    }
    hid_free_enumeration(list);
    return found;
  }

  std::unique_ptr<HidDevice> Open(const std::string& path) override {
    if (!initialised_) {
      return nullptr;
    }
    hid_device* device = hid_open_path(path.c_str());
    if (device == nullptr) {
      return nullptr;
    }
    hid_set_nonblocking(device, 0);
    return std::make_unique<HidapiDevice>(device);
  }

 private:
  bool initialised_ = false;
};

}  // namespace

HidBackend& SystemHidBackend() {
  static Hidapi backend;
  return backend;
}

}  // namespace pelliton::reader
