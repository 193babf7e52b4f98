#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cardaccess/pcsc_api.h"

namespace pelliton {
namespace {

// pcsc-lite checks contexts and handles on the client side, so these need no service:
// every call with one it never handed out must fail, never crash and never succeed.
struct UnknownHandleCase {
  const char* name;
  std::function<LONG(SystemPcsc&)> call;
};

class SystemPcscTest : public ::testing::TestWithParam<UnknownHandleCase> {};

constexpr SCARDCONTEXT kBogusContext = 0x7A5A3C;
constexpr SCARDHANDLE kBogusCard = 0x6B4B2D;

TEST_P(SystemPcscTest, RefusesUnknownContextsAndHandles) {
  SystemPcsc pcsc;
  EXPECT_NE(GetParam().call(pcsc), SCARD_S_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SystemPcscTest,
    ::testing::Values(
        UnknownHandleCase{"ListReaders",
                          [](SystemPcsc& p) {
                            std::vector<std::string> names = {"left over"};
                            const LONG result = p.ListReaders(kBogusContext, &names);
                            EXPECT_TRUE(names.empty());
                            return result;
                          }},
        UnknownHandleCase{"ListReadersWithoutOutput",
                          [](SystemPcsc& p) { return p.ListReaders(kBogusContext, nullptr); }},
        UnknownHandleCase{"Connect",
                          [](SystemPcsc& p) {
                            SCARDHANDLE card = 0;
                            DWORD protocol = 0;
                            return p.Connect(kBogusContext, "Reader", SCARD_SHARE_SHARED,
                                             SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card,
                                             &protocol);
                          }},
        UnknownHandleCase{"Status",
                          [](SystemPcsc& p) {
                            uint8_t atr[100];
                            DWORD length = sizeof atr;
                            return p.Status(kBogusCard, atr, &length);
                          }},
        UnknownHandleCase{
            "Transmit",
            [](SystemPcsc& p) {
              const SCARD_IO_REQUEST header{SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
              const uint8_t command[] = {0x00, 0xC0, 0x00, 0x00, 0x2C};
              uint8_t response[300];
              DWORD length = sizeof response;
              return p.Transmit(kBogusCard, &header, command, sizeof command, response, &length);
            }},
        UnknownHandleCase{"BeginTransaction",
                          [](SystemPcsc& p) { return p.BeginTransaction(kBogusCard); }},
        UnknownHandleCase{
            "EndTransaction",
            [](SystemPcsc& p) { return p.EndTransaction(kBogusCard, SCARD_LEAVE_CARD); }},
        UnknownHandleCase{
            "Disconnect",
            [](SystemPcsc& p) { return p.Disconnect(kBogusCard, SCARD_UNPOWER_CARD); }},
        UnknownHandleCase{"ReleaseContext",
                          [](SystemPcsc& p) { return p.ReleaseContext(kBogusContext); }}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pelliton
