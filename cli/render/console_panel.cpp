#include "cli/render/console_panel.h"

#include <algorithm>

#include "cli/render/output.h"
#include "engine/bytes.h"

namespace pelliton::cli {

namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0 when there is none: no
// overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0)
      low = 0xA0;
    if (lead == 0xED)
      high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0)
      low = 0x90;
    if (lead == 0xF4)
      high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size())
    return 0;
  if (byte(i + 1) < low || byte(i + 1) > high)
    return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
      return 0;
  }
  return length;
}

void AppendEscaped(std::string& text, unsigned char byte) {
  text += "\\x" + HexText(&byte, 1, HexCase::kLower);
}

}  // namespace

std::string AsTerminalText(const std::string& window_text) {
  std::string text;
  text.reserve(window_text.size());
  for (size_t i = 0; i < window_text.size();) {
    const unsigned char c = static_cast<unsigned char>(window_text[i]);
    if (c == '\r' && i + 1 < window_text.size() && window_text[i + 1] == '\n') {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      // Valid UTF-8 passes, except the C1 controls (U+0080 to U+009F), which some
      // terminals obey; a byte outside any sequence is shown as its value.
      const size_t length = Utf8SequenceLength(window_text, i);
      if (length == 0 ||
          (length == 2 && c == 0xC2 && static_cast<unsigned char>(window_text[i + 1]) < 0xA0)) {
        const size_t shown = length == 0 ? 1 : 2;
        for (size_t k = 0; k < shown; ++k)
          AppendEscaped(text, static_cast<unsigned char>(window_text[i + k]));
        i += shown;
      } else {
        text.append(window_text, i, length);
        i += length;
      }
      continue;
    }
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
      AppendEscaped(text, c);
    } else {
      text += static_cast<char>(c);
    }
    ++i;
  }
  return text;
}

std::string ProgressBarText(int lower, int upper, int position, int width) {
  width = std::max(width, 1);
  int percent = 0;
  int filled = 0;
  if (upper > lower) {
    const long long span = static_cast<long long>(upper) - lower;
    const long long done = std::clamp<long long>(static_cast<long long>(position) - lower, 0, span);
    percent = static_cast<int>(done * 100 / span);
    filled = static_cast<int>(done * width / span);
  }
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '.');
  bar += "] ";
  const std::string number = std::to_string(percent);
  bar.append(3 - std::min<size_t>(3, number.size()), ' ');
  bar += number;
  bar += '%';
  return bar;
}

ConsolePanel::ConsolePanel(std::FILE* out, bool draw_progress)
    : out_(out), draw_progress_(draw_progress && out != nullptr) {
  RunPanel::SetWatcher(this);
}

ConsolePanel::~ConsolePanel() {
  ClearProgress();
}

void ConsolePanel::StartRun() {
  ClearProgress();
  RunPanel::StartRun();
}

void ConsolePanel::Shown(const std::string& text) {
  if (out_ == nullptr)
    return;
  ClearProgress();
  std::string line = AsTerminalText(text);
  if (line.empty() || line.back() != '\n')
    line += '\n';
  Emit(out_, line);
  if (draw_progress_ && !last_bar_.empty())
    DrawProgress();
}

void ConsolePanel::Progress(int lower, int upper, int position) {
  lower_ = lower;
  upper_ = upper;
  position_ = position;
  DrawProgress();
}

void ConsolePanel::DrawProgress() {
  if (!draw_progress_)
    return;
  const std::string bar = ProgressBarText(lower_, upper_, position_, 40);
  if (progress_on_line_ && bar == last_bar_)
    return;
  last_bar_ = bar;
  Emit(out_, "\r" + bar);
  progress_on_line_ = true;
}

void ConsolePanel::ClearProgress() {
  if (!progress_on_line_)
    return;
  Emit(out_, "\r\033[2K");
  progress_on_line_ = false;
}

}  // namespace pelliton::cli
