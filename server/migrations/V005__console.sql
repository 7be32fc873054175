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
