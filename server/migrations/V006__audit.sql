-- What administrators did to machines from the console.

-- One row per action on a machine: who, when, what, and what the agent
-- answered. Rows are only ever added; the retention sweep deletes old ones.
CREATE TABLE audit_log (
  id           bigserial PRIMARY KEY,
  at           timestamptz NOT NULL DEFAULT now(),
  actor        text NOT NULL,
  action       text NOT NULL,
  -- What the action carried: the message, the value set.
  detail       text NOT NULL DEFAULT '',
  name_key     text NOT NULL,
  machine_name text NOT NULL,
  -- The address the agent was reached at; null when the machine had none.
  address      inet,
  -- 'ok': the agent answered 200; 'failed': it did not answer or refused.
  outcome      text NOT NULL CHECK (outcome IN ('ok', 'failed')),
  agent_status integer,
  -- The agent's answer, or why there was none (cut to a few kilobytes).
  answer       text NOT NULL DEFAULT ''
);

CREATE INDEX audit_log_at ON audit_log (at);
CREATE INDEX audit_log_machine ON audit_log (name_key, at);
CREATE INDEX audit_log_actor ON audit_log (actor, at);

-- The log is evidence: no statement may change a row once written.
CREATE FUNCTION audit_log_unchangeable() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'the audit log cannot be changed' USING ERRCODE = 'insufficient_privilege';
END;
$$;
CREATE TRIGGER audit_log_unchangeable BEFORE UPDATE ON audit_log
  FOR EACH ROW EXECUTE FUNCTION audit_log_unchangeable();
