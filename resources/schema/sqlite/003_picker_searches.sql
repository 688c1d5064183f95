-- The searches of the patient, staff and exam pick lists.
-- LIKE ignores the case of ASCII letters here, so its prefix range needs NOCASE indexes.
-- The in-patient and out-patient lists start from the open stays and the unbilled visits.
CREATE INDEX Patient_Data.ix_tbMaster_lastname_nocase ON tbMaster (LastName COLLATE NOCASE);
CREATE INDEX Patient_Data.ix_tbPatient_admitted ON tbPatient (HospNum) WHERE DcrDate IS NULL;
CREATE INDEX Patient_Data.ix_tbOutPatient_unbilled ON tbOutPatient (HospNum) WHERE BillingDate IS NULL;
CREATE INDEX pacs.ix_tblTechnologist_name_nocase ON tblTechnologist (name_last COLLATE NOCASE);
CREATE INDEX build_file.ix_tbcoDoctor_lastname_nocase ON tbcoDoctor (LastName COLLATE NOCASE);

UPDATE pacs.tblSchemaVersion SET version = 3;
