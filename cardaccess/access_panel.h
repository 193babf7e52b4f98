// What card access needs of the window: the status text, the reader drop-down and
// the enabled state of the reader controls. The engine's OperatorPanel extends it.
#pragma once

#include <cstdint>
#include <string>

namespace pelliton {

// Control numbers shared by the window and the procedures.
enum ControlId : int {
  kCancelButton = 2,
  kReaderList = 1001,
  kPathBox = 1002,
  kReloadButton = 1003,
  kBrowseButton = 1004,
  kDownloadButton = 1005,
  kCardInfoBox = 1007,
  kCardInfoButton = 1008,
  kStatusBox = 1015,
  kProgressBar = 1017,
  kHiddenLabel = 1020,
  kHiddenLabel2 = 1021,
  kPcscRadio = 1022,
  kOrvoRadio = 1023,
  kCounterBox = 1024,
};

// Tones the procedures sound.
inline constexpr uint32_t kErrorBeepHz = 1000;
inline constexpr uint32_t kErrorBeepMs = 600;
inline constexpr uint32_t kOkBeepHz = 900;
inline constexpr uint32_t kOkBeepMs = 100;

class AccessPanel {
 public:
  virtual ~AccessPanel() = default;

  // The StatusText field; shown only by RefreshControls.
  virtual std::string& StatusText() = 0;
  // Fields into controls; never validates.
  virtual void RefreshControls() = 0;
  // Writes the status box's displayed text directly, leaving StatusText alone.
  virtual void SetStatusBoxText(const std::string& text) = 0;
  // Blocks for the tone's duration.
  virtual void Beep(uint32_t frequency_hz, uint32_t duration_ms) = 0;

  // The reader drop-down (control 1001).
  virtual void ReaderListClear() = 0;
  virtual void ReaderListInsert(int index, const std::string& name) = 0;
  virtual void ReaderListSelect(int index) = 0;
  virtual std::string ReaderListCurrentText() = 0;

  virtual void EnableControl(int control_id, bool enabled) = 0;
};

}  // namespace pelliton
