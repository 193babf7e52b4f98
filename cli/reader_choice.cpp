#include "cli/reader_choice.h"

#include <algorithm>
#include <cctype>

#include "cli/render/console_panel.h"

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

ReaderMatch MatchReader(const std::vector<std::string>& readers, const std::string& text) {
  ReaderMatch match;
  if (const auto exact = std::find(readers.begin(), readers.end(), text); exact != readers.end()) {
    match.kind = ReaderMatch::Kind::kWholeName;
    match.index = static_cast<size_t>(exact - readers.begin());
    return match;
  }
  // At most nine digits: a longer number is no index of any list, and stoul cannot fail.
  if (!text.empty() && text.size() <= 9 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    match.index = std::stoul(text);
    match.kind = match.index < readers.size() ? ReaderMatch::Kind::kNumber
                                              : ReaderMatch::Kind::kNumberOutOfRange;
    return match;
  }
  const std::string wanted = Lower(text);
  for (size_t i = 0; i < readers.size(); ++i) {
    if (Lower(readers[i]).find(wanted) != std::string::npos)
      match.several.push_back(i);
  }
  if (match.several.size() == 1) {
    match.kind = ReaderMatch::Kind::kPart;
    match.index = match.several.front();
    match.several.clear();
  } else {
    match.kind =
        match.several.empty() ? ReaderMatch::Kind::kNoName : ReaderMatch::Kind::kSeveralNames;
  }
  return match;
}

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
  const ReaderMatch match = MatchReader(readers, requested);
  const std::string listed = readers.empty()
                                 ? "no PC/SC reader is listed"
                                 : "listed: " + Candidates(readers, All(readers.size()));
  if (match.chosen())
    pick.index = match.index;
  switch (match.kind) {
    case ReaderMatch::Kind::kWholeName:
      pick.reason = "named in full";
      break;
    case ReaderMatch::Kind::kNumber:
      pick.reason = "number " + std::to_string(match.index) + " in the list";
      break;
    case ReaderMatch::Kind::kPart:
      pick.reason = "the one reader whose name holds " + shown;
      break;
    case ReaderMatch::Kind::kNumberOutOfRange:
      pick.error = "-r " + shown + ": no PC/SC reader has that number (" + listed + ")";
      break;
    case ReaderMatch::Kind::kNoName:
      pick.error = "-r " + shown + ": no PC/SC reader's name holds it (" + listed + ")";
      break;
    case ReaderMatch::Kind::kSeveralNames:
      pick.error = "-r " + shown + " is ambiguous: " + std::to_string(match.several.size()) +
                   " readers' names hold it (" + Candidates(readers, match.several) +
                   "); give the number or more of the name";
      break;
  }
  return pick;
}

}  // namespace pelliton::cli
