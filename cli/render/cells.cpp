#include "cli/render/cells.h"

#include <algorithm>
#include <string_view>

#include "cli/render/console_panel.h"

namespace pelliton::cli {

void AppendCsvText(std::string& out, const std::string& text) {
  const bool neutralised =
      !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  // A plain loop: find_first_of looks each byte up with a call of its own.
  const bool quoted = std::any_of(text.begin(), text.end(), [](char c) {
    return c == ',' || c == '"' || c == '\r' || c == '\n';
  });
  if (!quoted) {
    if (neutralised)
      out += '\'';
    out += text;
    return;
  }
  out += neutralised ? "\"'" : "\"";
  size_t from = 0;
  for (size_t quote = text.find('"'); quote != std::string::npos; quote = text.find('"', from)) {
    out.append(text, from, quote + 1 - from);
    out += '"';
    from = quote + 1;
  }
  out.append(text, from);
  out += '"';
}

void SetTableCell(std::string& cell, const std::string& text) {
  // Nearly every cell is printable ASCII, which passes as it is, into the cell's memory.
  if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
    cell.assign(text);
    return;
  }
  cell = AsTerminalText(text);
  if (std::none_of(cell.begin(), cell.end(), [](char c) { return c == '\n' || c == '\t'; }))
    return;
  std::string shown;
  for (char c : cell) {
    if (c == '\n')
      shown += "\\x0a";
    else if (c == '\t')
      shown += "\\x09";
    else
      shown += c;
  }
  cell = std::move(shown);
}

size_t CellWidth(const std::string& cell) {
  return static_cast<size_t>(std::count_if(cell.begin(), cell.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace pelliton::cli
