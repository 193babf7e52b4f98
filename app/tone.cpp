#include "app/tone.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

namespace pelliton {

namespace {

constexpr double kAmplitude = 0.5 * 32767.0;
constexpr uint32_t kRampMs = 2;
constexpr uint32_t kPreferredRate = 48000;

using Clock = std::chrono::steady_clock;

void WaitUntil(Clock::time_point end) {
  const auto now = Clock::now();
  if (now < end)
    std::this_thread::sleep_for(end - now);
}

}  // namespace

std::vector<int16_t> GenerateTone(uint32_t frequency_hz, uint32_t duration_ms,
                                  uint32_t sample_rate) {
  if (sample_rate == 0 || sample_rate > kMaxToneSampleRate)
    return {};
  duration_ms = std::min(duration_ms, kMaxToneMs);
  const size_t count = static_cast<size_t>(uint64_t{sample_rate} * duration_ms / 1000);
  std::vector<int16_t> samples(count, 0);
  if (frequency_hz == 0 || uint64_t{frequency_hz} * 2 >= sample_rate)
    return samples;

  const size_t ramp =
      std::max<size_t>(1, std::min<size_t>(count / 2, uint64_t{sample_rate} * kRampMs / 1000));
  const double step = 2.0 * std::numbers::pi * frequency_hz / sample_rate;
  for (size_t i = 0; i < count; ++i) {
    double gain = 1.0;
    const size_t from_end = count - 1 - i;
    if (i < ramp)
      gain = static_cast<double>(i) / ramp;
    else if (from_end < ramp)
      gain = static_cast<double>(from_end) / ramp;
    // The phase is taken modulo one period so long tones keep their precision.
    const double phase = std::fmod(step * static_cast<double>(i), 2.0 * std::numbers::pi);
    samples[i] = static_cast<int16_t>(std::lround(kAmplitude * gain * std::sin(phase)));
  }
  return samples;
}

bool PlayTone(uint32_t frequency_hz, uint32_t duration_ms) {
  duration_ms = std::min(duration_ms, kMaxToneMs);
  const auto start = Clock::now();
  const auto end = start + std::chrono::milliseconds(duration_ms);

  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) {
    WaitUntil(end);
    return false;
  }
  QAudioFormat format;
  format.setChannelCount(1);
  format.setSampleFormat(QAudioFormat::Int16);
  format.setSampleRate(kPreferredRate);
  if (!device.isFormatSupported(format)) {
    format.setSampleRate(device.preferredFormat().sampleRate());
    if (format.sampleRate() <= 0 || !device.isFormatSupported(format)) {
      WaitUntil(end);
      return false;
    }
  }
  const std::vector<int16_t> samples =
      GenerateTone(frequency_hz, duration_ms, static_cast<uint32_t>(format.sampleRate()));

  QAudioSink sink(device, format);
  QIODevice* output = sink.start();
  if (output == nullptr || sink.error() != QAudio::NoError) {
    WaitUntil(end);
    return false;
  }
  // Push mode writes straight to the device; feed it as it frees room, but never wait
  // much past the tone's own length for a device that stops taking data.
  const char* data = reinterpret_cast<const char*>(samples.data());
  const qint64 total = static_cast<qint64>(samples.size() * sizeof(int16_t));
  qint64 written = 0;
  const auto give_up = end + std::chrono::milliseconds(500);
  while (written < total && Clock::now() < give_up) {
    const qint64 room = std::min<qint64>(sink.bytesFree(), total - written);
    const qint64 n = room > 0 ? output->write(data + written, room) : 0;
    if (n < 0)
      break;
    written += n;
    if (n == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  WaitUntil(end);
  sink.stop();
  return true;
}

}  // namespace pelliton
