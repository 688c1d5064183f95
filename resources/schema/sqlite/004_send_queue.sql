-- The send queue: every object a send hands to the storage archive, as a copy ready to send,
-- until the archive has stored (and, where asked, committed) it or refused it for good.
-- Times are milliseconds since 1970-01-01 UTC. An entry is delivered only by a sender of the
-- workstation that queued it, and only while that sender holds its claim (claimed_by, renewed
-- until claim_until); a claim past claim_until belongs to a sender that died and is taken back.
CREATE TABLE pacs.tblSendQueue (
  queue_id INTEGER PRIMARY KEY AUTOINCREMENT,
  send_id VARCHAR(64) NOT NULL,
  trans_no VARCHAR(16) NOT NULL,
  file_path VARCHAR(1000) NOT NULL,
  source_path VARCHAR(1000) NOT NULL,
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
  last_status VARCHAR(1000),
  claimed_by VARCHAR(80),
  claim_until BIGINT NOT NULL DEFAULT 0,
  commit_uid VARCHAR(64),
  commit_asked BIGINT NOT NULL DEFAULT 0,
  queued_at BIGINT NOT NULL,
  updated_at BIGINT NOT NULL
);
CREATE INDEX pacs.ix_tblSendQueue_due ON tblSendQueue (workstation, state, next_attempt);
CREATE INDEX pacs.ix_tblSendQueue_commit ON tblSendQueue (commit_uid);
CREATE INDEX pacs.ix_tblSendQueue_trans ON tblSendQueue (trans_no);

UPDATE pacs.tblSchemaVersion SET version = 4;
