// The names of where a run ends: one table for every front end and record.
#include "engine/outcome.h"

namespace pelliton {

std::string_view RunEndName(RunEnd end) {
  switch (end) {
    case RunEnd::kSuccess:
      return "success";
    case RunEnd::kNoScript:
      return "no_script";
    case RunEnd::kRefused:
      return "refused";
    case RunEnd::kResetFailed:
      return "reset_failed";
    case RunEnd::kScriptUnreadable:
      return "script_unreadable";
    case RunEnd::kScriptRefused:
      return "script_refused";
    case RunEnd::kWrongGeneration:
      return "wrong_generation";
    case RunEnd::kScriptLine:
      return "script_line";
    case RunEnd::kCommunication:
      return "communication";
    case RunEnd::kCardRefused:
      return "card_refused";
    case RunEnd::kReadBack:
      return "read_back";
    case RunEnd::kAbandoned:
      return "abandoned";
  }
  return "unknown";
}

}  // namespace pelliton
