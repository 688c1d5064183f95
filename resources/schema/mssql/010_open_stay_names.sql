-- The in-patient and out-patient searches: the hospital's own tables are left as they are on the
-- hospital's server (their searches read them as written). Run with sqlcmd.
USE pacs;
GO
UPDATE dbo.tblSchemaVersion SET version = 10;
GO
