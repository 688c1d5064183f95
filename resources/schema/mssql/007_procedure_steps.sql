-- Performed procedure steps (see the other backends' schema).
-- Run with sqlcmd (statements separated by GO).
USE pacs;
GO
ALTER TABLE dbo.tblSendQueue ADD service VARCHAR(16) NOT NULL DEFAULT '', series_uid VARCHAR(64) NULL;
GO
CREATE TABLE dbo.tblProcedureStep (
  pps_uid VARCHAR(64) NOT NULL PRIMARY KEY,
  trans_no VARCHAR(16) NOT NULL,
  state VARCHAR(16) NOT NULL,
  workstation VARCHAR(64) NOT NULL,
  started_at BIGINT NOT NULL,
  ended_at BIGINT NOT NULL DEFAULT 0
);
GO
CREATE INDEX ix_tblProcedureStep_trans ON dbo.tblProcedureStep (trans_no);
GO
UPDATE dbo.tblSchemaVersion SET version = 7;
GO
