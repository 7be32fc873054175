-- Machines as they last reported, what changed on them, and their applications.

-- One row per machine. name_key is the machine's identity: its computer name
-- without a domain suffix, in upper case (computer names are unique within a
-- domain and carry no letter case).
CREATE TABLE machines (
  id                      bigserial PRIMARY KEY,
  name_key                text NOT NULL UNIQUE,
  machine_name            text NOT NULL,
  first_seen              timestamptz NOT NULL,
  last_seen               timestamptz NOT NULL,
  details_reported        timestamptz,
  attributes_reported     timestamptz,
  -- The details of the last PutPCDetails.
  last_login              text,
  registered_owner        text,
  registered_organisation text,
  cpu_speed               integer,
  cpu_id                  text,
  cpu_name                text,
  current_version         text,
  tot_cpu                 integer,
  product_id              text,
  product_name            text,
  service_pack            text,
  source_path             text,
  ie_version              text,
  physical_memory         text,
  vmware                  boolean,
  install_date            timestamp,
  nb_node_type            integer,
  -- The administrative attributes of the last PutPCDetails2.
  acquisition_date        timestamp,
  comments                text,
  serial_no               text,
  -- The report of applications under way: when its first and latest calls
  -- came and the applications named so far; null when none is under way.
  apps_report_started     timestamptz,
  apps_report_last_call   timestamptz,
  apps_report_seen        text[],
  -- When the last report of applications ended.
  apps_reported           timestamptz
);

CREATE INDEX machines_last_seen ON machines (last_seen);
CREATE INDEX machines_product_name ON machines (product_name);
CREATE INDEX machines_open_apps_report ON machines (apps_report_last_call)
  WHERE apps_report_last_call IS NOT NULL;

-- An application of a machine. It stays when the machine no longer reports
-- it: gone is then the time of the report that left it out.
CREATE TABLE machine_applications (
  machine_id  bigint NOT NULL REFERENCES machines (id) ON DELETE CASCADE,
  application text NOT NULL,
  path        text NOT NULL,
  version     text NOT NULL,
  -- The version as four numbers, compared as numbers; null when the text is
  -- not four whole numbers joined by points.
  v_major     integer,
  v_minor     integer,
  v_release   integer,
  v_build     integer,
  first_seen  timestamptz NOT NULL,
  changed     timestamptz NOT NULL,
  gone        timestamptz,
  -- Set when it went: the end of the last report that named it. While it
  -- is present, the machine's latest report of applications is its last seen.
  last_seen   timestamptz,
  PRIMARY KEY (machine_id, application)
);

CREATE INDEX machine_applications_version
  ON machine_applications (application, v_major, v_minor, v_release, v_build);

-- What changed, and when: a detail or attribute with its old and new value,
-- an application that appeared, changed or went.
CREATE TABLE machine_changes (
  id         bigserial PRIMARY KEY,
  machine_id bigint NOT NULL REFERENCES machines (id) ON DELETE CASCADE,
  changed    timestamptz NOT NULL,
  kind       text NOT NULL CHECK (kind IN ('machine', 'detail', 'attribute', 'application')),
  item       text NOT NULL,
  old_value  text,
  new_value  text
);

CREATE INDEX machine_changes_machine ON machine_changes (machine_id, changed);

-- The service desk's register: service tag and acquisition date per machine.
CREATE TABLE assets (
  name_key         text PRIMARY KEY,
  machine_name     text NOT NULL,
  service_tag      text NOT NULL,
  acquisition_date date,
  updated          timestamptz NOT NULL
);
