-- The in-patient and out-patient lists search the names of the patients with an open stay or an
-- unbilled visit, a few thousand among millions in the hospital master. Each stay and visit keeps
-- a copy of its patient's last name (list_last: NULL when no master row joins), kept by the
-- triggers below, so that an index of the open ones alone serves the searches: a part of a name
-- of any length (two letters too, which a trigram index cannot serve) is looked for among the
-- open stays in name order, and a name prefix among the unbilled visits.
-- The copies are recomputed from tbMaster whenever either side of the join changes; nothing else
-- writes them. The schema runs statement by statement, split at lines that end in ';': no line of
-- a function body ends in one.

ALTER TABLE patient_data.tbPatient ADD COLUMN list_last VARCHAR(50);
ALTER TABLE patient_data.tbOutPatient ADD COLUMN list_last VARCHAR(50);

UPDATE patient_data.tbPatient s SET list_last = m.LastName FROM patient_data.tbMaster m WHERE m.HospNum = s.HospNum;
UPDATE patient_data.tbOutPatient s SET list_last = m.LastName FROM patient_data.tbMaster m WHERE m.HospNum = s.HospNum;

CREATE FUNCTION patient_data.stay_list_names() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  SELECT m.LastName INTO NEW.list_last FROM patient_data.tbMaster m WHERE m.HospNum = NEW.HospNum; RETURN NEW; END
$$;

CREATE TRIGGER trg_tbPatient_list_names BEFORE INSERT OR UPDATE OF HospNum ON patient_data.tbPatient
  FOR EACH ROW EXECUTE FUNCTION patient_data.stay_list_names();
CREATE TRIGGER trg_tbOutPatient_list_names BEFORE INSERT OR UPDATE OF HospNum ON patient_data.tbOutPatient
  FOR EACH ROW EXECUTE FUNCTION patient_data.stay_list_names();

CREATE FUNCTION patient_data.tbMaster_stay_names() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  -- OLD is NULL on insert, NEW on delete; a NULL number matches no stay.
  UPDATE patient_data.tbPatient s SET list_last = (SELECT m.LastName FROM patient_data.tbMaster m WHERE m.HospNum = s.HospNum)
    WHERE s.HospNum IN (OLD.HospNum, NEW.HospNum); UPDATE patient_data.tbOutPatient s SET list_last = (SELECT m.LastName FROM patient_data.tbMaster m WHERE m.HospNum = s.HospNum)
    WHERE s.HospNum IN (OLD.HospNum, NEW.HospNum); RETURN NULL; END
$$;

CREATE TRIGGER trg_tbMaster_stay_names AFTER INSERT OR DELETE OR UPDATE OF HospNum, LastName
  ON patient_data.tbMaster FOR EACH ROW EXECUTE FUNCTION patient_data.tbMaster_stay_names();

UPDATE pacs.tblSchemaVersion SET version = 10;

ANALYZE patient_data.tbPatient;
ANALYZE patient_data.tbOutPatient;

-- Built online
-- The open stays in list order (a part of the name is looked for along it), and the unbilled
-- visits in list order and by name prefix (pattern operators serve LIKE 'text%' under any
-- collation).
CREATE INDEX CONCURRENTLY IF NOT EXISTS ix_tbPatient_open_names ON patient_data.tbPatient
  (list_last NULLS FIRST, HospNum NULLS FIRST, AdmDate NULLS FIRST) WHERE DcrDate IS NULL;
CREATE INDEX CONCURRENTLY IF NOT EXISTS ix_tbOutPatient_unbilled_names ON patient_data.tbOutPatient (list_last varchar_pattern_ops)
  WHERE BillingDate IS NULL;
CREATE INDEX CONCURRENTLY IF NOT EXISTS ix_tbOutPatient_unbilled_order ON patient_data.tbOutPatient
  (list_last NULLS FIRST, HospNum NULLS FIRST, AdmDate NULLS FIRST) WHERE BillingDate IS NULL;
-- The register picker's list in its order (NULL names first).
CREATE INDEX CONCURRENTLY IF NOT EXISTS ix_tblPatient_register_order ON pacs.tblPatient (name_last NULLS FIRST, patient_id NULLS FIRST);
-- The transaction list's name prefix, through the transaction's copy of its patient's last name.
CREATE INDEX CONCURRENTLY IF NOT EXISTS ix_tblTransaction_list_last_prefix ON pacs.tblTransaction (list_last varchar_pattern_ops);
-- The trigram index of the master's names served the in-patient search alone.
DROP INDEX CONCURRENTLY IF EXISTS patient_data.ix_tbMaster_lastname_trgm;
