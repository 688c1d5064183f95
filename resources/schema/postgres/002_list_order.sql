-- The transaction list orders by the names of the patient whose registration number joins to the
-- transaction (text to text), NULL names first. Each transaction keeps a copy of those names
-- (list_last, list_first, list_middle: NULL when no patient joins), kept by the triggers below,
-- so that an index hands the list out in its order without sorting every row.
-- The copies are recomputed from tblPatient whenever either side of the join changes; nothing
-- else writes them.
-- The schema runs statement by statement, split at lines that end in ';': no line of a function
-- body ends in one.

ALTER TABLE pacs.tblTransaction ADD COLUMN list_last VARCHAR(50), ADD COLUMN list_first VARCHAR(50),
  ADD COLUMN list_middle VARCHAR(50);

UPDATE pacs.tblTransaction t SET list_last = p.name_last, list_first = p.name_first, list_middle = p.name_middle
  FROM pacs.tblPatient p WHERE CAST(p.patient_id AS varchar) = CAST(t.patient_id AS varchar);

CREATE FUNCTION pacs.tblTransaction_list_names() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  SELECT p.name_last, p.name_first, p.name_middle INTO NEW.list_last, NEW.list_first, NEW.list_middle
    FROM pacs.tblPatient p WHERE CAST(p.patient_id AS varchar) = CAST(NEW.patient_id AS varchar); RETURN NEW; END
$$;

CREATE TRIGGER trg_tblTransaction_list_names BEFORE INSERT OR UPDATE OF patient_id ON pacs.tblTransaction
  FOR EACH ROW EXECUTE FUNCTION pacs.tblTransaction_list_names();

-- Recomputes the copies of the transactions whose registration number is one of ids.
-- tblTransaction.patient_id is text, so "patient_id = ANY(ids)" is the join's own comparison.
CREATE FUNCTION pacs.tblTransaction_refresh_list_names(ids varchar[]) RETURNS void LANGUAGE sql AS $$
  UPDATE pacs.tblTransaction t SET (list_last, list_first, list_middle) =
    (SELECT p.name_last, p.name_first, p.name_middle FROM pacs.tblPatient p
     WHERE CAST(p.patient_id AS varchar) = CAST(t.patient_id AS varchar))
  WHERE t.patient_id = ANY(ids)
$$;

CREATE FUNCTION pacs.tblPatient_list_names() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  -- OLD is NULL on insert, NEW on delete; a NULL number matches no transaction.
  PERFORM pacs.tblTransaction_refresh_list_names(ARRAY[CAST(OLD.patient_id AS varchar), CAST(NEW.patient_id AS varchar)]); RETURN NULL; END
$$;

CREATE TRIGGER trg_tblPatient_list_names AFTER INSERT OR DELETE OR UPDATE OF patient_id, name_last, name_first, name_middle
  ON pacs.tblPatient FOR EACH ROW EXECUTE FUNCTION pacs.tblPatient_list_names();

-- The list in its order (NULLs as the list statement asks for them), over every modality and
-- within one.
CREATE INDEX ix_tblTransaction_list_order ON pacs.tblTransaction
  (list_last NULLS FIRST, list_first NULLS FIRST, list_middle NULLS FIRST, trans_no DESC NULLS LAST);
CREATE INDEX ix_tblTransaction_modality_list_order ON pacs.tblTransaction
  (RevenueID, list_last NULLS FIRST, list_first NULLS FIRST, list_middle NULLS FIRST, trans_no DESC NULLS LAST);

UPDATE pacs.tblSchemaVersion SET version = 2;
