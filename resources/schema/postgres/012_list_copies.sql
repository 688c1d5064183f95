-- A transaction keeps, beside its copy of its register patient's names (list_last, list_first,
-- list_middle), that patient's birth date and sex (list_birth, list_sex), and the same five of its
-- hospital-master patient (host_last, host_first, host_middle, host_birth, host_sex: NULL when no
-- master row has its hospital number). A name prefix of the list then reads one range of one
-- index that holds every column the list shows, in either patient mode, instead of looking up
-- each of thousands of patients and their transactions (ten million transactions: 4 ms to read
-- the 5,500 rows of a prefix instead of 25).
-- The copies are recomputed from tblPatient and tbMaster whenever either side of a join changes;
-- nothing else writes them. Until the online part below has filled the older transactions, the
-- list reads the patients themselves (it asks whether this version's online work is done).
-- The schema runs statement by statement, split at lines that end in ';': no line of a function
-- body ends in one.

ALTER TABLE pacs.tblTransaction ADD COLUMN list_birth DATE, ADD COLUMN list_sex VARCHAR(1),
  ADD COLUMN host_last VARCHAR(50), ADD COLUMN host_first VARCHAR(50), ADD COLUMN host_middle VARCHAR(50),
  ADD COLUMN host_birth DATE, ADD COLUMN host_sex VARCHAR(1);

CREATE OR REPLACE FUNCTION pacs.tblTransaction_list_names() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  SELECT p.name_last, p.name_first, p.name_middle, p.date_birth, p.sex_type
    INTO NEW.list_last, NEW.list_first, NEW.list_middle, NEW.list_birth, NEW.list_sex
    FROM pacs.tblPatient p WHERE CAST(p.patient_id AS varchar) = CAST(NEW.patient_id AS varchar); SELECT m.LastName, m.FirstName, m.MiddleName, m.BirthDate, m.Sex
    INTO NEW.host_last, NEW.host_first, NEW.host_middle, NEW.host_birth, NEW.host_sex
    FROM patient_data.tbMaster m WHERE m.HospNum = NEW.hospnum; RETURN NEW; END
$$;

DROP TRIGGER trg_tblTransaction_list_names ON pacs.tblTransaction;
CREATE TRIGGER trg_tblTransaction_list_names BEFORE INSERT OR UPDATE OF patient_id, hospnum ON pacs.tblTransaction
  FOR EACH ROW EXECUTE FUNCTION pacs.tblTransaction_list_names();

CREATE OR REPLACE FUNCTION pacs.tblTransaction_refresh_list_names(ids varchar[]) RETURNS void LANGUAGE sql AS $$
  UPDATE pacs.tblTransaction t SET (list_last, list_first, list_middle, list_birth, list_sex) =
    (SELECT p.name_last, p.name_first, p.name_middle, p.date_birth, p.sex_type FROM pacs.tblPatient p
     WHERE CAST(p.patient_id AS varchar) = CAST(t.patient_id AS varchar))
  WHERE t.patient_id = ANY(ids)
$$;

DROP TRIGGER trg_tblPatient_list_names ON pacs.tblPatient;
CREATE TRIGGER trg_tblPatient_list_names AFTER INSERT OR DELETE OR UPDATE OF patient_id, name_last, name_first, name_middle, date_birth, sex_type
  ON pacs.tblPatient FOR EACH ROW EXECUTE FUNCTION pacs.tblPatient_list_names();

CREATE FUNCTION pacs.tbMaster_transaction_names() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  -- OLD is NULL on insert, NEW on delete; a NULL number matches no transaction.
  UPDATE pacs.tblTransaction t SET (host_last, host_first, host_middle, host_birth, host_sex) =
    (SELECT m.LastName, m.FirstName, m.MiddleName, m.BirthDate, m.Sex FROM patient_data.tbMaster m WHERE m.HospNum = t.hospnum)
    WHERE t.hospnum IN (OLD.HospNum, NEW.HospNum); RETURN NULL; END
$$;

CREATE TRIGGER trg_tbMaster_transaction_names AFTER INSERT OR DELETE OR UPDATE OF HospNum, LastName, FirstName, MiddleName, BirthDate, Sex
  ON patient_data.tbMaster FOR EACH ROW EXECUTE FUNCTION pacs.tbMaster_transaction_names();

-- Fills the copies of the transactions that were there before this version, 250 at a time,
-- each 250 in a transaction of their own (a save waits at most for one such batch). It sets the
-- joined number to itself so that the row trigger above computes the copies: the trigger reads
-- the patients when the row is written, and so never writes back what a patient's change, made
-- meanwhile, has replaced. A batch that deadlocks with such a change is run again. Run again
-- from the start, the whole does the same.
CREATE PROCEDURE pacs.tblTransaction_fill_copies() LANGUAGE plpgsql AS $$
DECLARE low BIGINT := 0; top BIGINT := (SELECT max(trans_id) FROM pacs.tblTransaction); BEGIN
  WHILE low < top LOOP
    BEGIN UPDATE pacs.tblTransaction SET patient_id = patient_id WHERE trans_id > low AND trans_id <= low + 250; low := low + 250; EXCEPTION
      WHEN deadlock_detected THEN NULL; END; COMMIT; END LOOP; END
$$;

UPDATE pacs.tblSchemaVersion SET version = 12;

-- Built online
CALL pacs.tblTransaction_fill_copies();
-- A name prefix of the list in either patient mode: the name's range, and every column the list
-- shows, read from the index alone.
CREATE INDEX CONCURRENTLY IF NOT EXISTS ix_tblTransaction_register_prefix ON pacs.tblTransaction (list_last varchar_pattern_ops)
  INCLUDE (RevenueID, list_first, list_middle, list_birth, list_sex, trans_no, trans_id, patient_id, hospnum, exam_id, date_trans, file_no);
CREATE INDEX CONCURRENTLY IF NOT EXISTS ix_tblTransaction_master_prefix ON pacs.tblTransaction (host_last varchar_pattern_ops)
  INCLUDE (RevenueID, host_first, host_middle, host_birth, host_sex, trans_no, trans_id, patient_id, hospnum, exam_id, date_trans, file_no);
-- Marks the rows the fill rewrote as visible to all, which reading from an index alone needs,
-- and gathers the new columns' statistics.
VACUUM (ANALYZE) pacs.tblTransaction;
