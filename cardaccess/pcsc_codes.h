// The PC/SC result codes as people read them: their names, how a message quotes one,
// and which of them say that the PC/SC service itself is not there. Every program and
// trace that names a PC/SC code takes it from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelliton {

// How messages call the PC/SC service: "pcscd", or Windows' "Smart Card" service.
extern const char* const kPcscServiceName;

// The name of a PC/SC result ("SCARD_W_REMOVED_CARD"); only its low 32 bits count, so
// pcsc-lite's 64-bit LONG and a 32-bit code read the same. Empty for a code without one.
std::string_view PcscCodeName(int64_t code);

// A PC/SC result as messages quote it: "PC/SC SCARD_E_NO_SERVICE 0x8010001D", or
// "PC/SC 0x801000FF" for a code without a name.
std::string PcscCodeText(int64_t code);

// Whether a PC/SC result says the service is not there to answer. Windows adds
// SCARD_F_INTERNAL_ERROR, which is all a context can get where no service is reachable.
bool PcscServiceDown(int64_t code);

// "the PC/SC service (pcscd) is not running": why no reader is listed when the service
// is down.
std::string PcscServiceDownMessage();
// "the PC/SC service (pcscd) stopped": what a run or a reader met when it went away.
std::string PcscServiceStoppedMessage();

}  // namespace pelliton
