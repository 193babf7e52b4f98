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

// Length of the valid UTF-8 sequence starting at text[i], or 0 when there is none: no
// overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8SequenceLength(std::string_view text, size_t i);

// True when the whole text is valid UTF-8.
bool IsUtf8(std::string_view text);

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
