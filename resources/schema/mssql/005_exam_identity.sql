-- The number the hospital and its worklist know a registered person by, and the highest series
-- number issued for an exam (see the other backends' schema).
-- Run with sqlcmd (statements separated by GO).
USE pacs;
GO
ALTER TABLE dbo.tblPatient ADD hospnum VARCHAR(10) NULL;
GO
CREATE INDEX ix_tblPatient_hospnum ON dbo.tblPatient (hospnum);
ALTER TABLE dbo.tblTransaction ADD series_num INTEGER NULL;

UPDATE dbo.tblSchemaVersion SET version = 5;
GO
