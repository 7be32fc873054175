-- History and syslog events kept in one partition per month, so that what is
-- past its retention goes by dropping whole months, and the leases that keep
-- a scheduled job to one server at a time.

-- A job's holder, until when. A server takes a free or lapsed lease and
-- renews its own; the time is the database's, the one clock all servers share.
CREATE TABLE job_leases (
  job    text PRIMARY KEY,
  holder text NOT NULL,
  until  timestamptz NOT NULL
);

-- The partition of `parent` for the month (UTC) of `day`, named
-- <parent>_pYYYYMM; created unless it exists. Returns its name.
CREATE FUNCTION month_partition(parent text, day timestamptz) RETURNS text
LANGUAGE plpgsql AS $$
DECLARE
  first timestamp := date_trunc('month', day AT TIME ZONE 'UTC');
  name text := parent || '_p' || to_char(first, 'YYYYMM');
BEGIN
  IF to_regclass(name) IS NULL THEN
    EXECUTE format('CREATE TABLE %I PARTITION OF %I FOR VALUES FROM (%L) TO (%L)', name, parent,
                   to_char(first, 'YYYY-MM-DD') || ' 00:00+00',
                   to_char(first + interval '1 month', 'YYYY-MM-DD') || ' 00:00+00');
  END IF;
  RETURN name;
END $$;

-- Drops the month partitions of `parent` whose whole month lies before
-- `cutoff`; returns their names.
CREATE FUNCTION drop_months_before(parent text, cutoff timestamptz) RETURNS SETOF text
LANGUAGE plpgsql AS $$
DECLARE
  part text;
BEGIN
  FOR part IN
    SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid
    WHERE i.inhparent = parent::regclass AND c.relname ~ ('^' || parent || '_p[0-9]{6}$')
      AND (to_date(right(c.relname, 6), 'YYYYMM') + interval '1 month') AT TIME ZONE 'UTC' <= cutoff
    ORDER BY c.relname
  LOOP
    EXECUTE format('DROP TABLE %I', part);
    RETURN NEXT part;
  END LOOP;
END $$;

-- machine_changes, by month of `changed`. A partitioned table's primary key
-- holds its partition key; the ids still come from the one sequence.
ALTER TABLE machine_changes RENAME TO machine_changes_unpartitioned;
ALTER INDEX machine_changes_pkey RENAME TO machine_changes_unpartitioned_pkey;
ALTER INDEX machine_changes_machine RENAME TO machine_changes_unpartitioned_machine;
CREATE TABLE machine_changes (
  id         bigint NOT NULL DEFAULT nextval('machine_changes_id_seq'),
  machine_id bigint NOT NULL REFERENCES machines (id) ON DELETE CASCADE,
  changed    timestamptz NOT NULL,
  kind       text NOT NULL CHECK (kind IN ('machine', 'detail', 'attribute', 'application')),
  item       text NOT NULL,
  old_value  text,
  new_value  text,
  PRIMARY KEY (id, changed)
) PARTITION BY RANGE (changed);
ALTER SEQUENCE machine_changes_id_seq OWNED BY machine_changes.id;
CREATE INDEX machine_changes_machine ON machine_changes (machine_id, changed);
-- Rows of a month without a partition (a clock far off) land here rather
-- than fail; the retention job deletes them when they are old.
CREATE TABLE machine_changes_default PARTITION OF machine_changes DEFAULT;

-- events, by month of `received`.
ALTER TABLE events RENAME TO events_unpartitioned;
ALTER INDEX events_pkey RENAME TO events_unpartitioned_pkey;
ALTER INDEX events_machine RENAME TO events_unpartitioned_machine;
ALTER INDEX events_unassigned RENAME TO events_unpartitioned_unassigned;
ALTER INDEX events_received RENAME TO events_unpartitioned_received;
CREATE TABLE events (
  id         bigint NOT NULL DEFAULT nextval('events_id_seq'),
  received   timestamptz NOT NULL,
  sender     inet NOT NULL,
  machine_id bigint REFERENCES machines (id) ON DELETE SET NULL,
  facility   integer,
  severity   integer,
  code       text,
  message    text NOT NULL,
  PRIMARY KEY (id, received)
) PARTITION BY RANGE (received);
ALTER SEQUENCE events_id_seq OWNED BY events.id;
CREATE INDEX events_machine ON events (machine_id, received);
CREATE INDEX events_unassigned ON events (sender) WHERE machine_id IS NULL;
CREATE INDEX events_received ON events (received);
CREATE TABLE events_default PARTITION OF events DEFAULT;

-- A partition for every month of the rows kept and the next three; the
-- rows move over and the old tables go.
SELECT month_partition(t.parent, m)
FROM (VALUES ('machine_changes', (SELECT min(changed) FROM machine_changes_unpartitioned)),
             ('events', (SELECT min(received) FROM events_unpartitioned))) AS t(parent, oldest),
     generate_series(date_trunc('month', least(coalesce(t.oldest, now()), now())),
                     now() + interval '3 months',
                     interval '1 month') AS m;
INSERT INTO machine_changes SELECT * FROM machine_changes_unpartitioned;
INSERT INTO events SELECT * FROM events_unpartitioned;
DROP TABLE machine_changes_unpartitioned;
DROP TABLE events_unpartitioned;
