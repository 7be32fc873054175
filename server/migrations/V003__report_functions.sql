-- The writes of the inventory's report calls as functions of the database:
-- each call is one statement, atomic on its own, and one round trip from
-- the server instead of one per step.

-- The id of the machine of that key, its row locked for the transaction;
-- the row is made (first seen now, with its change row) when there is none,
-- and created says so. The sender's address, when known, becomes the
-- machine's last address; the agent's first datagrams come before its first
-- report, so the sender's recent ones without a machine become this one's.
CREATE FUNCTION quarrin_lock_machine(p_key text, p_name text, p_sender inet,
                                     OUT machine bigint, OUT created boolean)
LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO machines (name_key, machine_name, first_seen, last_seen)
    VALUES (p_key, p_name, now(), now())
    ON CONFLICT (name_key) DO NOTHING RETURNING id INTO machine;
  created := machine IS NOT NULL;
  IF created THEN
    INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)
      VALUES (machine, now(), 'machine', 'first report', NULL, p_name);
  ELSE
    -- A statement of its own: it sees a row that a concurrent first report
    -- committed while the insert above waited for it.
    SELECT id INTO machine FROM machines WHERE name_key = p_key FOR UPDATE;
  END IF;
  IF p_sender IS NOT NULL THEN
    UPDATE machines SET last_address = p_sender
      WHERE id = machine AND last_address IS DISTINCT FROM p_sender;
    IF FOUND THEN
      UPDATE events SET machine_id = machine
        WHERE machine_id IS NULL AND sender = p_sender AND received > now() - interval '1 day';
    END IF;
  END IF;
END
$$;

-- A report of details (p_kind 'detail', its time in details_reported) or of
-- attributes ('attribute', attributes_reported). p_columns are the columns
-- of machines it carries, p_items their names in the report, p_types their
-- types as the report's values are written ('timestamp' as
-- yyyy-mm-ddThh:mm:ss.zzz, any other as the column's text), p_values the
-- values (null: none). A column whose text differs is written with a change
-- row (none on the machine's first report of that kind); the last-seen and
-- reported times move in any case.
CREATE FUNCTION quarrin_put_columns(p_kind text, p_key text, p_name text, p_sender inet,
                                    p_columns text[], p_items text[], p_types text[],
                                    p_values text[])
RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
  locked record;
  m machines;
  was jsonb;
  patch jsonb := '{}';
  old_text text;
  first_report boolean;
BEGIN
  IF p_kind NOT IN ('detail', 'attribute') THEN
    RAISE EXCEPTION 'quarrin_put_columns: unknown kind %', p_kind;
  END IF;
  SELECT * INTO locked FROM quarrin_lock_machine(p_key, p_name, p_sender);
  SELECT * INTO m FROM machines WHERE id = locked.machine;
  first_report := locked.created OR CASE p_kind WHEN 'detail' THEN m.details_reported IS NULL
                                         ELSE m.attributes_reported IS NULL END;
  was := to_jsonb(m);
  FOR i IN 1 .. coalesce(cardinality(p_columns), 0) LOOP
    IF NOT was ? p_columns[i] THEN
      RAISE EXCEPTION 'quarrin_put_columns: machines has no column %', p_columns[i];
    END IF;
    old_text := CASE p_types[i]
                  WHEN 'timestamp' THEN to_char((was ->> p_columns[i])::timestamp,
                                                'YYYY-MM-DD"T"HH24:MI:SS.MS')
                  ELSE was ->> p_columns[i] END;
    CONTINUE WHEN old_text IS NOT DISTINCT FROM p_values[i];
    patch := patch || jsonb_build_object(p_columns[i], p_values[i]);
    IF NOT first_report THEN
      INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)
        VALUES (locked.machine, now(), p_kind, p_items[i], old_text, p_values[i]);
    END IF;
  END LOOP;
  m := jsonb_populate_record(m, patch);
  UPDATE machines SET
      last_seen = now(),
      machine_name = p_name,
      details_reported = CASE p_kind WHEN 'detail' THEN now() ELSE details_reported END,
      attributes_reported = CASE p_kind WHEN 'attribute' THEN now() ELSE attributes_reported END,
      last_login = m.last_login,
      registered_owner = m.registered_owner,
      registered_organisation = m.registered_organisation,
      cpu_speed = m.cpu_speed,
      cpu_id = m.cpu_id,
      cpu_name = m.cpu_name,
      current_version = m.current_version,
      tot_cpu = m.tot_cpu,
      product_id = m.product_id,
      product_name = m.product_name,
      service_pack = m.service_pack,
      source_path = m.source_path,
      ie_version = m.ie_version,
      physical_memory = m.physical_memory,
      vmware = m.vmware,
      install_date = m.install_date,
      nb_node_type = m.nb_node_type,
      acquisition_date = m.acquisition_date,
      comments = m.comments,
      serial_no = m.serial_no
    WHERE id = locked.machine;
END
$$;

-- Ends the machine's report of applications under way: marks gone every
-- present application of the machine that the report did not name (gone at
-- the report's start, last seen at the end of the report before it), and
-- closes the report.
CREATE FUNCTION quarrin_close_report(p_machine bigint) RETURNS void
LANGUAGE plpgsql AS $$
BEGIN
  WITH m AS (SELECT id, apps_report_started, apps_reported, apps_report_seen
             FROM machines WHERE id = p_machine),
   went AS (UPDATE machine_applications a
            SET gone = m.apps_report_started,
                last_seen = coalesce(m.apps_reported, a.changed)
            FROM m
            WHERE a.machine_id = m.id AND a.gone IS NULL
              AND NOT (a.application = ANY (m.apps_report_seen))
            RETURNING a.machine_id, a.application, a.version, a.gone)
  INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)
    SELECT machine_id, gone, 'application', application, version, NULL FROM went;
  UPDATE machines SET apps_reported = apps_report_last_call, apps_report_started = NULL,
      apps_report_last_call = NULL, apps_report_seen = NULL
    WHERE id = p_machine;
END
$$;

-- One call of a report of applications. A report quiet for p_quiet is ended
-- first, and the call then begins a new one. The application is added,
-- changed (with change rows for its version and its path) or present again;
-- one that is there already with the same path and version is not written.
CREATE FUNCTION quarrin_put_application(p_key text, p_name text, p_sender inet, p_quiet interval,
                                        p_application text, p_path text, p_version text,
                                        p_major integer, p_minor integer, p_release integer,
                                        p_build integer)
RETURNS void
LANGUAGE plpgsql AS $$
DECLARE
  locked record;
  under_way boolean;
  ended boolean;
  held machine_applications;
BEGIN
  SELECT * INTO locked FROM quarrin_lock_machine(p_key, p_name, p_sender);
  SELECT apps_report_last_call IS NOT NULL,
         coalesce(apps_report_last_call < now() - p_quiet, false)
    INTO under_way, ended FROM machines WHERE id = locked.machine;
  IF ended THEN
    PERFORM quarrin_close_report(locked.machine);
  END IF;
  UPDATE machines SET
      last_seen = now(),
      apps_report_last_call = now(),
      apps_report_started = CASE WHEN under_way AND NOT ended THEN apps_report_started ELSE now() END,
      apps_report_seen = CASE
        WHEN NOT under_way OR ended THEN ARRAY[p_application]
        WHEN p_application = ANY (apps_report_seen) THEN apps_report_seen
        ELSE array_append(apps_report_seen, p_application) END
    WHERE id = locked.machine;

  SELECT * INTO held FROM machine_applications
    WHERE machine_id = locked.machine AND application = p_application FOR UPDATE;
  IF NOT FOUND THEN
    INSERT INTO machine_applications (machine_id, application, path, version,
                                      v_major, v_minor, v_release, v_build, first_seen, changed)
      VALUES (locked.machine, p_application, p_path, p_version,
              p_major, p_minor, p_release, p_build, now(), now());
    INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)
      VALUES (locked.machine, now(), 'application', p_application, NULL, p_version);
    RETURN;
  END IF;
  IF held.gone IS NULL AND held.path = p_path AND held.version = p_version THEN
    RETURN;
  END IF;
  UPDATE machine_applications SET path = p_path, version = p_version, v_major = p_major,
      v_minor = p_minor, v_release = p_release, v_build = p_build, changed = now(),
      gone = NULL, last_seen = NULL
    WHERE machine_id = locked.machine AND application = p_application;
  IF held.gone IS NOT NULL OR held.version <> p_version THEN
    INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)
      VALUES (locked.machine, now(), 'application', p_application,
              CASE WHEN held.gone IS NULL THEN held.version END, p_version);
  END IF;
  IF held.path <> p_path THEN
    INSERT INTO machine_changes (machine_id, changed, kind, item, old_value, new_value)
      VALUES (locked.machine, now(), 'application', p_application || '.Path', held.path, p_path);
  END IF;
END
$$;
