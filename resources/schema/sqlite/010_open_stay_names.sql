-- The in-patient and out-patient lists search the names of the patients with an open stay or an
-- unbilled visit, a few thousand among millions in the hospital master. Each stay and visit keeps
-- a copy of its patient's last name (list_last: NULL when no master row joins), kept by the
-- triggers below, so that an index of the open ones alone serves the searches: a part of a name
-- of any length (two letters too, which the trigram index cannot serve) is looked for among the
-- open stays in name order, and a name prefix among the unbilled visits.
-- The copies are recomputed from tbMaster whenever either side of the join changes; nothing else
-- writes them. The schema runs statement by statement, split at lines that end in ';': a trigger is one line.

ALTER TABLE Patient_Data.tbPatient ADD COLUMN list_last VARCHAR(50);
ALTER TABLE Patient_Data.tbOutPatient ADD COLUMN list_last VARCHAR(50);

UPDATE Patient_Data.tbPatient SET list_last = (SELECT m.LastName FROM tbMaster m WHERE m.HospNum = tbPatient.HospNum);
UPDATE Patient_Data.tbOutPatient SET list_last = (SELECT m.LastName FROM tbMaster m WHERE m.HospNum = tbOutPatient.HospNum);

CREATE TRIGGER Patient_Data.trg_tbPatient_list_insert AFTER INSERT ON tbPatient BEGIN UPDATE tbPatient SET list_last = (SELECT m.LastName FROM tbMaster m WHERE m.HospNum = NEW.HospNum) WHERE rowid = NEW.rowid; END;
CREATE TRIGGER Patient_Data.trg_tbPatient_list_update AFTER UPDATE OF HospNum ON tbPatient BEGIN UPDATE tbPatient SET list_last = (SELECT m.LastName FROM tbMaster m WHERE m.HospNum = NEW.HospNum) WHERE rowid = NEW.rowid; END;
CREATE TRIGGER Patient_Data.trg_tbOutPatient_list_insert AFTER INSERT ON tbOutPatient BEGIN UPDATE tbOutPatient SET list_last = (SELECT m.LastName FROM tbMaster m WHERE m.HospNum = NEW.HospNum) WHERE rowid = NEW.rowid; END;
CREATE TRIGGER Patient_Data.trg_tbOutPatient_list_update AFTER UPDATE OF HospNum ON tbOutPatient BEGIN UPDATE tbOutPatient SET list_last = (SELECT m.LastName FROM tbMaster m WHERE m.HospNum = NEW.HospNum) WHERE rowid = NEW.rowid; END;
CREATE TRIGGER Patient_Data.trg_tbMaster_stay_names_insert AFTER INSERT ON tbMaster BEGIN UPDATE tbPatient SET list_last = NEW.LastName WHERE HospNum = NEW.HospNum; UPDATE tbOutPatient SET list_last = NEW.LastName WHERE HospNum = NEW.HospNum; END;
CREATE TRIGGER Patient_Data.trg_tbMaster_stay_names_update AFTER UPDATE OF HospNum, LastName ON tbMaster BEGIN UPDATE tbPatient SET list_last = (SELECT m.LastName FROM tbMaster m WHERE m.HospNum = tbPatient.HospNum) WHERE HospNum IN (OLD.HospNum, NEW.HospNum); UPDATE tbOutPatient SET list_last = (SELECT m.LastName FROM tbMaster m WHERE m.HospNum = tbOutPatient.HospNum) WHERE HospNum IN (OLD.HospNum, NEW.HospNum); END;
CREATE TRIGGER Patient_Data.trg_tbMaster_stay_names_delete AFTER DELETE ON tbMaster BEGIN UPDATE tbPatient SET list_last = NULL WHERE HospNum = OLD.HospNum; UPDATE tbOutPatient SET list_last = NULL WHERE HospNum = OLD.HospNum; END;

-- The trigram index of the master's names served the in-patient search alone.
DROP TRIGGER Patient_Data.trg_tbMaster_trigrams_insert;
DROP TRIGGER Patient_Data.trg_tbMaster_trigrams_delete;
DROP TRIGGER Patient_Data.trg_tbMaster_trigrams_update;
DROP TABLE Patient_Data.tbMaster_name_trigrams;

UPDATE pacs.tblSchemaVersion SET version = 10;

-- Built online
-- The open stays in list order (a part of the name is looked for along it), and the unbilled
-- visits by name prefix (LIKE ignores the case of ASCII letters here, so its prefix range needs a
-- NOCASE index) and in list order.
CREATE INDEX Patient_Data.ix_tbPatient_open_names ON tbPatient (list_last, HospNum, AdmDate) WHERE DcrDate IS NULL;
CREATE INDEX Patient_Data.ix_tbOutPatient_unbilled_names ON tbOutPatient (list_last COLLATE NOCASE) WHERE BillingDate IS NULL;
CREATE INDEX Patient_Data.ix_tbOutPatient_unbilled_order ON tbOutPatient (list_last, HospNum, AdmDate) WHERE BillingDate IS NULL;

