// Tones of the procedures: a sine tone of a given frequency and duration, played through
// the default audio output and blocking for its duration like the platform's beep.
#pragma once

#include <cstdint>
#include <vector>

namespace pelliton {

// Longest tone played or generated; longer requests are cut to it.
inline constexpr uint32_t kMaxToneMs = 10000;
// Highest sample rate GenerateTone accepts.
inline constexpr uint32_t kMaxToneSampleRate = 192000;

// Mono 16-bit samples of a sine tone: sample_rate * duration_ms / 1000 of them, with short
// ramps at both ends so the tone starts and stops without a click. A frequency of 0 or at
// or above half the sample rate gives silence of the same length; a sample rate of 0 or
// above kMaxToneSampleRate gives no samples.
std::vector<int16_t> GenerateTone(uint32_t frequency_hz, uint32_t duration_ms,
                                  uint32_t sample_rate);

// Plays the tone and returns after about its duration. Where no audio output exists, or it
// refuses the format, it stays silent but still waits out the duration, so a procedure's
// pacing is the same with or without sound; returns false then.
bool PlayTone(uint32_t frequency_hz, uint32_t duration_ms);

}  // namespace pelliton
