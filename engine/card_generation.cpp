#include "engine/card_generation.h"

namespace pelliton {

VersionClass VersionClassOf(uint8_t atr_byte17) {
  switch (atr_byte17) {
    case 0x04:
      return VersionClass::kV200;
    case 0x03:
      return VersionClass::kV110;
    case 0x02:
      return VersionClass::kV100;
    default:
      return VersionClass::kUnknown;
  }
}

VersionClass VersionClassOfAtr(const CardConnection& connection) {
  if (connection.atr_length <= kAtrVersionOffset)
    return VersionClass::kUnknown;
  return VersionClassOf(connection.atr[kAtrVersionOffset]);
}

std::string_view GenerationName(VersionClass version) {
  switch (version) {
    case VersionClass::kV200:
      return "V2.00";
    case VersionClass::kV110:
      return "V1.10";
    case VersionClass::kV100:
      return "V1.00";
    case VersionClass::kUnknown:
      break;
  }
  return {};
}

std::string CardLineOf(VersionClass version) {
  const std::string_view name = GenerationName(version);
  if (name.empty())
    return {};
  return "Tessiv Card Version: " + std::string(name) + " \r\n\r\n";
}

bool HasCounter(VersionClass version) {
  return version == VersionClass::kV110 || version == VersionClass::kV200;
}

}  // namespace pelliton
