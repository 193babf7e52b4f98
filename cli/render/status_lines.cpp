#include "cli/render/status_lines.h"

#include <algorithm>

#include "cli/render/console_panel.h"

namespace pelliton::cli {

namespace {

// The first line of a shown text: the window's texts start with blank lines and end
// with "\r\n" runs.
std::string FirstLine(const std::string& text) {
  const size_t start = text.find_first_not_of("\r\n ");
  if (start == std::string::npos)
    return {};
  const size_t end = text.find_first_of("\r\n", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Cut to at most columns characters, never inside a UTF-8 sequence (continuation bytes
// take no column).
std::string Cut(const std::string& text, size_t columns) {
  size_t used = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) == 0x80)
      continue;
    if (used == columns)
      return text.substr(0, i);
    ++used;
  }
  return text;
}

// Moves the cursor to the start of the line `lines` up.
std::string Up(size_t lines) {
  return lines == 0 ? std::string() : "\033[" + std::to_string(lines) + "F";
}

}  // namespace

std::string StatusLineText(const ReaderStatus& status, size_t width) {
  std::string line = "[" + status.reader + "] cards " + std::to_string(status.cards);
  if (status.failed != 0)
    line += " (" + std::to_string(status.failed) + " failed)";
  line += " | " + FirstLine(status.step);
  if (status.progress >= 0)
    line += " " + std::to_string(status.progress) + "%";
  if (!status.last_result.empty())
    line += " | last: " + FirstLine(status.last_result);
  return Cut(AsTerminalText(line), std::max<size_t>(width, 20) - 1);
}

size_t StatusLines::LineOf(const std::string& reader) {
  const auto found = std::find_if(lines_.begin(), lines_.end(),
                                  [&](const ReaderStatus& s) { return s.reader == reader; });
  if (found != lines_.end())
    return static_cast<size_t>(found - lines_.begin());
  ReaderStatus status;
  status.reader = reader;
  lines_.push_back(std::move(status));
  return lines_.size() - 1;
}

std::string StatusLines::Redraw() {
  std::vector<std::string> texts;
  for (const ReaderStatus& status : lines_)
    texts.push_back(StatusLineText(status, width_));
  // From the first line that changed down to the bottom; the lines above stay.
  size_t first = 0;
  while (first < texts.size() && first < drawn_.size() && texts[first] == drawn_[first])
    ++first;
  if (first == texts.size())
    return {};
  std::string out = Up(drawn_.size() - first);
  for (size_t i = first; i < texts.size(); ++i)
    out += "\033[2K" + texts[i] + "\n";
  drawn_ = std::move(texts);
  return out;
}

std::string StatusLines::Note(const std::string& note) {
  std::string out = Up(drawn_.size()) + "\033[J" + note;
  if (!note.empty() && note.back() != '\n')
    out += '\n';
  drawn_.clear();
  return out + Redraw();
}

std::string StatusLines::Leave() {
  std::string out = Redraw();
  drawn_.clear();
  lines_.clear();
  return out;
}

}  // namespace pelliton::cli
