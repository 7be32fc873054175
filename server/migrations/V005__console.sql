-- The console: its accounts, their sessions, and the login failures per
-- client address that slow down guessing.

CREATE TABLE console_users (
  id            bigserial PRIMARY KEY,
  name          text NOT NULL,
  role          text NOT NULL CHECK (role IN ('viewer', 'operator', 'administrator')),
  -- Argon2id in the PHC string form.
  password_hash text NOT NULL,
  created       timestamptz NOT NULL DEFAULT now()
);
-- Names carry no letter case.
CREATE UNIQUE INDEX console_users_name ON console_users (lower(name));

-- A session is known by the digest of its cookie's token, never the token.
CREATE TABLE console_sessions (
  token_digest text PRIMARY KEY,
  user_id      bigint NOT NULL REFERENCES console_users (id) ON DELETE CASCADE,
  csrf         text NOT NULL,
  address      inet,
  created      timestamptz NOT NULL,
  last_used    timestamptz NOT NULL
);
CREATE INDEX console_sessions_last_used ON console_sessions (last_used);
CREATE INDEX console_sessions_user ON console_sessions (user_id);

CREATE TABLE console_login_failures (
  address       inet PRIMARY KEY,
  failures      integer NOT NULL,
  last_failure  timestamptz NOT NULL,
  blocked_until timestamptz NOT NULL
);

-- The fleet list, paged by key in the orders it offers, and searched for
-- a part of a name or serial number (trigrams: a trusted extension that
-- the database's owner may create).
CREATE INDEX machines_last_seen_key ON machines (last_seen, name_key);
CREATE INDEX machines_edition_key ON machines ((coalesce(product_name, '')), name_key);
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE INDEX machines_name_search ON machines USING gin (name_key gin_trgm_ops);
CREATE INDEX machines_serial_search ON machines USING gin ((upper(serial_no)) gin_trgm_ops);

-- Counts the fleet page shows at its top, kept as machines change rather
-- than counted for every view: machines per operating-system edition, and
-- machines by the hour (UTC) of their last report, from which "reported
-- since" and "silent since" follow by summing a few rows. Each hour is
-- spread over 16 rows by machine, so that reports coming in together
-- seldom wait for one another's row.
CREATE TABLE fleet_edition_counts (
  product_name text PRIMARY KEY,  -- '' for machines that have not said
  machines     bigint NOT NULL
);
CREATE TABLE fleet_last_seen_hours (
  hour     timestamptz NOT NULL,
  slot     smallint NOT NULL,
  machines bigint NOT NULL,
  PRIMARY KEY (hour, slot)
);

CREATE FUNCTION fleet_hour(t timestamptz) RETURNS timestamptz
  LANGUAGE sql IMMUTABLE AS $$ SELECT date_bin('1 hour', t, timestamptz '2000-01-01 00:00:00+00') $$;

CREATE FUNCTION fleet_counts_follow() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'DELETE' OR (TG_OP = 'UPDATE' AND OLD.product_name IS DISTINCT FROM NEW.product_name) THEN
    UPDATE fleet_edition_counts SET machines = machines - 1
      WHERE product_name = coalesce(OLD.product_name, '');
  END IF;
  IF TG_OP = 'DELETE' OR (TG_OP = 'UPDATE' AND fleet_hour(OLD.last_seen) <> fleet_hour(NEW.last_seen)) THEN
    UPDATE fleet_last_seen_hours SET machines = machines - 1
      WHERE hour = fleet_hour(OLD.last_seen) AND slot = OLD.id % 16;
  END IF;
  IF TG_OP = 'INSERT' OR (TG_OP = 'UPDATE' AND OLD.product_name IS DISTINCT FROM NEW.product_name) THEN
    INSERT INTO fleet_edition_counts AS c VALUES (coalesce(NEW.product_name, ''), 1)
      ON CONFLICT (product_name) DO UPDATE SET machines = c.machines + 1;
  END IF;
  IF TG_OP = 'INSERT' OR (TG_OP = 'UPDATE' AND fleet_hour(OLD.last_seen) <> fleet_hour(NEW.last_seen)) THEN
    INSERT INTO fleet_last_seen_hours AS c VALUES (fleet_hour(NEW.last_seen), NEW.id % 16, 1)
      ON CONFLICT (hour, slot) DO UPDATE SET machines = c.machines + 1;
  END IF;
  RETURN NULL;
END
$$;

CREATE TRIGGER machines_fleet_counts
  AFTER INSERT OR DELETE OR UPDATE OF product_name, last_seen ON machines
  FOR EACH ROW EXECUTE FUNCTION fleet_counts_follow();

-- The machines there are already.
INSERT INTO fleet_edition_counts
  SELECT coalesce(product_name, ''), count(*) FROM machines GROUP BY 1;
INSERT INTO fleet_last_seen_hours
  SELECT fleet_hour(last_seen), id % 16, count(*) FROM machines GROUP BY 1, 2;

-- The ring whose manifest a machine last fetched: manifests are fetched
-- without a name, so the machine is the one that last reported from the
-- fetching address. A machine without a row is in main.
CREATE TABLE machine_rings (
  machine_id bigint PRIMARY KEY REFERENCES machines (id) ON DELETE CASCADE,
  ring       text NOT NULL,
  fetched    timestamptz NOT NULL
);
CREATE INDEX machine_rings_ring ON machine_rings (ring);

-- Machines per ring and agent version (the agent's own application,
-- QuarrinSrvc), kept as rings and agents change; a machine without a ring
-- counts in main.
CREATE TABLE ring_agent_counts (
  ring     text NOT NULL,
  version  text NOT NULL,
  machines bigint NOT NULL,
  PRIMARY KEY (ring, version)
);

CREATE FUNCTION ring_agent_count(r text, v text, d integer) RETURNS void
  LANGUAGE sql AS $$
  INSERT INTO ring_agent_counts AS c VALUES (r, v, d)
  ON CONFLICT (ring, version) DO UPDATE SET machines = c.machines + d
$$;

CREATE FUNCTION machine_rings_follow() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
  agent text;
BEGIN
  IF TG_OP = 'UPDATE' AND OLD.ring = NEW.ring THEN
    RETURN NULL;
  END IF;
  SELECT version INTO agent FROM machine_applications
    WHERE machine_id = CASE WHEN TG_OP = 'DELETE' THEN OLD.machine_id ELSE NEW.machine_id END
      AND application = 'QuarrinSrvc' AND gone IS NULL;
  IF agent IS NULL THEN
    RETURN NULL;
  END IF;
  PERFORM ring_agent_count(CASE WHEN TG_OP = 'INSERT' THEN 'main' ELSE OLD.ring END, agent, -1);
  PERFORM ring_agent_count(CASE WHEN TG_OP = 'DELETE' THEN 'main' ELSE NEW.ring END, agent, 1);
  RETURN NULL;
END
$$;

CREATE TRIGGER machine_rings_counts
  AFTER INSERT OR DELETE OR UPDATE OF ring ON machine_rings
  FOR EACH ROW EXECUTE FUNCTION machine_rings_follow();

INSERT INTO ring_agent_counts
  SELECT 'main', version, count(*) FROM machine_applications
  WHERE application = 'QuarrinSrvc' AND gone IS NULL GROUP BY 2;

-- Machines per application and version, of the applications present (not
-- gone), kept as the machines' applications change; spread over 8 rows per
-- version like the hours above.
CREATE TABLE application_version_counts (
  application text NOT NULL,
  version     text NOT NULL,
  slot        smallint NOT NULL,
  v_major     integer,
  v_minor     integer,
  v_release   integer,
  v_build     integer,
  machines    bigint NOT NULL,
  PRIMARY KEY (application, version, slot)
);

CREATE FUNCTION application_counts_follow() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
  counted_before boolean := TG_OP <> 'INSERT' AND OLD.gone IS NULL;
  counted_after  boolean := TG_OP <> 'DELETE' AND NEW.gone IS NULL;
BEGIN
  IF counted_before AND counted_after AND OLD.version = NEW.version AND OLD.application = NEW.application THEN
    RETURN NULL;
  END IF;
  IF counted_before THEN
    UPDATE application_version_counts SET machines = machines - 1
      WHERE application = OLD.application AND version = OLD.version AND slot = OLD.machine_id % 8;
  END IF;
  IF counted_before AND OLD.application = 'QuarrinSrvc' THEN
    PERFORM ring_agent_count(coalesce((SELECT ring FROM machine_rings
                                       WHERE machine_id = OLD.machine_id), 'main'), OLD.version, -1);
  END IF;
  IF counted_after AND NEW.application = 'QuarrinSrvc' THEN
    PERFORM ring_agent_count(coalesce((SELECT ring FROM machine_rings
                                       WHERE machine_id = NEW.machine_id), 'main'), NEW.version, 1);
  END IF;
  IF counted_after THEN
    INSERT INTO application_version_counts AS c
      VALUES (NEW.application, NEW.version, NEW.machine_id % 8,
              NEW.v_major, NEW.v_minor, NEW.v_release, NEW.v_build, 1)
      ON CONFLICT (application, version, slot) DO UPDATE SET machines = c.machines + 1;
  END IF;
  RETURN NULL;
END
$$;

CREATE TRIGGER machine_applications_counts
  AFTER INSERT OR DELETE OR UPDATE OF application, version, gone ON machine_applications
  FOR EACH ROW EXECUTE FUNCTION application_counts_follow();

INSERT INTO application_version_counts
  SELECT application, version, machine_id % 8, min(v_major), min(v_minor), min(v_release),
         min(v_build), count(*)
  FROM machine_applications WHERE gone IS NULL GROUP BY 1, 2, 3;


-- The events page filters by the agent's message code, newest first.
CREATE INDEX events_code ON events (code, received) WHERE code IS NOT NULL;
