#include "journal/record_fields.h"

#include "journal/sha256.h"

namespace pelliton::journal {

namespace {

using R = JournalRecord;

constexpr RecordField Text(const char* name, std::string R::*member, int since = 0) {
  return {name, FieldKind::kText, member, nullptr, nullptr, since};
}
constexpr RecordField Number(const char* name, int64_t R::*member, int since = 0) {
  return {name, FieldKind::kNumber, nullptr, member, nullptr, since};
}
constexpr RecordField Optional(const char* name, std::optional<int64_t> R::*member, int since = 0) {
  return {name, FieldKind::kOptionalNumber, nullptr, nullptr, member, since};
}

constexpr RecordField kFields[] = {
    Text("run_id", &R::run_id),
    Text("time_utc", &R::time_utc),
    Text("station", &R::station),
    Text("program", &R::program),
    Text("procedure", &R::procedure),
    Text("reader", &R::reader),
    Text("atr", &R::atr),
    Text("generation", &R::generation),
    Text("first_version", &R::first_version),
    Text("second_version", &R::second_version),
    Text("counter_read", &R::counter_read),
    Text("script_path", &R::script_path),
    Optional("script_size", &R::script_size),
    Text("script_sha256", &R::script_sha256),
    Optional("counter_written", &R::counter_written),
    Text("outcome", &R::outcome),
    Text("message", &R::message),
    Number("failing_line", &R::failing_line),
    Optional("transport_result", &R::transport_result),
    Text("status_word", &R::status_word),
    Number("duration_ms", &R::duration_ms),
    Number("apdu_count", &R::apdu_count),
    Optional("station_seq", &R::station_seq, 1),
    Text("chain_hash", &R::chain_hash, 1),
    Text("record_hash", &R::record_hash, 1),
};

void AddField(std::string& text, const char* name, const std::string& value) {
  text += name;
  text += '=';
  text += std::to_string(value.size());
  text += ':';
  text += value;
  text += '\n';
}

}  // namespace

std::span<const RecordField> RecordFields() {
  return kFields;
}

std::optional<int64_t> FieldNumber(const RecordField& field, const JournalRecord& record) {
  switch (field.kind) {
    case FieldKind::kText:
      break;
    case FieldKind::kNumber:
      return record.*field.number;
    case FieldKind::kOptionalNumber:
      return record.*field.optional_number;
  }
  return std::nullopt;
}

std::optional<std::string> FieldText(const RecordField& field, const JournalRecord& record) {
  if (field.kind == FieldKind::kText)
    return record.*field.text;
  const std::optional<int64_t> value = FieldNumber(field, record);
  if (!value)
    return std::nullopt;
  return std::to_string(*value);
}

std::string CanonicalText(const JournalRecord& record) {
  std::string text = "pelliton journal record\n";
  for (const RecordField& field : kFields) {
    if (field.text == &R::record_hash)
      continue;
    const std::optional<std::string> value = FieldText(field, record);
    if (value && !value->empty())
      AddField(text, field.name, *value);
  }
  return text;
}

std::string RecordDigest(const JournalRecord& record) {
  return Sha256Hex(CanonicalText(record));
}

std::string ChainLink(const std::string& previous_link, const JournalRecord& record) {
  std::string text = "pelliton journal chain\n";
  AddField(text, "previous", previous_link);
  AddField(text, "station", record.station);
  AddField(text, "station_seq", std::to_string(record.station_seq.value_or(0)));
  AddField(text, "run_id", record.run_id);
  AddField(text, "time_utc", record.time_utc);
  AddField(text, "program", record.program);
  return Sha256Hex(text);
}

}  // namespace pelliton::journal
