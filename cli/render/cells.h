// Cells of the tables and CSV exports pelliton-cli prints from journal records, whose
// texts (reader, station and card names) may hold any bytes.
#pragma once

#include <cstddef>
#include <string>

namespace pelliton::cli {

// A text field as a CSV cell. A spreadsheet takes a cell beginning with = + - @ (or a
// tab or CR before them) for a formula, which a card's or a reader's text must never
// become: such a cell gets a leading apostrophe. Then RFC 4180: quoted when it holds a
// comma, a quote or a line break; quotes doubled.
void AppendCsvText(std::string& out, const std::string& text);

// A table cell: terminal text, with the line feeds and tabs it lets through shown as
// their values too, since either would break the table's one line per row.
void SetTableCell(std::string& cell, const std::string& text);

// The columns a cell takes on a terminal: its characters, as it is valid UTF-8.
size_t CellWidth(const std::string& cell);

}  // namespace pelliton::cli
