-- The transaction list orders by the names of the patient whose registration number joins to the
-- transaction (text to text), NULL names first. Each transaction keeps a copy of those names
-- (list_last, list_first, list_middle: NULL when no patient joins), kept by the triggers below,
-- so that an index hands the list out in its order without sorting every row.
-- The copies are recomputed from tblPatient whenever either side of the join changes; nothing
-- else writes them.
-- The schema runs statement by statement, split at lines that end in ';': a trigger is one line.

ALTER TABLE pacs.tblTransaction ADD COLUMN list_last VARCHAR(50);
ALTER TABLE pacs.tblTransaction ADD COLUMN list_first VARCHAR(50);
ALTER TABLE pacs.tblTransaction ADD COLUMN list_middle VARCHAR(50);

UPDATE pacs.tblTransaction SET (list_last, list_first, list_middle) =
  (SELECT p.name_last, p.name_first, p.name_middle FROM pacs.tblPatient p
   WHERE CAST(p.patient_id AS varchar) = CAST(tblTransaction.patient_id AS varchar));

CREATE TRIGGER pacs.trg_tblTransaction_list_insert AFTER INSERT ON tblTransaction
BEGIN UPDATE tblTransaction SET (list_last, list_first, list_middle) = (SELECT p.name_last, p.name_first, p.name_middle FROM tblPatient p WHERE CAST(p.patient_id AS varchar) = CAST(NEW.patient_id AS varchar)) WHERE trans_id = NEW.trans_id; END;

CREATE TRIGGER pacs.trg_tblTransaction_list_patient AFTER UPDATE OF patient_id ON tblTransaction
BEGIN UPDATE tblTransaction SET (list_last, list_first, list_middle) = (SELECT p.name_last, p.name_first, p.name_middle FROM tblPatient p WHERE CAST(p.patient_id AS varchar) = CAST(NEW.patient_id AS varchar)) WHERE trans_id = NEW.trans_id; END;

-- tblTransaction.patient_id holds text, so "patient_id = CAST(x AS varchar)" is the join's own
-- comparison, and it finds the rows through ix_tblTransaction_patient.
CREATE TRIGGER pacs.trg_tblPatient_list_insert AFTER INSERT ON tblPatient
BEGIN UPDATE tblTransaction SET (list_last, list_first, list_middle) = (SELECT p.name_last, p.name_first, p.name_middle FROM tblPatient p WHERE CAST(p.patient_id AS varchar) = CAST(tblTransaction.patient_id AS varchar)) WHERE patient_id = CAST(NEW.patient_id AS varchar); END;

CREATE TRIGGER pacs.trg_tblPatient_list_update AFTER UPDATE OF patient_id, name_last, name_first, name_middle ON tblPatient
BEGIN UPDATE tblTransaction SET (list_last, list_first, list_middle) = (SELECT p.name_last, p.name_first, p.name_middle FROM tblPatient p WHERE CAST(p.patient_id AS varchar) = CAST(tblTransaction.patient_id AS varchar)) WHERE patient_id IN (CAST(OLD.patient_id AS varchar), CAST(NEW.patient_id AS varchar)); END;

CREATE TRIGGER pacs.trg_tblPatient_list_delete AFTER DELETE ON tblPatient
BEGIN UPDATE tblTransaction SET (list_last, list_first, list_middle) = (SELECT p.name_last, p.name_first, p.name_middle FROM tblPatient p WHERE CAST(p.patient_id AS varchar) = CAST(tblTransaction.patient_id AS varchar)) WHERE patient_id = CAST(OLD.patient_id AS varchar); END;

-- The list in its order, over every modality and within one.
CREATE INDEX pacs.ix_tblTransaction_list_order ON tblTransaction (list_last, list_first, list_middle, trans_no DESC);
CREATE INDEX pacs.ix_tblTransaction_modality_list_order ON tblTransaction (RevenueID, list_last, list_first, list_middle, trans_no DESC);
-- Prefix searches: LIKE ignores the case of ASCII letters here, so its prefix range needs NOCASE indexes.
CREATE INDEX pacs.ix_tblPatient_name_last_nocase ON tblPatient (name_last COLLATE NOCASE);
CREATE INDEX pacs.ix_tblTransaction_trans_no_nocase ON tblTransaction (trans_no COLLATE NOCASE);

UPDATE pacs.tblSchemaVersion SET version = 2;
