// The Windows system backend of the HID device seam: devices found through SetupAPI's
// HID interface list, attributes from hid.dll, reports moved with ReadFile and
// WriteFile. The handle is opened for overlapped I/O so that every wait is bounded.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the HID and SetupAPI headers build on its types. MinGW-w64's
// hidsdi.h declares C functions without saying so.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "reader/hid_device.h"

namespace pelliton::reader {
namespace {

// The seam wants a positive OS code, or a negative value when there is none.
int32_t LastErrorCode() {
  const DWORD code = GetLastError();
  return code > 0 && code <= static_cast<DWORD>(INT32_MAX) ? static_cast<int32_t>(code) : -1;
}

// A write that the device does not take within this long is given up.
constexpr DWORD kWriteWaitMs = 5000;

class WindowsHidDevice final : public HidDevice {
 public:
  WindowsHidDevice(HANDLE device, HANDLE event) : device_(device), event_(event) {}
  ~WindowsHidDevice() override {
    CloseHandle(device_);
    CloseHandle(event_);
  }
  WindowsHidDevice(const WindowsHidDevice&) = delete;
  WindowsHidDevice& operator=(const WindowsHidDevice&) = delete;

  int32_t WriteReport(const uint8_t* report) override {
    // WriteFile takes a writable buffer only by signature; a copy keeps the caller's
    // const promise.
    uint8_t copy[kHidReportSize];
    std::copy(report, report + kHidReportSize, copy);
    DWORD written = 0;
    const int32_t error = Transfer(false, copy, kWriteWaitMs, &written);
    if (error == 0 && written != kHidReportSize) {
      return EIO;
    }
    return error;
  }

  HidReadResult ReadReport(uint8_t* report, std::chrono::milliseconds timeout) override {
    const DWORD ms = static_cast<DWORD>(std::clamp<int64_t>(timeout.count(), 0, INFINITE - 1));
    DWORD got = 0;
    const int32_t error = Transfer(true, report, ms, &got);
    return {error, error == 0 ? static_cast<size_t>(got) : 0};
  }

  void DiscardPendingInput() override { HidD_FlushQueue(device_); }

 private:
  // One overlapped read or write of a whole report, waiting at most wait_ms. 0, or
  // ETIMEDOUT, or the OS code. A transfer that timed out is cancelled and its end
  // awaited, so the buffer is never written after the call returns.
  int32_t Transfer(bool read, uint8_t* buffer, DWORD wait_ms, DWORD* count) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event_;
    ResetEvent(event_);
    const BOOL done = read ? ReadFile(device_, buffer, kHidReportSize, nullptr, &overlapped)
                           : WriteFile(device_, buffer, kHidReportSize, nullptr, &overlapped);
    if (!done && GetLastError() != ERROR_IO_PENDING) {
      return LastErrorCode();
    }
    if (WaitForSingleObject(event_, wait_ms) != WAIT_OBJECT_0) {
      CancelIo(device_);
      GetOverlappedResult(device_, &overlapped, count, TRUE);
      return ETIMEDOUT;
    }
    if (!GetOverlappedResult(device_, &overlapped, count, FALSE)) {
      return LastErrorCode();
    }
    return 0;
  }

  HANDLE device_;
  HANDLE event_;
};

// Opens a device path; access 0 is enough to read its attributes, even of a device
// another program holds exclusively.
HANDLE OpenPath(const char* path, DWORD access, DWORD flags) {
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

class WindowsHid final : public HidBackend {
 public:
  std::vector<HidDeviceInfo> Enumerate() override {
    std::vector<HidDeviceInfo> found;
    GUID hid_guid;
    HidD_GetHidGuid(&hid_guid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
      return found;
    }
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    for (DWORD index = 0;
         SetupDiEnumDeviceInterfaces(set, nullptr, &hid_guid, index, &interface_data); ++index) {
      DWORD required = 0;
      SetupDiGetDeviceInterfaceDetailA(set, &interface_data, nullptr, 0, &required, nullptr);
      if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        continue;
      }
      // DWORD-aligned storage for the variable-length detail record.
      std::vector<DWORD> storage(required / sizeof(DWORD) + 1);
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
      if (!SetupDiGetDeviceInterfaceDetailA(set, &interface_data, detail, required, nullptr,
                                            nullptr)) {
        continue;
      }
      HANDLE device = OpenPath(detail->DevicePath, 0, 0);
      if (device == INVALID_HANDLE_VALUE) {
        continue;
      }
      HIDD_ATTRIBUTES attributes{};
      attributes.Size = sizeof attributes;
      if (HidD_GetAttributes(device, &attributes)) {
        found.push_back({detail->DevicePath, attributes.VendorID, attributes.ProductID,
                         attributes.VersionNumber});
      }
      CloseHandle(device);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
  }

  std::unique_ptr<HidDevice> Open(const std::string& path) override {
    HANDLE device = OpenPath(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
    if (device == INVALID_HANDLE_VALUE) {
      return nullptr;
    }
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
      CloseHandle(device);
      return nullptr;
    }
    return std::make_unique<WindowsHidDevice>(device, event);
  }
};

}  // namespace

HidBackend& SystemHidBackend() {
  static WindowsHid backend;
  return backend;
}

}  // namespace pelliton::reader
