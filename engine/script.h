// The upgrade script: reading it as lines, turning one line into a command text,
// converting hexadecimal text into bytes, and the AddressLine that names where an
// application lives on the card.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace pelliton {

// A command text never exceeds this, so a converted command fits a 300-byte buffer.
inline constexpr size_t kMaxCommandText = 600;
inline constexpr size_t kMinCommandText = 5;
// Cleaning passes over a line that is shorter than this once its blanks are gone.
inline constexpr size_t kMinCleanLine = 10;

// "F05D010009" then 18 hexadecimal digits: start (4 bytes), end (4 bytes), one spare.
inline constexpr std::string_view kAddressLinePrefix = "F05D010009";
inline constexpr size_t kAddressDataChars = 18;
inline constexpr size_t kAddressDataBytes = 9;
inline constexpr size_t kAddressLineChars = 28;
// Where App1 must start for a script to be taken.
inline constexpr uint32_t kApp1StartAddress = 0x00002000;
// Where App2 must start for a script to suit V1.00 and V1.10 cards.
inline constexpr uint32_t kApp2StartForOldCards = 0x00012000;

// Real scripts are well under a megabyte; anything far larger is not a script and
// is refused at open rather than exhausting memory on one endless line or on a list
// of millions of empty ones.
inline constexpr uint64_t kMaxScriptFileBytes = 16ull * 1024 * 1024;

inline constexpr const char* kOpenScriptErrorMessage = "Open APP update file error!";

// Why a script file could not be read.
enum class ScriptReadError {
  kNone,
  kNoSuchFile,
  kPermissionDenied,
  kDirectory,
  kNotRegularFile,  // a device, a pipe, a socket
  kTooLarge,        // more than kMaxScriptFileBytes, also when it grew while being read
  kReadFailed,
};

// The reason in a few words ("no such file", "permission denied"...), for a front end
// that can say more than the window's message; empty for kNone.
std::string ScriptReadErrorText(ScriptReadError error);

// A script as read from its file: all its bytes in one buffer, so that every check and
// the load see the same bytes and a file of millions of short lines costs no more than
// its size.
class ScriptText {
 public:
  ScriptText() = default;
  explicit ScriptText(std::string bytes) : bytes_(std::move(bytes)) {}

  // The bytes every line rule sees: the file's, less a leading UTF-8 byte-order mark,
  // which Windows editors write and which is no part of the first line.
  std::string_view Body() const;
  // The file's bytes as read.
  std::string_view Bytes() const { return bytes_; }
  // True when the file looks like UTF-16 text (a UTF-16 byte-order mark, or a NUL byte
  // in every other place), which no line rule can read.
  bool LooksLikeUtf16() const;

 private:
  std::string bytes_;
};

// Reads the whole file into *text, as bytes (no locale, no text-mode translation). On
// an error *text is untouched. Never reads more than kMaxScriptFileBytes + 1 bytes: a
// file that is larger, or that grows past the limit while being read, is kTooLarge.
// Checks what the path is before opening it, since opening a pipe would wait for a
// writer.
ScriptReadError ReadScriptText(const std::string& path, ScriptText* text);

// Walks the lines of bytes as views into them, one at a time, without copying: a line
// ends at LF and a CR right before it is dropped; a last line without LF still counts
// and an LF at the very end adds no empty line. The end of the data ends a last line
// just as an LF would, so a CR right before it is dropped too. Any other CR, and NUL
// bytes, stay in the line. The bytes must outlive the walk.
class ScriptLines {
 public:
  explicit ScriptLines(std::string_view bytes) : rest_(bytes) {}
  // The next line into *line; false, with *line empty, past the last.
  bool Next(std::string_view* line);

 private:
  std::string_view rest_;
};

// The number of lines ScriptLines finds in bytes.
uint32_t CountScriptLines(std::string_view bytes);

// The line's command text, or nullopt when the line is passed over: upper case, blanks
// and tabs removed, passed over with a ";" among the first ten characters or fewer
// than ten characters, cut at the first ";" and then at the first "(", at most 600
// characters, passed over below five.
std::optional<std::string> CleanScriptLine(std::string_view line);

// True when each of the first n characters is a hexadecimal digit; n = 0 gives true.
// False when text holds fewer than n characters.
bool IsAllHex(std::string_view text, size_t n);

// Converts the first n characters into (n + 1) / 2 bytes at out and returns that count.
// Two characters per byte, high nibble first; a character that is not a hexadecimal
// digit contributes its own low four bits; for odd n the last low nibble is 0. An n
// beyond text.size() is clamped to text.size(), so nothing past text is read and the
// count returned is what was written.
size_t HexToBytes(std::string_view text, size_t n, uint8_t* out);

struct AddressRecord {
  uint32_t start = 0;
  uint32_t end = 0;
  bool present = false;
};

// First ten characters exactly "F05D010009", compared as read (lower case does not
// match): how the download's first pass finds AddressLines.
bool IsAddressLine(std::string_view line);
// The same after turning the line to upper case: how the browse check finds them.
bool IsAddressLineAnyCase(std::string_view line);
// The prefix in any case followed by 18 hexadecimal digits and nothing else.
bool IsWellFormedAddressLine(std::string_view line);

// Decodes the last 18 characters of the line into start and end (big-endian) and marks
// *record present. False, with *record untouched, when the line is shorter than 18.
bool DecodeAddressLine(std::string_view line, AddressRecord* record);

}  // namespace pelliton
