#include "cli/platform/hooks.h"

#include <algorithm>
#include <vector>

#include "cli/platform/platform.h"

namespace pelliton::cli {

namespace {

constexpr const char* kResultVariables[] = {
    "PELLITON_READER=", "PELLITON_RESULT=", "PELLITON_MESSAGE=", "PELLITON_ATR="};

// This process's environment without our variables, then ours.
std::vector<std::string> HookEnvironment(const CardResult& result) {
  std::vector<std::string> entries;
  for (std::string& entry : ProcessEnvironment()) {
    bool ours = false;
    for (const char* variable : kResultVariables)
      ours = ours || entry.starts_with(variable);
    if (!ours)
      entries.push_back(std::move(entry));
  }
  // A NUL would cut the value short where the hook reads it; no card text holds one
  // that matters.
  const auto value = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
  };
  entries.push_back(kResultVariables[0] + value(result.reader));
  entries.push_back(std::string(kResultVariables[1]) + (result.passed ? "PASS" : "FAIL"));
  entries.push_back(kResultVariables[2] + value(result.message));
  entries.push_back(kResultVariables[3] + value(result.atr_hex));
  return entries;
}

}  // namespace

std::string RunHook(const std::string& option, const std::string& command, const CardResult& result,
                    std::chrono::milliseconds timeout) {
  const std::string end = RunShellCommand(command, HookEnvironment(result), timeout);
  if (end.empty())
    return {};
  return "pelliton-cli: " + option + " hook " + end + "\n";
}

}  // namespace pelliton::cli
