-- The send queue (see the other backends' schema for the meaning of the columns).
-- Run with sqlcmd (statements separated by GO).
USE pacs;
GO
CREATE TABLE dbo.tblSendQueue (
  queue_id BIGINT IDENTITY(1,1) PRIMARY KEY,
  send_id VARCHAR(64) NOT NULL,
  trans_no VARCHAR(16) NOT NULL,
  file_path NVARCHAR(1000) NOT NULL,
  source_path NVARCHAR(1000) NOT NULL,
  label VARCHAR(255),
  dest_host VARCHAR(255) NOT NULL,
  dest_port INTEGER NOT NULL,
  dest_calling_ae VARCHAR(16) NOT NULL,
  dest_called_ae VARCHAR(16) NOT NULL,
  commit_wanted INTEGER NOT NULL DEFAULT 0,
  stop_on_failure INTEGER NOT NULL DEFAULT 0,
  sop_class_uid VARCHAR(64) NOT NULL,
  sop_instance_uid VARCHAR(64) NOT NULL,
  transfer_syntax VARCHAR(64) NOT NULL,
  workstation VARCHAR(64) NOT NULL,
  state VARCHAR(16) NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  next_attempt BIGINT NOT NULL DEFAULT 0,
  last_status NVARCHAR(1000),
  claimed_by VARCHAR(80),
  claim_until BIGINT NOT NULL DEFAULT 0,
  commit_uid VARCHAR(64),
  commit_asked BIGINT NOT NULL DEFAULT 0,
  queued_at BIGINT NOT NULL,
  updated_at BIGINT NOT NULL
);
CREATE INDEX ix_tblSendQueue_due ON dbo.tblSendQueue (workstation, state, next_attempt);
CREATE INDEX ix_tblSendQueue_commit ON dbo.tblSendQueue (commit_uid);
CREATE INDEX ix_tblSendQueue_trans ON dbo.tblSendQueue (trans_no);

UPDATE dbo.tblSchemaVersion SET version = 4;
GO
