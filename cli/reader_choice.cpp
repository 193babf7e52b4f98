#include "cli/reader_choice.h"

#include <algorithm>
#include <cctype>

#include "cli/console_panel.h"

namespace pelliton::cli {

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "0: Reader A, 1: Reader B" for the indices given.
std::string Candidates(const std::vector<std::string>& readers, const std::vector<size_t>& which) {
  std::string text;
  for (const size_t i : which) {
    if (!text.empty())
      text += ", ";
    text += std::to_string(i) + ": " + AsTerminalText(readers[i]);
  }
  return text;
}

std::vector<size_t> All(size_t count) {
  std::vector<size_t> indices(count);
  for (size_t i = 0; i < count; ++i)
    indices[i] = i;
  return indices;
}

}  // namespace

ReaderPick PickReader(const std::vector<std::string>& readers, const std::string& requested,
                      const std::vector<bool>& holds_card) {
  ReaderPick pick;
  if (requested.empty()) {
    for (size_t i = 0; i < readers.size() && i < holds_card.size(); ++i) {
      if (holds_card[i]) {
        pick.index = i;
        pick.reason = "the first reader holding a card";
        return pick;
      }
    }
    if (!readers.empty()) {
      pick.index = 0;
      pick.reason = "the first reader listed; none holds a card";
    }
    return pick;
  }

  const std::string shown = "\"" + AsTerminalText(requested) + "\"";
  if (const auto exact = std::find(readers.begin(), readers.end(), requested);
      exact != readers.end()) {
    pick.index = static_cast<size_t>(exact - readers.begin());
    pick.reason = "named in full";
    return pick;
  }
  const std::string listed = readers.empty()
                                 ? "no PC/SC reader is listed"
                                 : "listed: " + Candidates(readers, All(readers.size()));
  if (requested.size() <= 9 && std::all_of(requested.begin(), requested.end(),
                                           [](char c) { return c >= '0' && c <= '9'; })) {
    const size_t number = std::stoul(requested);
    if (number < readers.size()) {
      pick.index = number;
      pick.reason = "number " + std::to_string(number) + " in the list";
      return pick;
    }
    pick.error = "-r " + shown + ": no PC/SC reader has that number (" + listed + ")";
    return pick;
  }
  std::vector<size_t> matches;
  const std::string wanted = Lower(requested);
  for (size_t i = 0; i < readers.size(); ++i) {
    if (Lower(readers[i]).find(wanted) != std::string::npos)
      matches.push_back(i);
  }
  if (matches.size() == 1) {
    pick.index = matches.front();
    pick.reason = "the one reader whose name holds " + shown;
    return pick;
  }
  if (matches.empty()) {
    pick.error = "-r " + shown + ": no PC/SC reader's name holds it (" + listed + ")";
  } else {
    pick.error = "-r " + shown + " is ambiguous: " + std::to_string(matches.size()) +
                 " readers' names hold it (" + Candidates(readers, matches) +
                 "); give the number or more of the name";
  }
  return pick;
}

}  // namespace pelliton::cli
