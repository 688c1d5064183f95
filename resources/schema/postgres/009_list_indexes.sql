-- The indexes of the list and picker searches.
-- What comes before the line "-- Built online" runs in the upgrade's transaction, like every
-- schema file. The statements after it build or drop indexes on tables of millions of rows: they
-- run after that transaction has committed, one at a time and each on its own, by one
-- workstation at a time, while the others keep working (CONCURRENTLY: no write to the table
-- waits for the build). They are idempotent (IF NOT EXISTS, IF EXISTS): a build that was
-- interrupted is run again from the start. The program is correct without them; they only make
-- reads faster.

-- The index work left to run online, one row per schema version that has some: its statements,
-- and when they all completed (milliseconds since 1970-01-01 UTC; NULL while pending).
CREATE TABLE pacs.tblSchemaOnline (
  version INTEGER PRIMARY KEY,
  statements TEXT NOT NULL,
  done_at BIGINT
);

UPDATE pacs.tblSchemaVersion SET version = 9;

-- Built online
-- The transaction list in hospital-master mode orders by the master's names with NULLs first,
-- which the default order of ix_tbMaster_name (NULLs last) cannot give; this one serves that
-- order and the equality and range lookups on the names as well.
CREATE INDEX CONCURRENTLY IF NOT EXISTS ix_tbMaster_list_order ON patient_data.tbMaster
  (LastName NULLS FIRST, FirstName NULLS FIRST, MiddleName NULLS FIRST);
DROP INDEX CONCURRENTLY IF EXISTS patient_data.ix_tbMaster_name;
