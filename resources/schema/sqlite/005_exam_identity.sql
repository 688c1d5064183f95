-- The number the hospital and its worklist know a registered person by (the DICOM Patient ID of
-- their exams), so that a worklist entry finds the person registered under another number.
ALTER TABLE pacs.tblPatient ADD COLUMN hospnum VARCHAR(10) CHECK (length(hospnum) <= 10);
CREATE INDEX pacs.ix_tblPatient_hospnum ON tblPatient (hospnum);
-- The highest series number issued for the exam: a reopened exam goes on from it.
ALTER TABLE pacs.tblTransaction ADD COLUMN series_num INTEGER;

UPDATE pacs.tblSchemaVersion SET version = 5;
