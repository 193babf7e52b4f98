// The reader operations against the simulated reader: what each sends, how it treats
// the reply, its pauses, and every refusal.
#include <cerrno>

#include "reader_test_support.h"

namespace pelliton::reader::test {
namespace {

using CommandTest = ReaderFixture;

TEST_F(CommandTest, ResetValidatesTheAnswerToReset) {
  struct Case {
    std::vector<uint8_t> atr;
    int32_t result;
  };
  std::vector<uint8_t> atr33 = Pattern(33);
  atr33[0] = 0x3F;
  std::vector<uint8_t> atr34 = Pattern(34);
  atr34[0] = 0x3B;
  const Case cases[] = {
      {Bytes({0x3B}), PELLITON_READER_BAD_ATR},
      {Bytes({0x3B, 0x00}), 0},
      {atr33, 0},
      {atr34, PELLITON_READER_BAD_ATR},
      {Bytes({0x3C, 0x00}), PELLITON_READER_BAD_ATR},
      {{}, PELLITON_READER_BAD_ATR},
      {Bytes({0x3F, 0x11, 0x22}), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.atr.size());
    reader_.SetReply(0x62, c.atr);
    Guarded<100> atr;
    int32_t length = kUntouchedLength;
    EXPECT_EQ(DllReset7816Card(handle_, 0, atr.data(), &length), c.result);
    EXPECT_TRUE(atr.GuardsIntact());
    if (c.result == 0) {
      EXPECT_EQ(length, static_cast<int32_t>(c.atr.size()));
      EXPECT_EQ(atr.Take(c.atr.size()), c.atr);
    } else {
      EXPECT_EQ(length, kUntouchedLength);
      EXPECT_TRUE(atr.Untouched());
    }
    EXPECT_EQ(LastRequest().command, 0x62);
    EXPECT_EQ(LastRequest().payload, Bytes({0x01}));
  }
}

TEST_F(CommandTest, ResetReachesTheCardOnTheCallersSlot) {
  uint8_t atr[100];
  int32_t length = 0;
  ASSERT_EQ(DllReset7816Card(handle_, 0x102, atr, &length), 0);
  EXPECT_EQ(std::vector<uint8_t>(atr, atr + length), card_.atr);
  EXPECT_EQ(LastRequest().slot, 0x02);

  card_.present = false;
  EXPECT_EQ(DllReset7816Card(handle_, 0, atr, &length), PELLITON_READER_STATUS_FE);
  reader_.InjectStatus(0xFE);
  EXPECT_EQ(Dll7816CardPowerdown(handle_, 3), PELLITON_READER_STATUS_FE);
  EXPECT_EQ(LastRequest().command, 0x63);
  EXPECT_EQ(LastRequest().slot, 3);
  EXPECT_TRUE(LastRequest().payload.empty());
}

TEST_F(CommandTest, ApduFrameAndResponse) {
  uint8_t atr[100];
  int32_t atr_length = 0;
  ASSERT_EQ(DllReset7816Card(handle_, 0, atr, &atr_length), 0);
  reader_.ClearRecords();
  card_.response = Bytes({0x11, 0x22, 0x33, 0x44, 0x90, 0x00});

  const auto apdu = Bytes({0x00, 0x84, 0x00, 0x00, 0x04});
  Guarded<594> response;
  int32_t length = 200;  // output only
  ASSERT_EQ(Dll7816CardAPDU(handle_, 0, apdu.data(), 5, response.data(), &length), 0);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(response.Take(6), card_.response);
  EXPECT_TRUE(response.GuardsIntact());
  ASSERT_EQ(reader_.OutputReports().size(), 1u);
  const auto& report = reader_.OutputReports()[0];
  std::vector<uint8_t> expected =
      Bytes({0x03, 0x00, 0x6F, 0x05, 0x00, 0x00, 0x84, 0x00, 0x00, 0x04, 0xEA});
  expected.resize(64, 0x00);
  EXPECT_EQ(std::vector<uint8_t>(report.begin(), report.end()), expected);
  EXPECT_EQ(card_.apdus.back(), apdu);

  reader_.InjectStatus(0xFE);
  length = kUntouchedLength;
  EXPECT_EQ(Dll7816CardAPDU(handle_, 0, apdu.data(), 5, response.data(), &length),
            PELLITON_READER_STATUS_FE);
  EXPECT_EQ(length, kUntouchedLength);
}

TEST_F(CommandTest, BoundedApduRefusesWhatDoesNotFit) {
  struct Case {
    size_t reply;
    uint32_t capacity;
    int32_t result;
  };
  const Case cases[] = {{300, 300, 0},
                        {301, 300, PELLITON_READER_TOO_LARGE},
                        {594, 300, PELLITON_READER_TOO_LARGE},
                        {0, 0, 0},
                        {1, 0, PELLITON_READER_TOO_LARGE}};
  const auto apdu = Bytes({0x00, 0xB0, 0x00, 0x00, 0x00});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    reader_.SetReply(0x6F, Pattern(c.reply));
    Guarded<300> response;
    int32_t length = kUntouchedLength;
    EXPECT_EQ(CardApduBounded(handle_, 0, apdu.data(), 5, response.data(), &length, c.capacity),
              c.result);
    EXPECT_TRUE(response.GuardsIntact());
    if (c.result != 0) {
      EXPECT_TRUE(response.Untouched());
      EXPECT_EQ(length, kUntouchedLength);
    } else {
      EXPECT_EQ(length, static_cast<int32_t>(c.reply));
    }
  }
}

TEST_F(CommandTest, CardStateBits) {
  struct Case {
    std::vector<uint8_t> payload;
    int32_t result;
    uint8_t state;
  };
  const Case cases[] = {
      {Bytes({0x00}), 0, 1},
      {Bytes({0x04}), 0, 1},
      {Bytes({0x01}), 0, 0},
      {Bytes({0x02}), 0, 0},
      {Bytes({0x03}), 0, 0},
      {Bytes({0xFC, 0x03}), 0, 1},
      {{}, PELLITON_READER_MALFORMED_REPLY, 0x77},
  };
  for (const Case& c : cases) {
    reader_.SetReply(0x65, c.payload);
    uint8_t state = 0x77;
    EXPECT_EQ(DllGet7816CardState(handle_, 5, &state), c.result);
    EXPECT_EQ(state, c.state);
    EXPECT_EQ(LastRequest().command, 0x65);
    EXPECT_EQ(LastRequest().slot, 5);
  }
  // The simulator's own answer follows the card.
  reader_.ClearReply(0x65);
  uint8_t state = 0x77;
  card_.present = false;
  ASSERT_EQ(DllGet7816CardState(handle_, 0, &state), 0);
  EXPECT_EQ(state, 0);
}

TEST_F(CommandTest, FirmwareVersionSplit) {
  struct Case {
    std::vector<uint8_t> payload;
    int32_t result;
    std::string text;
    uint32_t number;
  };
  const Case cases[] = {
      {Bytes({0x09, 0x00, 'V', '1', '.', '0', '2', 0x34, 0x12}), 0, "V1.02", 0x1234},
      {Bytes({0x04, 0x00, 0xCD, 0xAB}), 0, "", 0xABCD},
      // L inside a longer payload: the number sits at L - 2.
      {Bytes({0x05, 0x00, 'X', 0x01, 0x02, 0xEE, 0xEE}), 0, "X", 0x0201},
      {Bytes({0x03, 0x00, 0x00, 0x00}), PELLITON_READER_MALFORMED_REPLY, "", 0},
      {Bytes({0x0A, 0x00, 'V', '1', '.', '0', '2', 0x34, 0x12}), PELLITON_READER_MALFORMED_REPLY,
       "", 0},
      {Bytes({0x09}), PELLITON_READER_MALFORMED_REPLY, "", 0},
      {{}, PELLITON_READER_MALFORMED_REPLY, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload.size());
    reader_.SetReply(0x89, c.payload);
    Guarded<280> text;
    uint32_t length = 0xDEAD;
    uint32_t number = 0xBEEF;
    EXPECT_EQ(DllGetFirmwareVersion(handle_, text.chars(), &length, &number), c.result);
    EXPECT_TRUE(text.GuardsIntact());
    if (c.result == 0) {
      EXPECT_EQ(length, c.text.size());
      EXPECT_EQ(std::string(text.chars(), length), c.text);
      EXPECT_EQ(number, c.number);
    } else {
      EXPECT_TRUE(text.Untouched());
      EXPECT_EQ(length, 0xDEADu);
      EXPECT_EQ(number, 0xBEEFu);
    }
  }
  reader_.ClearReply(0x89);
  char text[280];
  uint32_t length = 0;
  uint32_t number = 0;
  ASSERT_EQ(DllGetFirmwareVersion(handle_, text, &length, &number), 0);
  EXPECT_EQ(std::string(text, length), sim::SimulatedOrvoReader::kFirmwareText);
  EXPECT_EQ(number, sim::SimulatedOrvoReader::kFirmwareNumber);
}

TEST_F(CommandTest, ReaderLevelCommandsSendTheirPayloadOnSlotZero) {
  const auto block = Pattern(300);
  const auto data = Bytes({0xAA, 0xBB, 0xCC});
  struct Case {
    const char* name;
    int32_t (*call)(int32_t, const std::vector<uint8_t>&, const std::vector<uint8_t>&);
    uint8_t command;
    std::vector<uint8_t> payload;
    std::vector<uint32_t> pauses;
  };
  const Case cases[] = {
      {"led",
       [](int32_t h, const auto&, const auto&) { return DllLedControl(h, 0x21); },
       0x78,
       Bytes({0x21}),
       {}},
      {"speaker",
       [](int32_t h, const auto&, const auto&) { return DllSpeakerControl(h, 0x02); },
       0x79,
       Bytes({0x02}),
       {}},
      {"erase",
       [](int32_t h, const auto&, const auto&) { return DllEraseOfflineData(h); },
       0x7C,
       {},
       {}},
      {"write offline",
       [](int32_t h, const auto&, const auto& d) {
         return DllWriteOfflineData(h, 0x05, d.data(), static_cast<uint8_t>(d.size()));
       },
       0x7D,
       Bytes({0x05, 0x03, 0xAA, 0xBB, 0xCC}),
       {}},
      {"set name",
       [](int32_t h, const auto&, const auto&) { return DllSetOfflineFileName(h, "", 0); },
       0x7B,
       {},
       {}},
      {"firmware start",
       [](int32_t h, const auto& b, const auto&) {
         return DllDownloadFirmwareStart(h, b.data(), static_cast<int32_t>(b.size()));
       },
       0x8A,
       block,
       {800}},
      {"firmware first",
       [](int32_t h, const auto& b, const auto&) {
         return DllDownloadFirmwareFirst(h, b.data(), static_cast<int32_t>(b.size()));
       },
       0x8B,
       block,
       {800}},
      {"firmware block",
       [](int32_t h, const auto& b, const auto&) {
         return DllDownloadFirmware(h, b.data(), static_cast<int32_t>(b.size()));
       },
       0x8C,
       block,
       {}},
      {"firmware complete",
       [](int32_t h, const auto& b, const auto&) {
         return DllDownloadFirmwareComplete(h, b.data(), 264);
       },
       0x8D,
       std::vector<uint8_t>(block.begin(), block.begin() + 264),
       {800}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reader_.ClearRecords();
    pauses_.clear();
    EXPECT_EQ(c.call(handle_, block, data), 0);
    ASSERT_EQ(reader_.Requests().size(), 1u);
    EXPECT_EQ(LastRequest().slot, 0);
    EXPECT_EQ(LastRequest().command, c.command);
    EXPECT_EQ(LastRequest().payload, c.payload);
    EXPECT_EQ(pauses_, c.pauses);

    // A failing exchange returns at once: no pause.
    pauses_.clear();
    reader_.InjectStatus(0x09);
    EXPECT_EQ(c.call(handle_, block, data), PELLITON_READER_STATUS_09);
    EXPECT_TRUE(pauses_.empty());
    reader_.FailWriteAtReport(1, EPIPE);
    EXPECT_EQ(c.call(handle_, block, data), EPIPE);
    EXPECT_TRUE(pauses_.empty());
  }
}

TEST_F(CommandTest, OfflineStoreRoundTrip) {
  const std::string name = "counter-batch-07.bin";
  ASSERT_EQ(DllSetOfflineFileName(handle_, name.data(), static_cast<uint32_t>(name.size())), 0);
  EXPECT_EQ(reader_.OfflineName(), name);
  Guarded<280> buffer;
  uint32_t length = 0;
  ASSERT_EQ(DllGetOfflineFileName(handle_, buffer.chars(), &length), 0);
  EXPECT_EQ(std::string(buffer.chars(), length), name);
  EXPECT_EQ(buffer.data()[length], Guarded<280>::kFill);  // no terminating zero added

  const auto data = Pattern(255);
  ASSERT_EQ(DllWriteOfflineData(handle_, 7, data.data(), 255), 0);
  ASSERT_EQ(reader_.OfflineRecords().size(), 1u);
  EXPECT_EQ(reader_.OfflineRecords()[0].value, 7);
  EXPECT_EQ(reader_.OfflineRecords()[0].data, data);
  ASSERT_EQ(DllEraseOfflineData(handle_), 0);
  EXPECT_TRUE(reader_.OfflineRecords().empty());

  const std::string longest(261, 'n');
  ASSERT_EQ(DllSetOfflineFileName(handle_, longest.data(), 261), 0);
  ASSERT_EQ(DllGetOfflineFileName(handle_, buffer.chars(), &length), 0);
  EXPECT_EQ(length, 261u);
}

TEST_F(CommandTest, RepliesLargerThanTheAreaAreRefused) {
  reader_.SetReply(0x7A, Pattern(281));
  Guarded<280> name;
  uint32_t length = 0xDEAD;
  EXPECT_EQ(DllGetOfflineFileName(handle_, name.chars(), &length), PELLITON_READER_TOO_LARGE);
  EXPECT_TRUE(name.Untouched());
  EXPECT_EQ(length, 0xDEADu);
  reader_.SetReply(0x7A, Pattern(280));
  EXPECT_EQ(DllGetOfflineFileName(handle_, name.chars(), &length), 0);
  EXPECT_EQ(length, 280u);
  EXPECT_TRUE(name.GuardsIntact());

  reader_.OverrideNextLengthField(400);
  EXPECT_EQ(DllLedControl(handle_, 1), PELLITON_READER_TOO_LARGE);
  reader_.SetReply(0x62, Pattern(281));
  uint8_t atr[100];
  int32_t atr_length = kUntouchedLength;
  EXPECT_EQ(DllReset7816Card(handle_, 0, atr, &atr_length), PELLITON_READER_TOO_LARGE);
  EXPECT_EQ(atr_length, kUntouchedLength);
}

TEST_F(CommandTest, CallerArgumentsAreRefusedWithoutSending) {
  const auto big = Pattern(600);
  uint8_t buffer[600];
  int32_t length = 0;
  uint32_t ulength = 0;
  uint8_t state = 0;
  struct Case {
    const char* name;
    int32_t result;
    int32_t expected;
  };
  const Case cases[] = {
      {"reset null atr", DllReset7816Card(handle_, 0, nullptr, &length),
       PELLITON_READER_NULL_ARGUMENT},
      {"reset null length", DllReset7816Card(handle_, 0, buffer, nullptr),
       PELLITON_READER_NULL_ARGUMENT},
      {"apdu null command", Dll7816CardAPDU(handle_, 0, nullptr, 5, buffer, &length),
       PELLITON_READER_NULL_ARGUMENT},
      {"apdu null response", Dll7816CardAPDU(handle_, 0, big.data(), 5, nullptr, &length),
       PELLITON_READER_NULL_ARGUMENT},
      {"apdu null length", Dll7816CardAPDU(handle_, 0, big.data(), 5, buffer, nullptr),
       PELLITON_READER_NULL_ARGUMENT},
      {"apdu 596 bytes", Dll7816CardAPDU(handle_, 0, big.data(), 596, buffer, &length),
       PELLITON_READER_TOO_LARGE},
      {"apdu negative", Dll7816CardAPDU(handle_, 0, big.data(), -5, buffer, &length),
       PELLITON_READER_TOO_LARGE},
      {"state null", DllGet7816CardState(handle_, 0, nullptr), PELLITON_READER_NULL_ARGUMENT},
      {"version null text", DllGetFirmwareVersion(handle_, nullptr, &ulength, &ulength),
       PELLITON_READER_NULL_ARGUMENT},
      {"version null length",
       DllGetFirmwareVersion(handle_, reinterpret_cast<char*>(buffer), nullptr, &ulength),
       PELLITON_READER_NULL_ARGUMENT},
      {"version null number",
       DllGetFirmwareVersion(handle_, reinterpret_cast<char*>(buffer), &ulength, nullptr),
       PELLITON_READER_NULL_ARGUMENT},
      {"start 596", DllDownloadFirmwareStart(handle_, big.data(), 596), PELLITON_READER_TOO_LARGE},
      {"first negative", DllDownloadFirmwareFirst(handle_, big.data(), -1),
       PELLITON_READER_TOO_LARGE},
      {"block null", DllDownloadFirmware(handle_, nullptr, 10), PELLITON_READER_NULL_ARGUMENT},
      {"complete 265", DllDownloadFirmwareComplete(handle_, big.data(), 265),
       PELLITON_READER_TOO_LARGE},
      {"get name null", DllGetOfflineFileName(handle_, nullptr, &ulength),
       PELLITON_READER_NULL_ARGUMENT},
      {"get name null length",
       DllGetOfflineFileName(handle_, reinterpret_cast<char*>(buffer), nullptr),
       PELLITON_READER_NULL_ARGUMENT},
      {"set name 262",
       DllSetOfflineFileName(handle_, reinterpret_cast<const char*>(big.data()), 262),
       PELLITON_READER_TOO_LARGE},
      {"set name null", DllSetOfflineFileName(handle_, nullptr, 3), PELLITON_READER_NULL_ARGUMENT},
      {"write null", DllWriteOfflineData(handle_, 1, nullptr, 3), PELLITON_READER_NULL_ARGUMENT},
      {"unknown handle", DllLedControl(handle_ + 77, 1), EBADF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, c.expected) << c.name;
  }
  EXPECT_TRUE(reader_.OutputReports().empty());
  EXPECT_EQ(state, 0);
  // Null data with length 0 is an empty block, not an error.
  EXPECT_EQ(DllDownloadFirmware(handle_, nullptr, 0), 0);
  EXPECT_EQ(DllWriteOfflineData(handle_, 1, nullptr, 0), 0);
}

class OpenTest : public ::testing::Test {
 protected:
  void SetUp() override { reader_.Install(); }
  void TearDown() override {
    for (int32_t h : handles_) {
      DllCloseReader(h);
    }
    reader_.Uninstall();
  }
  int32_t Open() {
    const int32_t h = DllOpenReader();
    if (h > 0) {
      handles_.push_back(h);
    }
    return h;
  }
  sim::SimulatedOrvoReader reader_;
  std::vector<int32_t> handles_;
};

TEST_F(OpenTest, ChoosesTheFirstOpenableMatchingDevice) {
  using Info = HidDeviceInfo;
  struct Case {
    const char* name;
    std::vector<std::pair<Info, bool>> before;  // inserted ahead of the reader
    bool reader_openable;
    std::string opened;  // empty: PELLITON_READER_NOT_FOUND
  };
  const std::string reader = sim::SimulatedOrvoReader::kReaderPath;
  const Case cases[] = {
      {"alone", {}, true, reader},
      {"others ahead",
       {{{"kbd", 0x046D, 0xC31C, 0x0110}, true},
        {{"v206", 0x0755, 0x0001, 0x0206}, true},
        {{"wrong product", 0x0755, 0x0002, 0x0205}, true},
        {{"wrong vendor", 0x0756, 0x0001, 0x0205}, true}},
       true,
       reader},
      {"two matching", {{{"first", 0x0755, 0x0001, 0x0205}, true}}, true, "first"},
      {"first cannot open", {{{"busy", 0x0755, 0x0001, 0x0205}, false}}, true, reader},
      {"none openable", {{{"busy", 0x0755, 0x0001, 0x0205}, false}}, false, ""},
      {"only wrong version", {{{"v206", 0x0755, 0x0001, 0x0206}, true}}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimulatedOrvoReader sim;
    sim.Install();
    for (size_t i = 0; i < c.before.size(); ++i) {
      sim.InsertDevice(i, c.before[i].first, c.before[i].second);
    }
    sim.SetReaderOpenable(c.reader_openable);
    const int32_t h = DllOpenReader();
    if (c.opened.empty()) {
      EXPECT_EQ(h, PELLITON_READER_NOT_FOUND);
      EXPECT_TRUE(sim.OpenedPaths().empty());
    } else {
      ASSERT_GT(h, 0);
      EXPECT_EQ(sim.OpenedPaths(), std::vector<std::string>{c.opened});
      EXPECT_EQ(DllCloseReader(h), 0);
    }
  }
}

TEST_F(OpenTest, HandlesArePositiveUniqueAndNotReused) {
  const int32_t a = Open();
  const int32_t b = Open();
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(DllCloseReader(a), 0);
  EXPECT_EQ(DllCloseReader(a), PELLITON_READER_CLOSE_FAILED);
  EXPECT_EQ(DllLedControl(a, 1), EBADF);  // a stale handle is recognised
  const int32_t c = Open();
  EXPECT_NE(c, a);
  EXPECT_EQ(DllLedControl(b, 1), 0);
  EXPECT_EQ(DllCloseReader(0), PELLITON_READER_CLOSE_FAILED);
  EXPECT_EQ(DllCloseReader(PELLITON_READER_NOT_FOUND), PELLITON_READER_CLOSE_FAILED);
  EXPECT_EQ(DllCloseReader(123456789), PELLITON_READER_CLOSE_FAILED);
}

TEST_F(OpenTest, TableFullGivesNotFound) {
  const size_t before = OpenReaderCount();
  while (OpenReaderCount() < kMaxOpenReaders) {
    ASSERT_GT(Open(), 0);
  }
  EXPECT_EQ(DllOpenReader(), PELLITON_READER_NOT_FOUND);
  EXPECT_EQ(OpenReaderCount(), kMaxOpenReaders);
  ASSERT_GE(handles_.size(), kMaxOpenReaders - before);
}

}  // namespace
}  // namespace pelliton::reader::test
