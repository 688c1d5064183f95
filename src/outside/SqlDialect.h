#pragma once

#include <QDate>
#include <QString>
#include <QVariantList>

namespace orv {

enum class Backend { SQLite, PostgreSQL, SqlServer };

QString backendName(Backend backend);

// Rewrites a statement written in T-SQL (with '?' placeholders) into the dialect of a backend.
// Only what differs is rewritten; on SQL Server the text is returned unchanged:
//  - database qualifiers "pacs..", "pacs.dbo.", "PACS.." become "pacs." (an attached database
//    on SQLite, a schema on PostgreSQL);
//  - "SELECT TOP n" becomes a trailing "LIMIT n";
//  - "+" with a string literal or a placeholder beside it becomes "||";
//  - convert(varchar(10), <column>, 101) renders the column as MM/DD/YYYY; with a placeholder
//    or a literal in place of the column the value is read as an MM/DD/YYYY date;
//  - a placeholder assigned to, compared with or inserted into a date column is read as an
//    MM/DD/YYYY date (as SQL Server converts such a text implicitly);
//  - getdate(), isnull() and len() become the backend's functions;
//  - the stored procedures the program calls become the equivalent SELECT.
// Values read as dates are rewritten in `params` (ISO text for SQLite, QDate for PostgreSQL);
// an empty text becomes NULL. A text that is not a date throws orv::Error with SQL Server's
// own description, so that every backend refuses the same input.
QString translateSql(const QString &tsql, Backend backend, QVariantList &params);

// True for the column names the schema declares as dates (compared without case).
bool isDateColumn(const QString &column);

// Parses "MM/DD/YYYY" (also "M/D/YYYY") into a date; an invalid date on failure.
QDate parseMdy(const QString &text);

} // namespace orv
