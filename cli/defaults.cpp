#include "cli/defaults.h"

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace pelliton::cli {

namespace {

constexpr std::array<std::string_view, 7> kKeys = {"reader",  "counter",      "wait", "on-pass",
                                                   "on-fail", "hook-timeout", "plant"};

// The environment variables that set a default, and the key each sets.
constexpr std::array<std::pair<const char*, const char*>, 3> kEnvironment = {
    {{"PELLITON_READER", "reader"}, {"PELLITON_COUNTER", "counter"}, {"PELLITON_PLANT", "plant"}}};

std::string Trimmed(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos)
    return {};
  const size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(begin, end - begin + 1));
}

}  // namespace

Defaults ParseConfigText(const std::string& text, const std::string& path) {
  Defaults defaults;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    const std::string content = Trimmed(line);
    if (content.empty() || content.front() == '#')
      continue;
    const std::string where = path + " line " + std::to_string(number);
    const size_t equals = content.find('=');
    if (equals == std::string::npos) {
      defaults.error = where + ": not a \"key = value\" line";
      return defaults;
    }
    const std::string key = Trimmed(std::string_view(content).substr(0, equals));
    bool known = false;
    for (const std::string_view k : kKeys)
      known = known || k == key;
    if (!known) {
      defaults.error = where + ": unknown key \"" + key + "\"";
      return defaults;
    }
    defaults.values[key] = {Trimmed(std::string_view(content).substr(equals + 1)), where};
  }
  return defaults;
}

Defaults MergeDefaults(const std::function<const char*(const char*)>& getenv,
                       const std::optional<std::string>& config_text,
                       const std::string& config_path) {
  Defaults defaults = config_text ? ParseConfigText(*config_text, config_path) : Defaults{};
  for (const auto& [variable, key] : kEnvironment) {
    const char* value = getenv(variable);
    if (value != nullptr && *value != '\0')
      defaults.values[key] = {value, variable};
  }
  return defaults;
}

Defaults SystemDefaults() {
  const auto environment = [](const char* name) -> const char* { return std::getenv(name); };
  const std::string path = ConfigPath(environment);
  std::optional<std::string> text;
  if (!path.empty()) {
    std::ifstream file(path, std::ios::binary);
    if (file) {
      std::stringstream contents;
      contents << file.rdbuf();
      text = contents.str();
    }
  }
  return MergeDefaults(environment, text, path);
}

}  // namespace pelliton::cli
