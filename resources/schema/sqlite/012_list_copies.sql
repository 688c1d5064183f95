-- The server's copies of the patients' birth dates and sexes and of the hospital master's names on
-- the transactions: SQLite reads a name prefix of the list within its time without them.

UPDATE pacs.tblSchemaVersion SET version = 12;
