-- The worklist order an exam was taken from (see the other backends' schema).
-- Run with sqlcmd (statements separated by GO).
USE pacs;
GO
ALTER TABLE dbo.tblTransaction ADD order_step_id VARCHAR(16) NULL, order_proc_id VARCHAR(16) NULL,
    order_proc_desc VARCHAR(64) NULL, order_study_uid VARCHAR(64) NULL;
GO
UPDATE dbo.tblSchemaVersion SET version = 6;
GO
