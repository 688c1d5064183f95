-- The searches of the technologist pick list (the hospital's own tables keep their indexes).
-- Run with sqlcmd (statements separated by GO).
USE pacs;
GO
CREATE INDEX ix_tblTechnologist_name ON dbo.tblTechnologist (name_last);
UPDATE dbo.tblSchemaVersion SET version = 3;
GO
