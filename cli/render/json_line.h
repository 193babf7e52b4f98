// The one way pelliton-cli writes JSON: one object per line, its fields in the order they
// were written (a line reads like the text output), the schema and the command first so
// that a reader of a mixed log tells the objects apart, whatever bytes the texts hold.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace pelliton::cli {

using Json = nlohmann::ordered_json;

// The version of JSON objects pelliton-cli writes; raised when a field changes meaning or
// goes, not when one is added.
inline constexpr int kJsonSchema = 1;

inline Json JsonHeader(const char* command) {
  Json json = Json::object();
  json["schema"] = kJsonSchema;
  json["command"] = command;
  return json;
}

// A byte that is not UTF-8 (a card's text, a path) becomes U+FFFD rather than an error.
inline std::string JsonLine(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace pelliton::cli
