-- The versions of an exam's result report sent to the archive (see the other backends' schema).
-- Run with sqlcmd (statements separated by GO).
USE pacs;
GO
CREATE TABLE dbo.tblReportVersion (
  trans_no VARCHAR(16) NOT NULL,
  version INT NOT NULL,
  series_uid VARCHAR(64) NOT NULL,
  series_num INT NOT NULL,
  sop_instance_uid VARCHAR(64) NOT NULL,
  replaces_uid VARCHAR(64) NULL,
  radiologist_id VARCHAR(10) NULL,
  saved_by VARCHAR(20) NULL,
  saved_at BIGINT NOT NULL,
  PRIMARY KEY (trans_no, version)
);
GO
UPDATE dbo.tblSchemaVersion SET version = 8;
GO
