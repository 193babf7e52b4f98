// Just enough JSON for one result object per run: string escaping and a writer of
// objects and arrays that places the commas.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelliton::cli {

// The text as a JSON string literal, quotes included. Valid UTF-8 passes through; a
// byte that is not part of a valid UTF-8 sequence becomes U+FFFD, so the output is
// always valid JSON whatever the card or the file held.
std::string JsonString(std::string_view text);

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // Inside an object, before each value.
  void Key(std::string_view key);
  void String(std::string_view value);
  void Number(int64_t value);
  void Bool(bool value);
  void Null();
  void StringArray(const std::vector<std::string>& values);

  const std::string& Text() const { return out_; }

 private:
  void BeforeValue();

  std::string out_;
  // One entry per open container: whether it already holds an element.
  std::vector<bool> has_element_;
  bool after_key_ = false;
};

}  // namespace pelliton::cli
