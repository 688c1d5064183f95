-- The server's finer name statistics: SQLite plans the list's prefix searches without them.

UPDATE pacs.tblSchemaVersion SET version = 11;
