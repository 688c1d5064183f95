#pragma once

#include "outside/Connection.h"

#include <QList>
#include <QMap>
#include <QString>

class QPrinter;
class QTextDocument;

namespace orv {

// One formula field of a report: its name and its formula text.
struct FormulaField
{
    QString name;
    QString text;
};

// A report file of ours (plain text, editable by a department):
//
//     ORVALINE-REPORT 1
//     title Result Report
//     formula VarDeclaration
//     formula Int
//     layout
//     <h2>{CompanyName}</h2> ... {@Int} ...
//
// The lines before "layout" name the formula fields in their order; the rest is the page in
// HTML. "{Name}" stands for a variable declared by any formula ("stringvar Name := 'text';"),
// "{@Field}" for the value of a formula field (a formula holding one quoted text). Inside a
// quoted text an apostrophe is written twice. Values are placed as text, never as markup.
class Report
{
public:
    // Opens a report file; throws orv::Error with the reason when it is missing or damaged.
    static Report open(const QString &path);

    int formulaFieldCount() const { return int(m_fields.size()); }
    // 1-based, as the fields are enumerated.
    FormulaField &formulaField(int index) { return m_fields[index - 1]; }
    const FormulaField &formulaField(int index) const { return m_fields[index - 1]; }
    const QString &title() const { return m_title; }

    // Logs the report's database on to the server as the user: a connection like `base` with
    // that server, user and password is opened and closed again. Throws orv::Error with the
    // database's reason when the logon is refused.
    void logOn(const ConnectionConfig &base, const QString &server, const QString &user, const QString &password);

    // The variables the formulas declare, and the values of the formula fields. Throws
    // orv::Error naming the field when a formula cannot be read.
    QMap<QString, QString> variables() const;
    QString fieldValue(const QString &name) const;

    // The laid-out report, ready for a printer (pages follow the printer's page size).
    QString html() const;
    void fill(QTextDocument &doc) const;
    void print(QPrinter &printer) const;
    // Writes the report as a PDF; throws orv::Error when the file cannot be written.
    void writePdf(const QString &path) const;

private:
    QString m_title;
    QList<FormulaField> m_fields;
    QString m_layout;
};

// A value as it goes between the apostrophes of a formula text: each apostrophe doubled.
QString formulaEscape(const QString &value);

// Reads declarations "stringvar Name := 'text';" (numbervar takes a number) into variables.
// Throws orv::Error with the position when the text is not a list of declarations.
QMap<QString, QString> parseDeclarations(const QString &formula);

} // namespace orv
