// A scripted Orvo reader for unit tests: logs every call and answers what the test set.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "cardaccess/orvo_api.h"
#include "reader/reader_api.h"

namespace pelliton::testing {

class FakeOrvo : public OrvoApi {
 public:
  static constexpr int32_t kUnset = INT32_MIN;
  struct Reply {
    int32_t result = 0;
    std::vector<uint8_t> bytes;
    int32_t reported_length = kUnset;  // the count claimed instead of bytes' size
  };

  int32_t OpenReader() override {
    calls.push_back("Open");
    if (!open_results.empty()) {
      const int32_t result = open_results.front();
      open_results.pop_front();
      return result;
    }
    return next_handle++;
  }
  int32_t CloseReader(int32_t handle) override {
    calls.push_back("Close(" + std::to_string(handle) + ")");
    return 0;
  }
  int32_t ResetCard(int32_t handle, int32_t slot, uint8_t* atr_out, int32_t* length) override {
    calls.push_back("Reset(" + std::to_string(handle) + "," + std::to_string(slot) + ")");
    int32_t result = 0;
    if (!reset_results.empty()) {
      result = reset_results.front();
      reset_results.pop_front();
    }
    if (result == 0) {
      std::copy(atr.begin(), atr.end(), atr_out);
      *length = static_cast<int32_t>(atr.size());
    }
    return result;
  }
  int32_t CardApdu(int32_t handle, int32_t slot, const uint8_t* command, int32_t command_length,
                   uint8_t* response, int32_t* response_length, uint32_t capacity) override {
    calls.push_back("Apdu(" + std::to_string(handle) + "," + std::to_string(slot) + "," +
                    std::to_string(command_length) + "," + std::to_string(*response_length) + "," +
                    std::to_string(capacity) + ")");
    commands.emplace_back(command, command + command_length);
    if (replies.empty()) {
      return PELLITON_READER_BAD_CHECKSUM;
    }
    const Reply reply = replies.front();
    replies.pop_front();
    if (reply.result != 0) {
      return reply.result;
    }
    if (reply.bytes.size() > capacity) {
      return PELLITON_READER_TOO_LARGE;
    }
    std::copy(reply.bytes.begin(), reply.bytes.end(), response);
    *response_length = reply.reported_length != kUnset ? reply.reported_length
                                                       : static_cast<int32_t>(reply.bytes.size());
    return 0;
  }

  std::vector<std::string> calls;
  std::vector<std::vector<uint8_t>> commands;
  std::deque<int32_t> open_results;
  std::deque<int32_t> reset_results;
  std::vector<uint8_t> atr = {0x3B, 0x02, 0x14, 0x50};
  std::deque<Reply> replies;
  int32_t next_handle = 1;
};

}  // namespace pelliton::testing
