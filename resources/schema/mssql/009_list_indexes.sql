-- The indexes of the list and picker searches (see the other backends' schema).
-- Run with sqlcmd (statements separated by GO); each batch commits on its own. The indexes after
-- the line "-- Built online" are plain CREATE INDEX: ONLINE = ON needs the Enterprise edition, so
-- run this file when the department can stand the build's lock on the table. SQL Server orders
-- NULLs first, so the hospital master's list order needs no index of its own here.
USE pacs;
GO
UPDATE dbo.tblSchemaVersion SET version = 9;
GO
-- Built online
