-- The searches of the patient, staff and exam pick lists.
-- Prefix searches use pattern indexes, which serve LIKE 'text%' under any collation; the
-- in-patient list's substring search (LIKE '%text%') uses a trigram index. The in-patient and
-- out-patient lists start from the open stays and the unbilled visits.
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE INDEX ix_tbMaster_lastname_prefix ON patient_data.tbMaster (LastName varchar_pattern_ops);
CREATE INDEX ix_tbMaster_lastname_trgm ON patient_data.tbMaster USING gin (LastName gin_trgm_ops);
CREATE INDEX ix_tbPatient_admitted ON patient_data.tbPatient (HospNum) WHERE DcrDate IS NULL;
CREATE INDEX ix_tbOutPatient_unbilled ON patient_data.tbOutPatient (HospNum) WHERE BillingDate IS NULL;
CREATE INDEX ix_tblTechnologist_name_prefix ON pacs.tblTechnologist (name_last varchar_pattern_ops);
CREATE INDEX ix_tbcoDoctor_lastname_prefix ON build_file.tbcoDoctor (LastName varchar_pattern_ops);

-- Finer statistics for the searched names and numbers: with the default sample a name prefix
-- can be estimated at twenty times its rows, and the transaction list then reads every
-- transaction instead of the few found.
ALTER TABLE pacs.tblPatient ALTER COLUMN name_last SET STATISTICS 1000;
ALTER TABLE pacs.tblTransaction ALTER COLUMN trans_no SET STATISTICS 1000;
ALTER TABLE patient_data.tbMaster ALTER COLUMN LastName SET STATISTICS 1000;

UPDATE pacs.tblSchemaVersion SET version = 3;

-- Statistics now, so that the planner chooses these indexes before autovacuum first runs.
ANALYZE;
