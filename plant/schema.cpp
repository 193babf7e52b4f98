// The plant's schema, one migration per version, made from the journal's field table so a
// record's columns are written down once.
#include "plant/schema.h"

#include "journal/record_fields.h"

namespace pelliton::plant {

namespace {

using journal::FieldKind;
using journal::RecordField;
using journal::RecordFields;

std::string Columns() {
  std::string sql;
  for (const RecordField& field : RecordFields()) {
    sql += std::string("  ") + field.name;
    if (field.text == &journal::JournalRecord::run_id)
      sql += " text PRIMARY KEY";
    else if (field.kind == FieldKind::kText)
      sql += " text NOT NULL DEFAULT ''";
    else if (field.kind == FieldKind::kNumber)
      sql += " bigint NOT NULL DEFAULT 0";
    else
      sql += " bigint";
    sql += ",\n";
  }
  return sql;
}

// The completion of a record delivered while its card was running: every field the
// journal's own completion rewrites.
std::string CompletionAssignments() {
  std::string sql;
  for (const RecordField& field : RecordFields()) {
    if (field.text == &journal::JournalRecord::run_id)
      continue;
    sql += sql.empty() ? "" : ", ";
    sql += std::string(field.name) + " = NEW." + field.name;
  }
  return sql;
}

std::string Version1() {
  return R"sql(
CREATE TABLE pelliton.card_runs (
)sql" + Columns() +
         R"sql(  received_utc timestamptz NOT NULL DEFAULT now(),
  received_by text NOT NULL DEFAULT session_user,
  completed_utc timestamptz
);
CREATE INDEX card_runs_place ON pelliton.card_runs (station, station_seq);
CREATE INDEX card_runs_time ON pelliton.card_runs (time_utc);

-- What the arrival checks found; a row is never changed, and the same finding is kept once.
CREATE TABLE pelliton.findings (
  id bigserial PRIMARY KEY,
  station text NOT NULL,
  station_seq bigint,
  run_id text NOT NULL,
  kind text NOT NULL,
  detail text NOT NULL,
  found_utc timestamptz NOT NULL DEFAULT now(),
  UNIQUE (run_id, kind, detail)
);

-- The station's chain link, byte for byte as the journal makes it: each part as
-- name=length:value and a line break, the length in UTF-8 bytes.
CREATE FUNCTION pelliton.link_part(name text, value text) RETURNS text
  LANGUAGE sql IMMUTABLE STRICT
  AS $$ SELECT name || '=' || octet_length(convert_to(value, 'UTF8')) || ':' || value || E'\n' $$;
CREATE FUNCTION pelliton.chain_link(previous text, station text, station_seq bigint,
                                    run_id text, time_utc text, program text) RETURNS text
  LANGUAGE sql IMMUTABLE
  AS $$ SELECT encode(sha256(convert_to('pelliton journal chain' || E'\n'
         || pelliton.link_part('previous', coalesce(previous, ''))
         || pelliton.link_part('station', station)
         || pelliton.link_part('station_seq', coalesce(station_seq, 0)::text)
         || pelliton.link_part('run_id', run_id)
         || pelliton.link_part('time_utc', time_utc)
         || pelliton.link_part('program', program), 'UTF8')), 'hex') $$;

CREATE FUNCTION pelliton.note(r pelliton.card_runs, kind text, detail text) RETURNS void
  LANGUAGE sql
  AS $$ INSERT INTO pelliton.findings (station, station_seq, run_id, kind, detail)
        VALUES (r.station, r.station_seq, r.run_id, kind, detail) ON CONFLICT DO NOTHING $$;

-- Each arriving record: a run id already here is a lost acknowledgement (nothing to do),
-- the completion of a record delivered while its card ran (completed in place), or a
-- record changed after its delivery (flagged, the first copy kept). A new record is
-- checked against its neighbours in its station's chain.
CREATE FUNCTION pelliton.on_arrival() RETURNS trigger
  LANGUAGE plpgsql SECURITY DEFINER SET search_path = pelliton, pg_temp
  AS $$
DECLARE
  known card_runs;
  neighbour card_runs;
BEGIN
  SELECT * INTO known FROM card_runs WHERE run_id = NEW.run_id FOR UPDATE;
  IF FOUND THEN
    IF known.record_hash = NEW.record_hash THEN
      RETURN NULL;
    END IF;
    IF known.outcome = 'unfinished' AND NEW.outcome <> 'unfinished'
       AND known.chain_hash = NEW.chain_hash AND known.station = NEW.station
       AND known.station_seq IS NOT DISTINCT FROM NEW.station_seq THEN
      UPDATE card_runs SET )sql" +
         CompletionAssignments() + R"sql(, completed_utc = now()
        WHERE run_id = NEW.run_id;
      RETURN NULL;
    END IF;
    PERFORM note(known, 'changed', 'changed after delivery: delivered as ' || known.record_hash
                 || ', now ' || NEW.record_hash);
    RETURN NULL;
  END IF;
  IF EXISTS (SELECT 1 FROM card_runs WHERE station = NEW.station
             AND station_seq = NEW.station_seq) THEN
    PERFORM note(NEW, 'sequence', 'its place in the chain is taken by another record');
  END IF;
  IF NEW.station_seq = 1 THEN
    IF chain_link('', NEW.station, NEW.station_seq, NEW.run_id, NEW.time_utc, NEW.program)
       <> NEW.chain_hash THEN
      PERFORM note(NEW, 'chain', 'it does not begin its station''s chain');
    END IF;
  ELSE
    SELECT * INTO neighbour FROM card_runs WHERE station = NEW.station
      AND station_seq = NEW.station_seq - 1 LIMIT 1;
    IF FOUND AND chain_link(neighbour.chain_hash, NEW.station, NEW.station_seq, NEW.run_id,
                            NEW.time_utc, NEW.program) <> NEW.chain_hash THEN
      PERFORM note(NEW, 'chain', 'it does not follow the record before it');
    END IF;
  END IF;
  SELECT * INTO neighbour FROM card_runs WHERE station = NEW.station
    AND station_seq = NEW.station_seq + 1 LIMIT 1;
  IF FOUND AND chain_link(NEW.chain_hash, neighbour.station, neighbour.station_seq,
                          neighbour.run_id, neighbour.time_utc, neighbour.program)
               <> neighbour.chain_hash THEN
    PERFORM note(neighbour, 'chain', 'it does not follow the record before it');
  END IF;
  RETURN NEW;
END $$;
CREATE TRIGGER card_runs_arrival BEFORE INSERT ON pelliton.card_runs
  FOR EACH ROW EXECUTE FUNCTION pelliton.on_arrival();

-- The places missing from each station's sequence below its latest record: removed at
-- the station before delivery, or not delivered yet.
CREATE VIEW pelliton.gaps AS
  SELECT station, previous + 1 AS first_missing, station_seq - 1 AS last_missing
  FROM (SELECT station, station_seq,
               lag(station_seq, 1, 0::bigint) OVER (PARTITION BY station
                                                    ORDER BY station_seq) AS previous
        FROM pelliton.card_runs) AS ordered
  WHERE station_seq > previous + 1;

DO $$ BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'pelliton_station') THEN
    CREATE ROLE pelliton_station NOLOGIN;
  END IF;
END $$;
GRANT USAGE ON SCHEMA pelliton TO pelliton_station;
GRANT SELECT, INSERT ON pelliton.card_runs TO pelliton_station;
GRANT SELECT ON pelliton.findings, pelliton.gaps, pelliton.schema_version TO pelliton_station;
)sql";
}

}  // namespace

std::vector<Migration> Migrations() {
  return {{1, "the records, their arrival checks and the station role", Version1()}};
}

}  // namespace pelliton::plant
