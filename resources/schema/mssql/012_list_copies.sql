-- The server's copies of the patients' birth dates and sexes and of the hospital master's names on
-- the transactions: this server's list keeps reading the patients. Run with sqlcmd.
USE pacs;
GO
UPDATE dbo.tblSchemaVersion SET version = 12;
GO
