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

// readers: as the service lists them. requested: -r's text, empty for none. holds_card:
// per reader whether a card sits in it (shorter than readers, or empty, when unknown).
ReaderPick PickReader(const std::vector<std::string>& readers, const std::string& requested,
                      const std::vector<bool>& holds_card);

}  // namespace pelliton::cli
