-- The indexes of the list and picker searches.
-- On the embedded files (one workstation) the statements after the line "-- Built online" run in
-- the upgrade's transaction like the rest of the file. SQLite orders NULLs first, so
-- ix_tbMaster_name already gives the hospital master's list order.

UPDATE pacs.tblSchemaVersion SET version = 9;

-- Built online
