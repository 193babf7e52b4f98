// Frame building, report cutting, the status table and reply gathering, on buffers.
#include <gtest/gtest.h>

#include <vector>

#include "reader/link_frame.h"
#include "reader_test_support.h"

namespace pelliton::reader {
namespace {

using test::Bytes;
using test::Pattern;

std::vector<uint8_t> Frame(uint8_t slot, uint8_t command, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame(kFrameArea);
  const size_t n = BuildRequestFrame(slot, command, payload.data(), payload.size(), frame.data());
  frame.resize(n);
  return frame;
}

TEST(RequestFrame, Examples) {
  struct Case {
    uint8_t slot;
    uint8_t command;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> frame;
  };
  const Case cases[] = {
      {0x00, 0x63, {}, Bytes({0x00, 0x63, 0x00, 0x00, 0x63})},
      {0x00, 0x62, {0x01}, Bytes({0x00, 0x62, 0x01, 0x00, 0x01, 0x62})},
      {0x00, 0x6F, Bytes({0x00, 0x84, 0x00, 0x00, 0x04}),
       Bytes({0x00, 0x6F, 0x05, 0x00, 0x00, 0x84, 0x00, 0x00, 0x04, 0xEA})},
      // The slot byte is outside the checksum.
      {0xFF, 0x63, {}, Bytes({0xFF, 0x63, 0x00, 0x00, 0x63})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Frame(c.slot, c.command, c.payload), c.frame);
  }
}

TEST(RequestFrame, LengthBytesAreLittleEndianAndTooLargeIsRefused) {
  const std::vector<uint8_t> payload = Pattern(0x0123);
  const std::vector<uint8_t> frame = Frame(0, 0x6F, payload);
  ASSERT_EQ(frame.size(), 0x0123u + 5);
  EXPECT_EQ(frame[2], 0x23);
  EXPECT_EQ(frame[3], 0x01);
  EXPECT_EQ(frame.back(), SKXorChecksum(frame.data() + 1, frame.size() - 2));

  std::vector<uint8_t> big(596, 0x11);
  std::vector<uint8_t> area(kFrameArea, 0xCC);
  EXPECT_EQ(BuildRequestFrame(0, 0x6F, big.data(), big.size(), area.data()), 0u);
  EXPECT_EQ(area, std::vector<uint8_t>(kFrameArea, 0xCC));
  EXPECT_EQ(Frame(0, 0x6F, Pattern(595)).size(), 600u);
}

TEST(RequestFrame, CutIntoReports) {
  struct Case {
    size_t payload;
    size_t reports;
    size_t last_frame_bytes;
  };
  const Case cases[] = {{0, 1, 5}, {58, 1, 63}, {59, 2, 1}, {121, 2, 63}, {595, 10, 33}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload);
    const std::vector<uint8_t> frame = Frame(0, 0x8C, Pattern(c.payload));
    ASSERT_EQ(ReportCount(frame.size()), c.reports);
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < c.reports; ++i) {
      uint8_t report[kHidReportSize];
      CutOutputReport(frame.data(), frame.size(), i, report);
      EXPECT_EQ(report[0], 0x03);
      joined.insert(joined.end(), report + 1, report + kHidReportSize);
      if (i + 1 == c.reports) {
        for (size_t b = 1 + c.last_frame_bytes; b < kHidReportSize; ++b) {
          EXPECT_EQ(report[b], 0x00) << "padding byte " << b;
        }
      }
    }
    joined.resize(frame.size());
    EXPECT_EQ(joined, frame);
  }
}

TEST(Checksum, XorOfTheRun) {
  EXPECT_EQ(SKXorChecksum(nullptr, 0), 0x00);
  const auto bytes = Bytes({0x6F, 0x05, 0x00, 0x00, 0x84, 0x00, 0x00, 0x04});
  EXPECT_EQ(SKXorChecksum(bytes.data(), bytes.size()), 0xEA);
}

// Numbers rather than names here: these values are what C API programs see, so a
// wrong value behind a name must fail somewhere.
TEST(StatusTable, EveryByte) {
  for (int status = 0; status < 256; ++status) {
    int32_t expected = -30;
    switch (status) {
      case 0x00:
        expected = 0;
        break;
      case 0x01:
        expected = -14;
        break;
      case 0x03:
        expected = -9;
        break;
      case 0x04:
        expected = -13;
        break;
      case 0x05:
      case 0x06:
        expected = -8;
        break;
      case 0x08:
        expected = -20;
        break;
      case 0x09:
        expected = -21;
        break;
      case 0x0A:
        expected = -22;
        break;
      case 0x0B:
        expected = -24;
        break;
      case 0x0C:
        expected = -25;
        break;
      case 0xFE:
        expected = -11;
        break;
      default:
        break;
    }
    EXPECT_EQ(SKStatusToError(static_cast<uint8_t>(status)), expected) << status;
  }
}

// Input reports of a reply frame built here, 64 bytes each.
std::vector<std::vector<uint8_t>> ReplyReports(uint8_t status, const std::vector<uint8_t>& payload,
                                               int checksum_flip = 0, int length_field = -1) {
  std::vector<uint8_t> frame = {0x00, 0x63, status};
  const size_t n = length_field < 0 ? payload.size() : static_cast<size_t>(length_field);
  frame.push_back(static_cast<uint8_t>(n & 0xFF));
  frame.push_back(static_cast<uint8_t>(n >> 8));
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.push_back(SKXorChecksum(frame.data() + 1, frame.size() - 1) ^ checksum_flip);
  std::vector<std::vector<uint8_t>> reports;
  for (size_t pos = 0; pos < frame.size(); pos += 63) {
    std::vector<uint8_t> report(64, 0);
    report[0] = 0x04;
    std::copy(frame.begin() + static_cast<long>(pos),
              frame.begin() + static_cast<long>(std::min(frame.size(), pos + 63)),
              report.begin() + 1);
    reports.push_back(report);
  }
  return reports;
}

struct GatherOutcome {
  ReplyGatherer::Step step;
  size_t reports_used;
  int32_t error;
  std::vector<uint8_t> payload;
};

GatherOutcome Gather(const std::vector<std::vector<uint8_t>>& reports, size_t capacity) {
  ReplyGatherer gatherer(capacity);
  GatherOutcome outcome{ReplyGatherer::Step::kNeedMore, 0, 0, {}};
  for (const auto& report : reports) {
    ++outcome.reports_used;
    outcome.step = gatherer.Feed(report.data(), report.size());
    if (outcome.step != ReplyGatherer::Step::kNeedMore) {
      break;
    }
  }
  outcome.error = gatherer.error();
  if (outcome.step == ReplyGatherer::Step::kDone) {
    outcome.payload.assign(gatherer.payload(), gatherer.payload() + gatherer.payload_length());
  }
  return outcome;
}

TEST(ReplyGatherer, Outcomes) {
  using Step = ReplyGatherer::Step;
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> reports;
    size_t capacity;
    Step step;
    size_t reports_used;
    int32_t error;
  };
  const Case cases[] = {
      {"empty payload", ReplyReports(0, {}), 594, Step::kDone, 1, 0},
      {"57 bytes in one report", ReplyReports(0, Pattern(57)), 594, Step::kDone, 1, 0},
      {"58 bytes take two", ReplyReports(0, Pattern(58)), 594, Step::kDone, 2, 0},
      {"594 bytes take ten", ReplyReports(0, Pattern(594)), 594, Step::kDone, 10, 0},
      {"bad checksum", ReplyReports(0, Pattern(100), 0x01), 594, Step::kFailed, 2,
       PELLITON_READER_BAD_CHECKSUM},
      {"status judged first", ReplyReports(0x07, Pattern(100), 0x01), 594, Step::kFailed, 1,
       PELLITON_READER_STATUS_OTHER},
      {"status 0xFE", ReplyReports(0xFE, {}), 594, Step::kFailed, 1, PELLITON_READER_STATUS_FE},
      {"status 0x06", ReplyReports(0x06, {}), 594, Step::kFailed, 1, PELLITON_READER_STATUS_05_06},
      {"status 0xFF", ReplyReports(0xFF, {}), 594, Step::kFailed, 1, PELLITON_READER_STATUS_OTHER},
      {"length field 595", ReplyReports(0, Pattern(10), 0, 595), 594, Step::kFailed, 1,
       PELLITON_READER_TOO_LARGE},
      {"length field 65535", ReplyReports(0, Pattern(10), 0, 0xFFFF), 594, Step::kFailed, 1,
       PELLITON_READER_TOO_LARGE},
      {"above capacity", ReplyReports(0, Pattern(281)), 280, Step::kFailed, 1,
       PELLITON_READER_TOO_LARGE},
      {"at capacity", ReplyReports(0, Pattern(280)), 280, Step::kDone, 5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const GatherOutcome outcome = Gather(c.reports, c.capacity);
    EXPECT_EQ(outcome.step, c.step);
    EXPECT_EQ(outcome.reports_used, c.reports_used);
    EXPECT_EQ(outcome.error, c.error);
  }
}

TEST(ReplyGatherer, PayloadAndIgnoredHeaderBytes) {
  auto reports = ReplyReports(0, Pattern(200, 9));
  // First and second bytes are not compared with anything.
  reports[0][1] = 0x77;
  reports[0][2] ^= 0x10;
  auto& last = reports.back();
  // Re-sign: the second byte is covered by the checksum.
  const size_t last_pos = (200 + 6 - 1) % 63 + 1;
  last[last_pos] ^= 0x10;
  const GatherOutcome outcome = Gather(reports, 594);
  ASSERT_EQ(outcome.step, ReplyGatherer::Step::kDone);
  EXPECT_EQ(outcome.payload, Pattern(200, 9));
}

TEST(ReplyGatherer, ShortReadsGatherOnlyWhatArrived) {
  // The same frame delivered with 11 frame bytes per read.
  const auto full = ReplyReports(0, Pattern(70));
  std::vector<uint8_t> frame;
  for (const auto& r : full) {
    frame.insert(frame.end(), r.begin() + 1, r.end());
  }
  frame.resize(76);
  ReplyGatherer gatherer(594);
  ReplyGatherer::Step step = ReplyGatherer::Step::kNeedMore;
  for (size_t pos = 0; pos < frame.size() && step == ReplyGatherer::Step::kNeedMore; pos += 11) {
    uint8_t report[64] = {0x04};
    const size_t n = std::min<size_t>(11, frame.size() - pos);
    std::copy(frame.begin() + static_cast<long>(pos), frame.begin() + static_cast<long>(pos + n),
              report + 1);
    step = gatherer.Feed(report, n + 1);
  }
  ASSERT_EQ(step, ReplyGatherer::Step::kDone);
  EXPECT_EQ(std::vector<uint8_t>(gatherer.payload(), gatherer.payload() + 70), Pattern(70));
  uint8_t more[64] = {};
  EXPECT_EQ(gatherer.Feed(more, 64), ReplyGatherer::Step::kFailed);
}

}  // namespace
}  // namespace pelliton::reader
