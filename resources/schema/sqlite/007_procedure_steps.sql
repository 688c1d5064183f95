-- Performed procedure steps: the step an exam is in (one at a time), told to the department's
-- RIS through the send queue. Queue entries gain the service they are for ('' a store, 'N-CREATE'
-- or 'N-SET' a step message whose file holds its data set) and the series of a stored object,
-- which a step's final message lists.
ALTER TABLE pacs.tblSendQueue ADD COLUMN service VARCHAR(16) NOT NULL DEFAULT '';
ALTER TABLE pacs.tblSendQueue ADD COLUMN series_uid VARCHAR(64);
CREATE TABLE pacs.tblProcedureStep (
  pps_uid VARCHAR(64) PRIMARY KEY,
  trans_no VARCHAR(16) NOT NULL,
  state VARCHAR(16) NOT NULL,
  workstation VARCHAR(64) NOT NULL,
  started_at BIGINT NOT NULL,
  ended_at BIGINT NOT NULL DEFAULT 0
);
CREATE INDEX pacs.ix_tblProcedureStep_trans ON tblProcedureStep (trans_no);

UPDATE pacs.tblSchemaVersion SET version = 7;
