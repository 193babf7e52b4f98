// The PC/SC result codes as people read them: their names and how a message quotes
// one. Every program and trace that names a PC/SC code takes it from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelliton {

// The name of a PC/SC result ("SCARD_W_REMOVED_CARD"); only its low 32 bits count, so
// pcsc-lite's 64-bit LONG and a 32-bit code read the same. Empty for a code without one.
std::string_view PcscCodeName(int64_t code);

// A PC/SC result as messages quote it: "PC/SC SCARD_E_NO_SERVICE 0x8010001D", or
// "PC/SC 0x801000FF" for a code without a name.
std::string PcscCodeText(int64_t code);

}  // namespace pelliton
