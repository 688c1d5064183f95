-- The server's finer name statistics: SQL Server keeps its own. Run with sqlcmd.
USE pacs;
GO
UPDATE dbo.tblSchemaVersion SET version = 11;
GO
