// How the counter box's text becomes the counter the download writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelliton {

inline constexpr uint32_t kCounterMin = 1;
inline constexpr uint32_t kCounterMax = 5000;
inline constexpr uint32_t kCounterAtStart = 500;

// Shown, exactly as stored, when the counter text is not a whole number.
inline constexpr const char* kCounterNotANumberMessage = "“请填入一个正整数。”";

enum class CounterParse { kOk, kNotANumber, kOutOfRange };

// Reads the counter box's text. On kOk and kOutOfRange *value takes the number read
// (a number too large for 32 bits reads as 4294967295); on kNotANumber it is untouched.
CounterParse ParseCounterText(std::string_view text, uint32_t* value);

// The same rule for a counter typed where no counter box answers back (a command line,
// a setting), narrowed to digits with an optional leading '+', at most 10 characters:
// there blanks, letters and 30 digits are typing errors, so they read as kNotANumber.
// Whatever passes reads exactly as ParseCounterText reads it.
CounterParse ParseTypedCounterText(std::string_view text, uint32_t* value);

// "“请填入一个在1和5000之间的整数。”"
std::string CounterRangeMessage();

// The message the counter box's owner shows for a failed parse; empty for kOk.
std::string CounterFailureMessage(CounterParse result);

}  // namespace pelliton
