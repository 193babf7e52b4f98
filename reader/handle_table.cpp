#include "reader/handle_table.h"

#include <limits>
#include <map>

#include "reader/bounded_calls.h"

namespace pelliton::reader {
namespace {

struct HandleTable {
  std::map<int32_t, std::unique_ptr<HidDevice>> open;
  int32_t next = 1;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

}  // namespace

int32_t AddReaderHandle(std::unique_ptr<HidDevice> device) {
  HandleTable& table = Table();
  if (device == nullptr || table.open.size() >= kMaxOpenReaders) {
    return 0;
  }
  // Handles count up and wrap to 1, skipping any still open.
  int32_t handle = table.next;
  while (table.open.count(handle) != 0) {
    handle = handle == std::numeric_limits<int32_t>::max() ? 1 : handle + 1;
  }
  table.next = handle == std::numeric_limits<int32_t>::max() ? 1 : handle + 1;
  table.open.emplace(handle, std::move(device));
  return handle;
}

HidDevice* FindReaderHandle(int32_t handle) {
  HandleTable& table = Table();
  const auto it = table.open.find(handle);
  return it == table.open.end() ? nullptr : it->second.get();
}

bool CloseReaderHandle(int32_t handle) {
  return Table().open.erase(handle) != 0;
}

size_t OpenReaderCount() {
  return Table().open.size();
}

}  // namespace pelliton::reader
