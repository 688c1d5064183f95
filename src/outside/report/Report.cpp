#include "outside/report/Report.h"

#include "outside/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextDocument>

namespace orv {

namespace {

const QString Magic = QStringLiteral("ORVALINE-REPORT");

// A reader of the formula language: declarations and quoted texts.
class FormulaReader
{
public:
    explicit FormulaReader(const QString &text) : m_text(text) {}

    bool atEnd()
    {
        skipSpace();
        return m_pos >= m_text.size();
    }

    bool accept(QChar c)
    {
        skipSpace();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    void expect(const QString &token)
    {
        skipSpace();
        if (m_text.mid(m_pos, token.size()) != token)
            fail(QStringLiteral("\"%1\" expected").arg(token));
        m_pos += token.size();
    }

    QString word()
    {
        skipSpace();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && (m_text[m_pos].isLetterOrNumber() || m_text[m_pos] == QLatin1Char('_')))
            ++m_pos;
        if (start == m_pos)
            fail(QStringLiteral("a name expected"));
        return m_text.mid(start, m_pos - start);
    }

    // 'text' with '' for an apostrophe, or "text" with "" for a quote.
    QString quoted()
    {
        skipSpace();
        if (m_pos >= m_text.size() || (m_text[m_pos] != QLatin1Char('\'') && m_text[m_pos] != QLatin1Char('"')))
            fail(QStringLiteral("a quoted text expected"));
        const QChar q = m_text[m_pos++];
        QString out;
        while (true) {
            if (m_pos >= m_text.size())
                fail(QStringLiteral("the quoted text is not closed"));
            const QChar c = m_text[m_pos++];
            if (c == q) {
                if (m_pos < m_text.size() && m_text[m_pos] == q) {
                    out += q;
                    ++m_pos;
                    continue;
                }
                return out;
            }
            out += c;
        }
    }

    QString number()
    {
        skipSpace();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && (m_text[m_pos].isDigit() || m_text[m_pos] == QLatin1Char('.') || m_text[m_pos] == QLatin1Char('-')))
            ++m_pos;
        if (start == m_pos)
            fail(QStringLiteral("a number expected"));
        return m_text.mid(start, m_pos - start);
    }

    [[noreturn]] void fail(const QString &what) const
    {
        throw Error(QStringLiteral("Formula error at character %1: %2.").arg(m_pos + 1).arg(what));
    }

private:
    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text[m_pos].isSpace())
            ++m_pos;
    }

    const QString &m_text;
    qsizetype m_pos = 0;
};

QString escapedHtml(const QString &value)
{
    QString out = value.toHtmlEscaped();
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return out;
}

} // namespace

QString formulaEscape(const QString &value)
{
    QString out = value;
    return out.replace(QLatin1Char('\''), QLatin1String("''"));
}

QMap<QString, QString> parseDeclarations(const QString &formula)
{
    QMap<QString, QString> vars;
    FormulaReader r(formula);
    while (!r.atEnd()) {
        const QString kind = r.word().toLower();
        if (kind != QLatin1String("stringvar") && kind != QLatin1String("numbervar"))
            r.fail(QStringLiteral("\"stringvar\" or \"numbervar\" expected"));
        const QString name = r.word();
        r.expect(QStringLiteral(":="));
        vars.insert(name, kind == QLatin1String("stringvar") ? r.quoted() : r.number());
        if (!r.accept(QLatin1Char(';')) && !r.atEnd())
            r.fail(QStringLiteral("\";\" expected"));
    }
    return vars;
}

Report Report::open(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open report file %1: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
    const QString text = QString::fromUtf8(f.readAll());
    QStringList lines = text.split(QLatin1Char('\n'));
    const QString damaged = QStringLiteral("The report file %1 is damaged: %2").arg(QDir::toNativeSeparators(path));
    if (lines.isEmpty() || !lines.first().trimmed().startsWith(Magic))
        throw Error(damaged.arg(QStringLiteral("it does not begin with \"%1\".").arg(Magic)));
    Report report;
    qsizetype i = 1;
    for (; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line == QLatin1String("layout"))
            break;
        const QString key = line.section(QLatin1Char(' '), 0, 0);
        const QString value = line.section(QLatin1Char(' '), 1).trimmed();
        if (key == QLatin1String("formula") && !value.isEmpty())
            report.m_fields.append({value, QString()});
        else if (key == QLatin1String("title"))
            report.m_title = value;
        else
            throw Error(damaged.arg(QStringLiteral("line %1 is not understood.").arg(i + 1)));
    }
    if (i >= lines.size())
        throw Error(damaged.arg(QStringLiteral("it has no layout.")));
    report.m_layout = lines.mid(i + 1).join(QLatin1Char('\n'));
    return report;
}

void Report::logOn(const ConnectionConfig &base, const QString &server, const QString &user, const QString &password)
{
    ConnectionConfig config = base;
    config.host = server;
    config.user = user;
    config.password = password;
    Connection::open(config); // throws with the database's reason; closed again at once
}

QMap<QString, QString> Report::variables() const
{
    QMap<QString, QString> vars;
    for (const FormulaField &f : m_fields) {
        if (!f.text.trimmed().startsWith(QLatin1Char('\'')) && !f.text.trimmed().startsWith(QLatin1Char('"'))) {
            try {
                vars.insert(parseDeclarations(f.text));
            } catch (const Error &e) {
                throw Error(QStringLiteral("%1 (formula %2)").arg(e.description(), f.name));
            }
        }
    }
    return vars;
}

QString Report::fieldValue(const QString &name) const
{
    for (const FormulaField &f : m_fields) {
        if (f.name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        FormulaReader r(f.text);
        if (r.atEnd())
            return QString();
        try {
            const QString v = r.quoted();
            r.accept(QLatin1Char(';'));
            if (!r.atEnd())
                r.fail(QStringLiteral("the end of the formula expected"));
            return v;
        } catch (const Error &e) {
            throw Error(QStringLiteral("%1 (formula %2)").arg(e.description(), f.name));
        }
    }
    return QString();
}

QString Report::html() const
{
    const QMap<QString, QString> vars = variables();
    QString out;
    out.reserve(m_layout.size() * 2);
    qsizetype pos = 0;
    while (pos < m_layout.size()) {
        const qsizetype open = m_layout.indexOf(QLatin1Char('{'), pos);
        const qsizetype close = open < 0 ? -1 : m_layout.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            out += m_layout.mid(pos);
            break;
        }
        out += m_layout.mid(pos, open - pos);
        const QString key = m_layout.mid(open + 1, close - open - 1).trimmed();
        if (key.startsWith(QLatin1Char('@')))
            out += escapedHtml(fieldValue(key.mid(1)));
        else
            out += escapedHtml(vars.value(key));
        pos = close + 1;
    }
    return out;
}

void Report::fill(QTextDocument &doc) const
{
    doc.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    doc.setHtml(html());
}

void Report::print(QPrinter &printer) const
{
    QTextDocument doc;
    fill(doc);
    doc.print(&printer);
}

void Report::writePdf(const QString &path) const
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    printer.setDocName(m_title);
    print(printer);
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0)
        throw Error(QStringLiteral("Cannot write %1.").arg(QDir::toNativeSeparators(path)));
}

} // namespace orv
