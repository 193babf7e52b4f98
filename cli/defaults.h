// Defaults for pelliton-cli's options from the environment and from an optional
// configuration file, so that a station's reader and counter need not be typed each
// time. The command line always wins; the environment wins over the file.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace pelliton::cli {

// Keys of the configuration file; the same names as the options without their dashes.
// "reader", "counter", "wait", "on-pass", "on-fail", "hook-timeout", "plant".
struct DefaultValue {
  std::string value;
  // Where it came from, as --help and -v name it: "PELLITON_READER" or "PATH line N".
  std::string source;
};

struct Defaults {
  std::map<std::string, DefaultValue> values;  // by key
  // One line naming the file and line of the first fault; empty when the file is sound
  // (or absent). A faulty file is a usage error for the commands that read defaults.
  std::string error;
};

// Reads "key = value" lines: blanks around both are dropped, '#' starts a comment line,
// blank lines are passed over. An unknown key or a line without '=' is an error (a typo
// silently ignored would program cards with the wrong counter).
Defaults ParseConfigText(const std::string& text, const std::string& path);

// The file's entries overlaid by PELLITON_READER, PELLITON_COUNTER and PELLITON_PLANT. getenv: the
// environment (null for an unset name). config_text: the file's contents, none when it
// does not exist.
Defaults MergeDefaults(const std::function<const char*(const char*)>& getenv,
                       const std::optional<std::string>& config_text,
                       const std::string& config_path);

// $XDG_CONFIG_HOME/pelliton/cli.conf, else $HOME/.config/pelliton/cli.conf; empty when
// neither variable is set. On Windows %APPDATA%\pelliton\cli.conf, empty when APPDATA is
// not an absolute path. (Defined with the platform's other calls, cli/platform_*.cpp.)
std::string ConfigPath(const std::function<const char*(const char*)>& getenv);

// The defaults of this process: its environment and its configuration file.
Defaults SystemDefaults();

}  // namespace pelliton::cli
