// The choice of HID backend: the system's unless a test or the simulated reader has
// put its own in place.
#include "reader/hid_device.h"

namespace pelliton::reader {
namespace {

HidBackend* g_selected = nullptr;

}  // namespace

void SetHidBackend(HidBackend* backend) {
  g_selected = backend;
}

HidBackend& CurrentHidBackend() {
  return g_selected != nullptr ? *g_selected : SystemHidBackend();
}

}  // namespace pelliton::reader
