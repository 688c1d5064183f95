-- The searches of the patient, staff and exam pick lists.
-- LIKE ignores the case of ASCII letters here, so its prefix range needs NOCASE indexes.
-- The in-patient and out-patient lists start from the open stays and the unbilled visits.
CREATE INDEX Patient_Data.ix_tbMaster_lastname_nocase ON tbMaster (LastName COLLATE NOCASE);
CREATE INDEX Patient_Data.ix_tbPatient_admitted ON tbPatient (HospNum) WHERE DcrDate IS NULL;
CREATE INDEX Patient_Data.ix_tbOutPatient_unbilled ON tbOutPatient (HospNum) WHERE BillingDate IS NULL;
CREATE INDEX pacs.ix_tblTechnologist_name_nocase ON tblTechnologist (name_last COLLATE NOCASE);
CREATE INDEX build_file.ix_tbcoDoctor_lastname_nocase ON tbcoDoctor (LastName COLLATE NOCASE);

-- The in-patient list finds a part of a last name of three letters or more through a trigram
-- index of the hospital master's last names, kept by the triggers below (one line each).
CREATE VIRTUAL TABLE Patient_Data.tbMaster_name_trigrams USING fts5(LastName, content='tbMaster', content_rowid='rowid', tokenize='trigram');
CREATE TRIGGER Patient_Data.trg_tbMaster_trigrams_insert AFTER INSERT ON tbMaster BEGIN INSERT INTO tbMaster_name_trigrams(rowid, LastName) VALUES (NEW.rowid, NEW.LastName); END;
CREATE TRIGGER Patient_Data.trg_tbMaster_trigrams_delete AFTER DELETE ON tbMaster BEGIN INSERT INTO tbMaster_name_trigrams(tbMaster_name_trigrams, rowid, LastName) VALUES ('delete', OLD.rowid, OLD.LastName); END;
CREATE TRIGGER Patient_Data.trg_tbMaster_trigrams_update AFTER UPDATE OF LastName ON tbMaster BEGIN INSERT INTO tbMaster_name_trigrams(tbMaster_name_trigrams, rowid, LastName) VALUES ('delete', OLD.rowid, OLD.LastName); INSERT INTO tbMaster_name_trigrams(rowid, LastName) VALUES (NEW.rowid, NEW.LastName); END;
INSERT INTO Patient_Data.tbMaster_name_trigrams(tbMaster_name_trigrams) VALUES ('rebuild');

UPDATE pacs.tblSchemaVersion SET version = 3;
