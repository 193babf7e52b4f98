// Which PC/SC reader a card command uses, as opensc-tool and gp choose: -r N is the
// index `readers` prints, -r TEXT a reader whose name holds TEXT when exactly one does,
// and a full name always wins. Without -r, the first reader that holds a card, else the
// first listed. Pure: the caller lists the readers and looks at their cards.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelliton::cli {

struct ReaderPick {
  // The chosen reader's index in the list; none when there is no reader to choose (an
  // empty list without -r) or on an error.
  std::optional<size_t> index;
  // Why this reader, for -v: "named", "number 1", "the first holding a card"...
  std::string reason;
  // One line naming the candidates when -r names no reader or more than one.
  std::string error;
};

// How one text names a listed reader, in this order: its whole name; a number, the
// reader's index; a part of its name (in any case) that no other listed name holds.
// -r and --readers both choose by it and word their own messages.
struct ReaderMatch {
  enum class Kind { kWholeName, kNumber, kPart, kNumberOutOfRange, kNoName, kSeveralNames };
  Kind kind = Kind::kNoName;
  size_t index = 0;             // the reader chosen (the first three kinds)
  std::vector<size_t> several;  // kSeveralNames: the readers whose names hold the text
  bool chosen() const { return kind <= Kind::kPart; }
};
ReaderMatch MatchReader(const std::vector<std::string>& readers, const std::string& text);

// readers: as the service lists them. requested: -r's text, empty for none. holds_card:
// per reader whether a card sits in it (shorter than readers, or empty, when unknown).
ReaderPick PickReader(const std::vector<std::string>& readers, const std::string& requested,
                      const std::vector<bool>& holds_card);

}  // namespace pelliton::cli
