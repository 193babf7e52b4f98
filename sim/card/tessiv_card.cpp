#include "sim/card/tessiv_card.h"

#include <algorithm>
#include <utility>

namespace pelliton::sim {
namespace {

constexpr uint16_t kOk = 0x9000;
constexpr uint16_t kWrongLength = 0x6700;
constexpr uint16_t kWrongParams = 0x6B00;
constexpr uint16_t kNoChallenge = 0x6985;
constexpr uint16_t kBadCrc = 0x6988;
constexpr uint16_t kUnknown = 0x6D00;

std::vector<uint8_t> Sw(uint16_t sw) {
  return {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw & 0xFF)};
}

uint32_t GetBE(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void PutBE(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

size_t AreaSize(uint32_t start, uint32_t end) {
  return end >= start ? static_cast<size_t>(end - start) + 1 : 0;
}

}  // namespace

uint32_t TessivCrc32(const uint8_t* data, size_t length) {
  uint32_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= uint32_t{data[i]} << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  }
  return crc;
}

std::vector<uint8_t> TessivConfig::DefaultAtr(uint8_t version) {
  // Direct convention, T=1, historical bytes carrying the card's name and generation.
  return {0x3B, 0xDB, 0x96, 0x00, 0x80, 0xB1, 0xFE, 0x45,    0x1F, 0x83,
          0x00, 0x54, 0x45, 0x53, 0x53, 0x49, 0x56, version, 0x90, 0x00};
}

TessivCard::TessivCard(TessivConfig config) : config_(std::move(config)), rng_(config_.seed) {
  memory_[0].assign(AreaSize(config_.app1_start, config_.app1_end), kErased);
  memory_[1].assign(AreaSize(config_.app2_start, config_.app2_end), kErased);
  written_[0].assign(memory_[0].size(), false);
  written_[1].assign(memory_[1].size(), false);
}

std::optional<uint8_t> TessivCard::VersionByte() const {
  if (config_.atr.size() < 18) {
    return std::nullopt;
  }
  return config_.atr[17];
}

std::vector<uint8_t> TessivCard::PowerOn() {
  if (!present_) {
    return {};
  }
  powered_ = true;
  challenge_.reset();
  info_pending_ = false;
  return config_.atr;
}

void TessivCard::PowerOff() {
  powered_ = false;
  challenge_.reset();
  info_pending_ = false;
}

void TessivCard::Remove() {
  present_ = false;
  PowerOff();
}

std::vector<uint8_t> TessivCard::Transmit(const uint8_t* apdu, size_t length) {
  if (!present_ || !powered_) {
    return {};
  }
  if (apdu == nullptr) {
    length = 0;
  }
  commands_.emplace_back(apdu, apdu + length);
  const size_t number = commands_.size();
  const auto fault = std::find_if(faults_.begin(), faults_.end(),
                                  [number](const Fault& f) { return f.at == number; });
  if (fault == faults_.end()) {
    return Execute(apdu, length);
  }
  switch (fault->kind) {
    case FaultKind::kStatusWord:
      return Sw(fault->status_word);
    case FaultKind::kRemove:
      Remove();
      return {};
    case FaultKind::kMute:
      return {};
    case FaultKind::kReply:
      return fault->reply;
    case FaultKind::kShort: {
      std::vector<uint8_t> reply = Execute(apdu, length);
      reply.resize(std::min(reply.size(), fault->length));
      return reply;
    }
    case FaultKind::kLong: {
      std::vector<uint8_t> reply = Execute(apdu, length);
      if (reply.size() < fault->length) {
        reply.insert(reply.end() - 2, fault->length - reply.size(), 0xA5);
      }
      return reply;
    }
  }
  return {};
}

std::vector<uint8_t> TessivCard::Execute(const uint8_t* apdu, size_t length) {
  if (length < 5) {
    return Sw(kWrongLength);
  }
  const uint8_t cla = apdu[0], ins = apdu[1], p1 = apdu[2], p2 = apdu[3], p3 = apdu[4];
  const bool header_only = length == 5;
  const bool data_matches = length == size_t{5} + p3;
  // Commands the response to an F0 88 must follow at once.
  const bool was_info_pending = std::exchange(info_pending_, false);

  if (cla == 0xF0 && ins == 0xDB) {
    if (p1 != 0 || p2 != 0) {
      return Sw(kWrongParams);
    }
    if (!header_only || p3 != 0) {
      return Sw(kWrongLength);
    }
    return Format();
  }
  if (cla == 0xF0 && ins == 0xDC) {
    if (!data_matches) {
      return Sw(kWrongLength);
    }
    return Load(apdu, length);
  }
  if (cla == 0xF0 && ins == 0xDD) {
    if (p1 != 0 || p2 != 0) {
      return Sw(kWrongParams);
    }
    if (!data_matches || p3 != 0x2C) {
      return Sw(kWrongLength);
    }
    pass_through_.emplace_back(apdu + 5, apdu + length);
    return Sw(kOk);
  }
  if (cla == 0x00 && ins == 0x84) {
    if (p1 != 0 || p2 != 0) {
      return Sw(kWrongParams);
    }
    if (!header_only) {
      return Sw(kWrongLength);
    }
    if (p3 != 4) {
      return Sw(0x6C04);
    }
    return Challenge();
  }
  if (cla == 0xF0 && ins == 0x80) {
    if (VersionByte() == uint8_t{0x02}) {
      return Sw(kUnknown);
    }
    if (p1 != 0x01 || p2 != 0) {
      return Sw(kWrongParams);
    }
    if (!data_matches || p3 != 8) {
      return Sw(kWrongLength);
    }
    return WriteCounter(apdu);
  }
  if (cla == 0xF0 && ins == 0x88) {
    if (p1 != 0 || p2 != 0) {
      return Sw(kWrongParams);
    }
    if (!data_matches || p3 != 8) {
      return Sw(kWrongLength);
    }
    info_pending_ = true;
    return Sw(0x612C);
  }
  if (cla == 0x00 && ins == 0xC0) {
    if (p1 != 0 || p2 != 0) {
      return Sw(kWrongParams);
    }
    if (!header_only) {
      return Sw(kWrongLength);
    }
    if (!was_info_pending) {
      return Sw(kNoChallenge);
    }
    if (p3 != kInfoReplySize) {
      info_pending_ = true;  // the caller may ask again with the right length
      return Sw(0x6C00 | kInfoReplySize);
    }
    std::vector<uint8_t> reply = InformationReply();
    reply.push_back(0x90);
    reply.push_back(0x00);
    return reply;
  }
  return Sw(kUnknown);
}

std::vector<uint8_t> TessivCard::Format() {
  for (size_t i = 0; i < 2; ++i) {
    std::fill(memory_[i].begin(), memory_[i].end(), kErased);
    std::fill(written_[i].begin(), written_[i].end(), false);
  }
  counter_.reset();
  ++formats_;
  return Sw(kOk);
}

std::vector<uint8_t> TessivCard::Load(const uint8_t* apdu, size_t length) {
  const size_t app = (apdu[2] & 0x80) ? 1 : 0;
  const size_t offset = ((size_t{apdu[2]} & 0x7F) << 8 | apdu[3]) * 128;
  const size_t count = length - 5;
  if (offset > memory_[app].size() || count > memory_[app].size() - offset) {
    return Sw(kWrongParams);
  }
  std::copy(apdu + 5, apdu + length, memory_[app].begin() + static_cast<ptrdiff_t>(offset));
  std::fill_n(written_[app].begin() + static_cast<ptrdiff_t>(offset), count, true);
  return Sw(kOk);
}

uint32_t TessivCard::NextRandom() {
  // splitmix64: small, seedable, good enough for challenges.
  uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
}

std::vector<uint8_t> TessivCard::Challenge() {
  const uint32_t value = NextRandom();
  challenge_ = value;
  std::vector<uint8_t> reply(4);
  PutBE(value, reply.data());
  reply.push_back(0x90);
  reply.push_back(0x00);
  return reply;
}

std::vector<uint8_t> TessivCard::WriteCounter(const uint8_t* apdu) {
  if (!challenge_) {
    return Sw(kNoChallenge);
  }
  uint8_t block[8];
  PutBE(*challenge_, block);
  std::copy(apdu + 5, apdu + 9, block + 4);
  challenge_.reset();  // single use, whatever the outcome
  if (TessivCrc32(block, sizeof block) != GetBE(apdu + 9)) {
    return Sw(kBadCrc);
  }
  counter_ = GetBE(apdu + 5) + config_.counter_off_by;
  return Sw(kOk);
}

bool TessivCard::ShowsCounter() const {
  const auto version = VersionByte();
  return version == uint8_t{0x03} || version == uint8_t{0x04};
}

std::vector<uint8_t> TessivCard::InformationReply() const {
  std::vector<uint8_t> reply(kInfoReplySize, 0);
  const char kName[] = "TESSIV";
  std::copy(kName, kName + 6, reply.begin());
  reply[6] = VersionByte().value_or(0);

  std::string digits;
  if (ShowsCounter()) {
    const uint32_t shown = counter_.value_or(0) % 10000;
    digits = {static_cast<char>('0' + shown / 1000), static_cast<char>('0' + shown / 100 % 10),
              static_cast<char>('0' + shown / 10 % 10), static_cast<char>('0' + shown % 10)};
  }
  const auto place = [&](const std::string& text, size_t at, size_t size) {
    const std::string field = (text + digits).substr(0, size);
    std::copy(field.begin(), field.end(), reply.begin() + static_cast<ptrdiff_t>(at));
  };
  place(config_.text1, 11, 20);
  place(config_.text2, 31, 9);
  PutBE(counter_.value_or(0), reply.data() + 40);
  return reply;
}

std::vector<WrittenExtent> TessivCard::Written() const {
  std::vector<WrittenExtent> extents;
  for (size_t app = 0; app < 2; ++app) {
    const std::vector<bool>& mask = written_[app];
    size_t i = 0;
    while (i < mask.size()) {
      if (!mask[i]) {
        ++i;
        continue;
      }
      size_t end = i;
      while (end < mask.size() && mask[end]) {
        ++end;
      }
      WrittenExtent extent;
      extent.app = app == 0 ? TessivApp::kApp1 : TessivApp::kApp2;
      extent.offset = static_cast<uint32_t>(i);
      extent.bytes.assign(memory_[app].begin() + static_cast<ptrdiff_t>(i),
                          memory_[app].begin() + static_cast<ptrdiff_t>(end));
      extents.push_back(std::move(extent));
      i = end;
    }
  }
  return extents;
}

}  // namespace pelliton::sim
