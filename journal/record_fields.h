// The journal's fields, once: the schema, the insert, the read-back, the record chain's
// canonical text and the three exports are all made from this table. A new column is one
// row here (with the schema version that adds it) plus that version's migration.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "journal/journal.h"

namespace pelliton::journal {

enum class FieldKind { kText, kNumber, kOptionalNumber };

struct RecordField {
  const char* name;
  FieldKind kind;
  std::string JournalRecord::*text;
  int64_t JournalRecord::*number;
  std::optional<int64_t> JournalRecord::*optional_number;
  // The schema version whose migration added the column (0: the first journals).
  int since;
};

// The schema version this build writes.
inline constexpr int kSchemaVersion = 1;

// Every field, in the table's column order.
std::span<const RecordField> RecordFields();

// A number field's value; nullopt for an absent one (and for a text field).
std::optional<int64_t> FieldNumber(const RecordField& field, const JournalRecord& record);

// A field's value as text (a number in decimal); nullopt for an absent number.
std::optional<std::string> FieldText(const RecordField& field, const JournalRecord& record);

// The text the record's digest is taken over: every field but the digest itself that has
// a value, as name, length and bytes, so no two records share one. An empty text and an
// absent number are left out, which keeps old records' digests when a column is added.
std::string CanonicalText(const JournalRecord& record);

// The record's digest over its chain link and fields ("record_hash").
std::string RecordDigest(const JournalRecord& record);

// A record's link in its station's chain ("chain_hash"): the previous record's link
// (empty for a station's first record) and the fields a record has from its start and
// keeps when it is completed. A record completed in place keeps its link, so records
// begun meanwhile stay chained.
std::string ChainLink(const std::string& previous_link, const JournalRecord& record);

}  // namespace pelliton::journal
