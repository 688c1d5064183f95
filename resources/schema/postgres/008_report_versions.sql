-- The result report of an exam as stored in the archive: one row per version sent, all of an
-- exam in one series of its own (series_uid and series_num of the first version). A later save
-- sends the next version under a new SOP Instance UID that names the one it replaces
-- (replaces_uid). saved_at is milliseconds since 1970-01-01 UTC.
CREATE TABLE pacs.tblReportVersion (
  trans_no VARCHAR(16) NOT NULL,
  version INTEGER NOT NULL,
  series_uid VARCHAR(64) NOT NULL,
  series_num INTEGER NOT NULL,
  sop_instance_uid VARCHAR(64) NOT NULL,
  replaces_uid VARCHAR(64),
  radiologist_id VARCHAR(10),
  saved_by VARCHAR(20),
  saved_at BIGINT NOT NULL,
  PRIMARY KEY (trans_no, version)
);

UPDATE pacs.tblSchemaVersion SET version = 8;
