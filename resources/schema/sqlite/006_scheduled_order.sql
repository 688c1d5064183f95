-- The worklist order an exam was taken from (its accession number is the transaction number):
-- the scheduled step, the requested procedure and the order's study, so that objects stamped
-- after the exam is reopened still name the order.
ALTER TABLE pacs.tblTransaction ADD COLUMN order_step_id VARCHAR(16);
ALTER TABLE pacs.tblTransaction ADD COLUMN order_proc_id VARCHAR(16);
ALTER TABLE pacs.tblTransaction ADD COLUMN order_proc_desc VARCHAR(64);
ALTER TABLE pacs.tblTransaction ADD COLUMN order_study_uid VARCHAR(64);

UPDATE pacs.tblSchemaVersion SET version = 6;
