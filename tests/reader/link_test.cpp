// SKSendData / SKRevData against the simulated reader: the reports on the wire, every
// failure of a reply and of the device, the time bound and the stale-report discard.
#include <cerrno>
#include <chrono>

#include "reader_test_support.h"

namespace pelliton::reader::test {
namespace {

using LinkTest = ReaderFixture;

std::vector<uint8_t> Report(std::vector<uint8_t> head) {
  head.resize(kHidReportSize, 0x00);
  return head;
}

TEST_F(LinkTest, RequestReportsByteForByte) {
  struct Case {
    int32_t slot;
    uint8_t command;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> first_report;
  };
  const Case cases[] = {
      {0, 0x63, {}, Report(Bytes({0x03, 0x00, 0x63, 0x00, 0x00, 0x63}))},
      {0, 0x62, {0x01}, Report(Bytes({0x03, 0x00, 0x62, 0x01, 0x00, 0x01, 0x62}))},
      {0x1FF, 0x63, {}, Report(Bytes({0x03, 0xFF, 0x63, 0x00, 0x00, 0x63}))},
  };
  for (const Case& c : cases) {
    reader_.ClearRecords();
    ASSERT_EQ(SKSendData(handle_, c.slot, c.command, c.payload.data(),
                         static_cast<int32_t>(c.payload.size())),
              1);
    ASSERT_EQ(reader_.OutputReports().size(), 1u);
    const auto& sent = reader_.OutputReports()[0];
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.end()), c.first_report);
  }
}

TEST_F(LinkTest, RequestSizesOnTheWire) {
  struct Case {
    size_t payload;
    size_t reports;
  };
  for (const Case& c : {Case{58, 1}, Case{59, 2}, Case{0x0123, 5}, Case{595, 10}}) {
    SCOPED_TRACE(c.payload);
    reader_.ClearRecords();
    const std::vector<uint8_t> payload = Pattern(c.payload);
    ASSERT_EQ(SKSendData(handle_, 0, 0x8C, payload.data(), static_cast<int32_t>(c.payload)), 1);
    ASSERT_EQ(reader_.OutputReports().size(), c.reports);
    EXPECT_EQ(reader_.OutputReports()[0][3], c.payload & 0xFF);
    EXPECT_EQ(reader_.OutputReports()[0][4], c.payload >> 8);
    ASSERT_EQ(reader_.Requests().size(), 1u);
    EXPECT_EQ(LastRequest().payload, payload);
  }
  // 59 bytes: the second report carries the checksum and 62 zero bytes.
  reader_.ClearRecords();
  const std::vector<uint8_t> payload = Pattern(59);
  ASSERT_EQ(SKSendData(handle_, 0, 0x8C, payload.data(), 59), 1);
  const auto& second = reader_.OutputReports()[1];
  EXPECT_EQ(second[0], 0x03);
  for (size_t i = 2; i < kHidReportSize; ++i) {
    EXPECT_EQ(second[i], 0x00);
  }
}

TEST_F(LinkTest, EmptyReplyIsAccepted) {
  Guarded<594> buffer;
  int32_t length = kUntouchedLength;
  ASSERT_EQ(SKSendData(handle_, 0, 0x63, nullptr, 0), 1);
  ASSERT_EQ(SKRevData(handle_, 0, 0x63, buffer.data(), &length), 1);
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(buffer.Untouched());
  EXPECT_EQ(SKLastError(), 0);
}

TEST_F(LinkTest, ReplyPayloadSizes) {
  for (size_t n : {size_t{57}, size_t{58}, size_t{594}}) {
    SCOPED_TRACE(n);
    reader_.SetReply(0x7A, Pattern(n, 3));
    reader_.ClearRecords();
    Guarded<594> buffer;
    int32_t length = kUntouchedLength;
    ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
    ASSERT_EQ(SKRevData(handle_, 0, 0x7A, buffer.data(), &length), 1);
    EXPECT_EQ(length, static_cast<int32_t>(n));
    EXPECT_EQ(buffer.Take(n), Pattern(n, 3));
    EXPECT_TRUE(buffer.GuardsIntact());
    EXPECT_EQ(reader_.ReadCount(), (n + 6 + 62) / 63);
  }
}

TEST_F(LinkTest, EveryStatusClassReadsOneReportAndCopiesNothing) {
  struct Case {
    uint8_t status;
    int32_t code;
  };
  const Case cases[] = {{0x01, PELLITON_READER_BAD_CHECKSUM}, {0x02, PELLITON_READER_STATUS_OTHER},
                        {0x03, PELLITON_READER_STATUS_03},    {0x04, PELLITON_READER_STATUS_04},
                        {0x05, PELLITON_READER_STATUS_05_06}, {0x06, PELLITON_READER_STATUS_05_06},
                        {0x07, PELLITON_READER_STATUS_OTHER}, {0x08, PELLITON_READER_STATUS_08},
                        {0x09, PELLITON_READER_STATUS_09},    {0x0A, PELLITON_READER_STATUS_0A},
                        {0x0B, PELLITON_READER_STATUS_0B},    {0x0C, PELLITON_READER_STATUS_0C},
                        {0x0D, PELLITON_READER_STATUS_OTHER}, {0xFD, PELLITON_READER_STATUS_OTHER},
                        {0xFE, PELLITON_READER_STATUS_FE},    {0xFF, PELLITON_READER_STATUS_OTHER}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.status));
    reader_.ClearRecords();
    reader_.InjectStatus(c.status, 150);  // three reports
    reader_.CorruptNextChecksum();        // the status is judged before the checksum
    Guarded<594> buffer;
    int32_t length = kUntouchedLength;
    ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
    EXPECT_EQ(SKRevData(handle_, 0, 0x7A, buffer.data(), &length), 0);
    EXPECT_EQ(SKLastError(), c.code);
    EXPECT_EQ(reader_.ReadCount(), 1u);
    EXPECT_TRUE(buffer.Untouched());
    EXPECT_EQ(length, kUntouchedLength);
  }
}

TEST_F(LinkTest, RefusedRepliesLeaveTheCallerUntouched) {
  struct Case {
    const char* name;
    void (*arm)(sim::SimulatedOrvoReader&);
    int32_t code;
  };
  const Case cases[] = {
      {"bad checksum", [](sim::SimulatedOrvoReader& r) { r.CorruptNextChecksum(); },
       PELLITON_READER_BAD_CHECKSUM},
      {"length field 595", [](sim::SimulatedOrvoReader& r) { r.OverrideNextLengthField(595); },
       PELLITON_READER_TOO_LARGE},
      {"length field 65535", [](sim::SimulatedOrvoReader& r) { r.OverrideNextLengthField(0xFFFF); },
       PELLITON_READER_TOO_LARGE},
      {"failed read", [](sim::SimulatedOrvoReader& r) { r.FailReadAtReport(2, EPROTO); }, EPROTO},
      {"failed read without a code", [](sim::SimulatedOrvoReader& r) { r.FailReadAtReport(1, 0); },
       EIO},
      {"silent", [](sim::SimulatedOrvoReader& r) { r.SilenceFromReport(1); }, ETIMEDOUT},
      {"falls silent mid-reply", [](sim::SimulatedOrvoReader& r) { r.SilenceFromReport(2); },
       ETIMEDOUT},
  };
  reader_.SetReply(0x7A, Pattern(100));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arm(reader_);
    Guarded<594> buffer;
    int32_t length = kUntouchedLength;
    ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
    EXPECT_EQ(SKRevData(handle_, 0, 0x7A, buffer.data(), &length), 0);
    EXPECT_EQ(SKLastError(), c.code);
    EXPECT_TRUE(buffer.Untouched());
    EXPECT_EQ(length, kUntouchedLength);
    // The next exchange is not disturbed by what this one left behind.
    buffer = Guarded<594>();
    ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
    ASSERT_EQ(SKRevData(handle_, 0, 0x7A, buffer.data(), &length), 1);
    EXPECT_EQ(buffer.Take(100), Pattern(100));
    EXPECT_EQ(SKLastError(), 0);
  }
}

// A signal handler running while the host waits for a report interrupts the wait
// (EINTR), not the reader: the reply is still read in full.
TEST_F(LinkTest, InterruptedWaitIsResumed) {
  reader_.SetReply(0x7A, Pattern(100));  // two reports
  for (size_t k : {size_t{1}, size_t{2}}) {
    SCOPED_TRACE(k);
    reader_.FailReadAtReport(k, EINTR);
    Guarded<594> buffer;
    int32_t length = kUntouchedLength;
    ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
    EXPECT_EQ(SKRevData(handle_, 0, 0x7A, buffer.data(), &length), 1);
    EXPECT_EQ(SKLastError(), 0);
    EXPECT_EQ(length, 100);
    EXPECT_EQ(buffer.Take(100), Pattern(100));
  }
}

TEST_F(LinkTest, ReplyHeaderBytesAreNotCompared) {
  // The reply echoes slot 0x42 and command 0x7A; we pass others and still accept it.
  Guarded<594> buffer;
  int32_t length = kUntouchedLength;
  ASSERT_EQ(SKSendData(handle_, 0x42, 0x7A, nullptr, 0), 1);
  EXPECT_EQ(SKRevData(handle_, 0x01, 0x10, buffer.data(), &length), 1);
  EXPECT_EQ(length, 0);
}

TEST_F(LinkTest, WriteFailureAtTheSecondOfThreeReports) {
  const std::vector<uint8_t> payload = Pattern(130);  // 135-byte frame: three reports
  reader_.FailWriteAtReport(2, EPIPE);
  EXPECT_EQ(SKSendData(handle_, 0, 0x8C, payload.data(), 130), 0);
  EXPECT_EQ(SKLastError(), EPIPE);
  EXPECT_EQ(reader_.OutputReports().size(), 1u);  // the third was never sent
  EXPECT_TRUE(reader_.Requests().empty());

  reader_.FailWriteAtReport(1, 0);
  EXPECT_EQ(SKSendData(handle_, 0, 0x8C, payload.data(), 130), 0);
  EXPECT_EQ(SKLastError(), EIO);  // never reported as success
}

TEST_F(LinkTest, SuccessResetsLastError) {
  reader_.FailWriteAtReport(1, EPIPE);
  EXPECT_EQ(SKSendData(handle_, 0, 0x63, nullptr, 0), 0);
  EXPECT_EQ(SKLastError(), EPIPE);
  reader_.CorruptNextChecksum();
  EXPECT_EQ(SKSendData(handle_, 0, 0x63, nullptr, 0), 1);
  EXPECT_EQ(SKLastError(), 0);
  uint8_t buffer[594];
  int32_t length = 0;
  EXPECT_EQ(SKRevData(handle_, 0, 0x63, buffer, &length), 0);
  EXPECT_EQ(SKLastError(), PELLITON_READER_BAD_CHECKSUM);
  EXPECT_EQ(SKSendData(handle_, 0, 0x63, nullptr, 0), 1);
  EXPECT_EQ(SKLastError(), 0);
  EXPECT_EQ(SKRevData(handle_, 0, 0x63, buffer, &length), 1);
  EXPECT_EQ(SKLastError(), 0);
}

TEST_F(LinkTest, CallerArgumentsAreRefusedBeforeAnythingIsSent) {
  const std::vector<uint8_t> payload = Pattern(600);
  struct Case {
    const char* name;
    int32_t handle;
    const uint8_t* payload;
    int32_t length;
    int32_t code;
  };
  const Case cases[] = {
      {"596 bytes", handle_, payload.data(), 596, PELLITON_READER_TOO_LARGE},
      {"negative length", handle_, payload.data(), -1, PELLITON_READER_TOO_LARGE},
      {"null payload", handle_, nullptr, 4, PELLITON_READER_NULL_ARGUMENT},
      {"unknown handle", handle_ + 1000, payload.data(), 4, EBADF},
      {"handle 0", 0, payload.data(), 4, EBADF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SKSendData(c.handle, 0, 0x8C, c.payload, c.length), 0);
    EXPECT_EQ(SKLastError(), c.code);
  }
  EXPECT_TRUE(reader_.OutputReports().empty());

  uint8_t buffer[594];
  int32_t length = kUntouchedLength;
  EXPECT_EQ(SKRevData(handle_, 0, 0x63, nullptr, &length), 0);
  EXPECT_EQ(SKLastError(), PELLITON_READER_NULL_ARGUMENT);
  EXPECT_EQ(SKRevData(handle_, 0, 0x63, buffer, nullptr), 0);
  EXPECT_EQ(SKLastError(), PELLITON_READER_NULL_ARGUMENT);
  EXPECT_EQ(SKRevData(-2, 0, 0x63, buffer, &length), 0);
  EXPECT_EQ(SKLastError(), EBADF);
  EXPECT_EQ(length, kUntouchedLength);
  EXPECT_EQ(reader_.ReadCount(), 0u);
}

TEST_F(LinkTest, SilentReaderFailsAfterTheDeadline) {
  reader_.SetReplyDeadline(std::chrono::milliseconds(60));
  reader_.SilenceFromReport(1);
  const auto start = std::chrono::steady_clock::now();
  uint8_t buffer[594];
  int32_t length = 0;
  ASSERT_EQ(SKSendData(handle_, 0, 0x63, nullptr, 0), 1);
  EXPECT_EQ(SKRevData(handle_, 0, 0x63, buffer, &length), 0);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(SKLastError(), ETIMEDOUT);
  EXPECT_GE(waited, std::chrono::milliseconds(60));
  EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST_F(LinkTest, DeadlineCoversTheWholeReply) {
  // Each report alone arrives well within the deadline; ten of them do not.
  reader_.SetReplyDeadline(std::chrono::milliseconds(50));
  reader_.SetReportDelay(std::chrono::milliseconds(15));
  reader_.SetReply(0x7A, Pattern(594));
  Guarded<594> buffer;
  int32_t length = kUntouchedLength;
  ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
  EXPECT_EQ(SKRevData(handle_, 0, 0x7A, buffer.data(), &length), 0);
  EXPECT_EQ(SKLastError(), ETIMEDOUT);
  EXPECT_LE(reader_.ReadCount(), 5u);
  EXPECT_TRUE(buffer.Untouched());
}

TEST_F(LinkTest, StaleReportsAreDiscardedBeforeTheNextRequest) {
  struct Case {
    const char* name;
    bool error_reply;
  };
  for (const Case& c : {Case{"stale extra report", false}, Case{"error reply tail", true}}) {
    SCOPED_TRACE(c.name);
    reader_.ClearRecords();
    reader_.SetReply(0x7A, Pattern(20));
    if (c.error_reply) {
      reader_.InjectStatus(0x05, 200);  // four reports, only the first is read
    } else {
      reader_.AddStaleReport();
    }
    uint8_t buffer[594];
    int32_t length = 0;
    ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
    EXPECT_EQ(SKRevData(handle_, 0, 0x7A, buffer, &length), c.error_reply ? 0 : 1);
    EXPECT_GT(reader_.PendingInputReports(), 0u);

    reader_.SetReply(0x7A, Pattern(30, 5));
    ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
    ASSERT_EQ(SKRevData(handle_, 0, 0x7A, buffer, &length), 1);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), Pattern(30, 5));
    EXPECT_EQ(reader_.DiscardedReports(), c.error_reply ? 3u : 1u);
  }
}

// A 10-report request and a 10-report reply, failing or falling silent at every
// report boundary: each ends in its code, and the handle keeps working.
TEST_F(LinkTest, FaultAtEveryReportBoundary) {
  const std::vector<uint8_t> request = Pattern(595);
  reader_.SetReply(0x7A, Pattern(594, 2));
  for (size_t k = 1; k <= 10; ++k) {
    SCOPED_TRACE(k);
    reader_.FailWriteAtReport(k, EPIPE);
    EXPECT_EQ(SKSendData(handle_, 0, 0x8C, request.data(), 595), 0);
    EXPECT_EQ(SKLastError(), EPIPE);

    for (int silent = 0; silent < 2; ++silent) {
      if (silent != 0) {
        reader_.SilenceFromReport(k);
      } else {
        reader_.FailReadAtReport(k, ENODEV);
      }
      Guarded<594> buffer;
      int32_t length = kUntouchedLength;
      ASSERT_EQ(SKSendData(handle_, 0, 0x7A, nullptr, 0), 1);
      EXPECT_EQ(SKRevData(handle_, 0, 0x7A, buffer.data(), &length), 0);
      EXPECT_EQ(SKLastError(), silent != 0 ? ETIMEDOUT : ENODEV);
      EXPECT_TRUE(buffer.Untouched());
      EXPECT_EQ(length, kUntouchedLength);
    }
    EXPECT_EQ(DllLedControl(handle_, 1), 0);
  }
}

TEST_F(LinkTest, UnpluggedReaderGivesTheOsCode) {
  reader_.Unplug();
  EXPECT_EQ(DllLedControl(handle_, 1), ENODEV);
  EXPECT_EQ(SKSendData(handle_, 0, 0x63, nullptr, 0), 0);
  EXPECT_EQ(SKLastError(), ENODEV);
  EXPECT_EQ(DllOpenReader(), PELLITON_READER_NOT_FOUND);
  reader_.Replug();
}

// A device whose reads succeed but bring at most the report ID: the documented EIO,
// not a spin until the deadline and not a reply made of the cleared buffer.
class EmptyReadDevice final : public HidDevice {
 public:
  explicit EmptyReadDevice(size_t bytes) : bytes_(bytes) {}
  int32_t WriteReport(const uint8_t*) override { return 0; }
  HidReadResult ReadReport(uint8_t*, std::chrono::milliseconds) override { return {0, bytes_}; }
  void DiscardPendingInput() override {}

 private:
  size_t bytes_;
};

class EmptyReadBackend final : public HidBackend {
 public:
  explicit EmptyReadBackend(size_t bytes) : bytes_(bytes) {}
  std::vector<HidDeviceInfo> Enumerate() override {
    return {{"empty", kReaderVendorId, kReaderProductId, kReaderVersion}};
  }
  std::unique_ptr<HidDevice> Open(const std::string&) override {
    return std::make_unique<EmptyReadDevice>(bytes_);
  }

 private:
  size_t bytes_;
};

TEST(LinkWithoutReader, ReadsWithoutAFrameByteGiveEio) {
  for (size_t bytes : {size_t{0}, size_t{1}}) {
    SCOPED_TRACE(bytes);
    EmptyReadBackend backend(bytes);
    SetHidBackend(&backend);
    const int32_t handle = DllOpenReader();
    ASSERT_GT(handle, 0);
    uint8_t buffer[594];
    int32_t length = kUntouchedLength;
    ASSERT_EQ(SKSendData(handle, 0, 0x63, nullptr, 0), 1);
    EXPECT_EQ(SKRevData(handle, 0, 0x63, buffer, &length), 0);
    EXPECT_EQ(SKLastError(), EIO);
    EXPECT_EQ(length, kUntouchedLength);
    EXPECT_EQ(DllCloseReader(handle), 0);
    SetHidBackend(nullptr);
  }
}

TEST(LinkWithoutReader, DestroyedSimulatorLeavesHandlesFailingCleanly) {
  int32_t handle = 0;
  {
    sim::SimulatedOrvoReader reader;
    reader.Install();
    handle = DllOpenReader();
    ASSERT_GT(handle, 0);
  }
  EXPECT_EQ(DllLedControl(handle, 1), ENODEV);
  EXPECT_EQ(DllCloseReader(handle), 0);
  EXPECT_EQ(DllCloseReader(handle), PELLITON_READER_CLOSE_FAILED);
}

}  // namespace
}  // namespace pelliton::reader::test
