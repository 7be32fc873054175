-- Syslog datagrams as the collector received them.

-- The address a machine last reported from: datagrams carry no machine
-- name of the agent's, only their sender's address.
ALTER TABLE machines ADD COLUMN last_address inet;
CREATE INDEX machines_last_address ON machines (last_address);

CREATE TABLE events (
  id         bigserial PRIMARY KEY,
  received   timestamptz NOT NULL,
  sender     inet NOT NULL,
  -- The machine it belongs to: by the host name a datagram names, else by
  -- the sender's address; null when neither is known.
  machine_id bigint REFERENCES machines (id) ON DELETE SET NULL,
  facility   integer,
  severity   integer,
  -- The agent's message code ("50000" of "%QUARN-5-50000: ..."); null for
  -- other datagrams.
  code       text,
  message    text NOT NULL
);

CREATE INDEX events_machine ON events (machine_id, received);
-- Datagrams that came before their machine's first report wait here for it.
CREATE INDEX events_unassigned ON events (sender) WHERE machine_id IS NULL;
CREATE INDEX events_received ON events (received);
