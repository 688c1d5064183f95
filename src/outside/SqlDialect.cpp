#include "SqlDialect.h"

#include "Error.h"

#include <QDate>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace orv {

QString backendName(Backend backend)
{
    switch (backend) {
    case Backend::SQLite: return QStringLiteral("SQLite");
    case Backend::PostgreSQL: return QStringLiteral("PostgreSQL");
    case Backend::SqlServer: return QStringLiteral("SQL Server");
    }
    return {};
}

bool isDateColumn(const QString &column)
{
    static const QSet<QString> dates = {
        QStringLiteral("date_trans"), QStringLiteral("date_birth"), QStringLiteral("date_interpret"),
        QStringLiteral("date_updated"), QStringLiteral("birthdate"), QStringLiteral("admdate"),
        QStringLiteral("dcrdate"), QStringLiteral("billingdate")};
    return dates.contains(column.toLower());
}

QDate parseMdy(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d{1,2})/(\\d{1,2})/(\\d{4})\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return {};
    return QDate(m.captured(3).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
}

namespace {

enum class Tok { Space, Word, Number, String, QuotedName, Param, Punct };

struct Token
{
    Tok kind;
    QString text;
    int param = -1; // index of the placeholder among the statement's '?'
};

QList<Token> tokenize(const QString &sql)
{
    QList<Token> out;
    int params = 0;
    const int n = sql.size();
    int i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        const int start = i;
        if (c.isSpace()) {
            while (i < n && sql.at(i).isSpace())
                ++i;
            out.append({Tok::Space, sql.mid(start, i - start)});
        } else if (c == QLatin1Char('\'')) {
            ++i;
            while (i < n) {
                if (sql.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < n && sql.at(i + 1) == QLatin1Char('\'')) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            out.append({Tok::String, sql.mid(start, i - start)});
        } else if (c == QLatin1Char('"') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('"') ? QLatin1Char('"') : QLatin1Char(']');
            ++i;
            while (i < n && sql.at(i) != close)
                ++i;
            if (i < n)
                ++i;
            out.append({Tok::QuotedName, sql.mid(start, i - start)});
        } else if (c == QLatin1Char('?')) {
            ++i;
            out.append({Tok::Param, QStringLiteral("?"), params++});
        } else if (c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#')) {
            while (i < n && (sql.at(i).isLetterOrNumber() || sql.at(i) == QLatin1Char('_')
                             || sql.at(i) == QLatin1Char('@') || sql.at(i) == QLatin1Char('#')
                             || sql.at(i) == QLatin1Char('$')))
                ++i;
            out.append({Tok::Word, sql.mid(start, i - start)});
        } else if (c.isDigit()) {
            while (i < n && (sql.at(i).isDigit() || sql.at(i) == QLatin1Char('.')))
                ++i;
            out.append({Tok::Number, sql.mid(start, i - start)});
        } else {
            ++i;
            out.append({Tok::Punct, QString(c)});
        }
    }
    return out;
}

bool isWord(const Token &t, const char *word)
{
    return t.kind == Tok::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isPunct(const Token &t, char c)
{
    return t.kind == Tok::Punct && t.text.size() == 1 && t.text.at(0) == QLatin1Char(c);
}

// Index of the next non-space token after i (or before i when step is -1); -1 when none.
int neighbour(const QList<Token> &toks, int i, int step)
{
    for (int j = i + step; j >= 0 && j < toks.size(); j += step)
        if (toks[j].kind != Tok::Space)
            return j;
    return -1;
}

const QSet<QString> &databaseNames()
{
    static const QSet<QString> names = {QStringLiteral("pacs"), QStringLiteral("patient_data"),
                                        QStringLiteral("build_file"), QStringLiteral("dicom")};
    return names;
}

class Translator
{
public:
    Translator(Backend backend, QVariantList &params) : m_backend(backend), m_params(params) {}

    QString run(const QString &tsql)
    {
        m_toks = tokenize(tsql);
        rewriteProcedures();
        rewriteQualifiers();
        rewriteConvert101();
        rewriteDateColumnParams();
        rewriteConcatenation();
        rewriteFunctions();
        rewriteTop();
        if (m_backend == Backend::PostgreSQL) {
            rewriteLikeEscape();
            rewriteNullOrder();
        }
        QString out;
        for (const Token &t : std::as_const(m_toks))
            out += t.text;
        return out + m_suffix;
    }

private:
    // "pacs..t", "pacs.dbo.t" -> "pacs.t" for the four databases of the department.
    void rewriteQualifiers()
    {
        for (int i = 0; i + 2 < m_toks.size(); ++i) {
            if (m_toks[i].kind != Tok::Word || !databaseNames().contains(m_toks[i].text.toLower())
                || !isPunct(m_toks[i + 1], '.'))
                continue;
            if (isPunct(m_toks[i + 2], '.')) {
                m_toks.removeAt(i + 2);
            } else if (i + 3 < m_toks.size() && isWord(m_toks[i + 2], "dbo") && isPunct(m_toks[i + 3], '.')) {
                m_toks.remove(i + 2, 2);
            }
        }
    }

    void markDateParam(int paramIndex)
    {
        if (paramIndex < 0 || paramIndex >= m_params.size() || m_dateParams.contains(paramIndex))
            return;
        m_dateParams.insert(paramIndex);
        const QVariant v = m_params.at(paramIndex);
        if (v.isNull() || v.metaType().id() == QMetaType::QDate || v.metaType().id() == QMetaType::QDateTime)
            return;
        const QString text = v.toString();
        if (text.trimmed().isEmpty()) {
            m_params[paramIndex] = QVariant(QMetaType::fromType<QString>());
            return;
        }
        const QDate d = parseMdy(text);
        if (!d.isValid())
            throw Error(QStringLiteral("Conversion failed when converting date and/or time from character string."));
        m_params[paramIndex] = m_backend == Backend::SQLite ? QVariant(d.toString(Qt::ISODate)) : QVariant(d);
    }

    QString renderMdy(const QString &expr) const
    {
        if (m_backend == Backend::SQLite)
            return QStringLiteral("strftime('%m/%d/%Y', %1)").arg(expr);
        return QStringLiteral("to_char(%1, 'MM/DD/YYYY')").arg(expr);
    }

    // convert(varchar(10), X, 101)
    void rewriteConvert101()
    {
        for (int i = 0; i < m_toks.size(); ++i) {
            if (!isWord(m_toks[i], "convert"))
                continue;
            // Collect the significant tokens up to the matching parenthesis.
            QList<int> sig;
            int depth = 0;
            int end = -1;
            for (int j = i + 1; j < m_toks.size(); ++j) {
                if (m_toks[j].kind == Tok::Space)
                    continue;
                sig.append(j);
                if (isPunct(m_toks[j], '('))
                    ++depth;
                else if (isPunct(m_toks[j], ')') && --depth == 0) {
                    end = j;
                    break;
                }
            }
            // ( varchar ( 10 ) , expr... , 101 )
            if (end < 0 || sig.size() < 10 || !isPunct(m_toks[sig[0]], '(') || !isWord(m_toks[sig[1]], "varchar")
                || !isPunct(m_toks[sig[5]], ',') || m_toks[sig[sig.size() - 2]].text != QLatin1String("101")
                || !isPunct(m_toks[sig[sig.size() - 3]], ','))
                continue;
            QString expr;
            for (int j = sig[5] + 1; j < sig[sig.size() - 3]; ++j)
                expr += m_toks[j].text;
            expr = expr.trimmed();
            const int exprFirst = sig[6];
            Token replacement{Tok::Word, {}};
            if (sig.size() == 10 && m_toks[exprFirst].kind == Tok::Param) {
                markDateParam(m_toks[exprFirst].param);
                replacement = m_toks[exprFirst];
            } else if (sig.size() == 10 && m_toks[exprFirst].kind == Tok::String) {
                QString literal = expr.mid(1, expr.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
                const QDate d = parseMdy(literal);
                if (!d.isValid())
                    throw Error(QStringLiteral("Conversion failed when converting date and/or time from character string."));
                replacement.text = QLatin1Char('\'') + d.toString(Qt::ISODate) + QLatin1Char('\'');
                if (m_backend == Backend::PostgreSQL)
                    replacement.text = QStringLiteral("DATE ") + replacement.text;
            } else {
                replacement.text = renderMdy(expr);
            }
            m_toks.remove(i, end - i + 1);
            m_toks.insert(i, replacement);
            // "convert(...)ORDER" is fine; "?ORDER" is not.
            if (i + 1 < m_toks.size() && (m_toks[i + 1].kind == Tok::Word || m_toks[i + 1].kind == Tok::Number))
                m_toks.insert(i + 1, {Tok::Space, QStringLiteral(" ")});
        }
    }

    // col = ?   /   SET col = ?   /   INSERT INTO t(col, ...) VALUES(?, ...)
    void rewriteDateColumnParams()
    {
        for (int i = 0; i < m_toks.size(); ++i) {
            if (m_toks[i].kind != Tok::Param)
                continue;
            const int op = neighbour(m_toks, i, -1);
            if (op < 0 || !isPunct(m_toks[op], '='))
                continue;
            const int col = neighbour(m_toks, op, -1);
            if (col >= 0 && m_toks[col].kind == Tok::Word && isDateColumn(m_toks[col].text))
                markDateParam(m_toks[i].param);
        }
        // INSERT column lists.
        for (int i = 0; i < m_toks.size(); ++i) {
            if (!isWord(m_toks[i], "insert"))
                continue;
            int open = -1;
            for (int j = i + 1; j < m_toks.size(); ++j)
                if (isPunct(m_toks[j], '(')) {
                    open = j;
                    break;
                }
            if (open < 0)
                return;
            QStringList columns;
            int j = open + 1;
            QString current;
            for (; j < m_toks.size() && !isPunct(m_toks[j], ')'); ++j) {
                if (isPunct(m_toks[j], ',')) {
                    columns << current.trimmed();
                    current.clear();
                } else {
                    current += m_toks[j].text;
                }
            }
            columns << current.trimmed();
            int values = -1;
            for (int k = j; k < m_toks.size(); ++k)
                if (isWord(m_toks[k], "values")) {
                    values = neighbour(m_toks, k, 1);
                    break;
                }
            if (values < 0 || !isPunct(m_toks[values], '('))
                return;
            int column = 0;
            int depth = 0;
            QList<int> itemTokens;
            auto flush = [&] {
                if (itemTokens.size() == 1 && m_toks[itemTokens[0]].kind == Tok::Param && column < columns.size()
                    && isDateColumn(columns[column]))
                    markDateParam(m_toks[itemTokens[0]].param);
                itemTokens.clear();
                ++column;
            };
            for (int k = values + 1; k < m_toks.size(); ++k) {
                const Token &t = m_toks[k];
                if (isPunct(t, '('))
                    ++depth;
                if (isPunct(t, ')')) {
                    if (depth == 0) {
                        flush();
                        break;
                    }
                    --depth;
                }
                if (depth == 0 && isPunct(t, ',')) {
                    flush();
                    continue;
                }
                if (t.kind != Tok::Space)
                    itemTokens.append(k);
            }
            return;
        }
    }

    void rewriteConcatenation()
    {
        for (int i = 0; i < m_toks.size(); ++i) {
            if (!isPunct(m_toks[i], '+'))
                continue;
            const int l = neighbour(m_toks, i, -1);
            const int r = neighbour(m_toks, i, 1);
            auto textual = [&](int k) {
                return k >= 0 && (m_toks[k].kind == Tok::String || m_toks[k].kind == Tok::Param);
            };
            if (textual(l) || textual(r))
                m_toks[i].text = QStringLiteral("||");
        }
    }

    void rewriteFunctions()
    {
        for (int i = 0; i < m_toks.size(); ++i) {
            if (m_toks[i].kind != Tok::Word)
                continue;
            const int next = neighbour(m_toks, i, 1);
            if (next < 0 || !isPunct(m_toks[next], '('))
                continue;
            if (isWord(m_toks[i], "getdate")) {
                const int close = neighbour(m_toks, next, 1);
                if (close >= 0 && isPunct(m_toks[close], ')')) {
                    m_toks.remove(i, close - i + 1);
                    m_toks.insert(i, {Tok::Word, m_backend == Backend::SQLite
                                                     ? QStringLiteral("datetime('now','localtime')")
                                                     : QStringLiteral("localtimestamp(0)")});
                }
            } else if (isWord(m_toks[i], "isnull")) {
                m_toks[i].text = QStringLiteral("coalesce");
            } else if (isWord(m_toks[i], "len")) {
                m_toks[i].text = QStringLiteral("length");
            }
        }
    }

    void rewriteTop()
    {
        for (int i = 0; i < m_toks.size(); ++i) {
            if (!isWord(m_toks[i], "top"))
                continue;
            const int prev = neighbour(m_toks, i, -1);
            const int count = neighbour(m_toks, i, 1);
            if (prev < 0 || !isWord(m_toks[prev], "select") || count < 0 || m_toks[count].kind != Tok::Number)
                continue;
            m_suffix = QStringLiteral(" LIMIT ") + m_toks[count].text;
            m_toks.remove(i, count - i + 1);
            return;
        }
    }

    // SQL Server's LIKE has no escape character; PostgreSQL's has the backslash unless told otherwise.
    void rewriteLikeEscape()
    {
        static const char *const ends[] = {"and", "or", "order", "group", "having", "union", "limit", "escape", "then", "when", "else", "end"};
        for (int i = 0; i < m_toks.size(); ++i) {
            if (!isWord(m_toks[i], "like"))
                continue;
            int depth = 0;
            int j = i + 1;
            bool hasEscape = false;
            for (; j < m_toks.size(); ++j) {
                const Token &t = m_toks[j];
                if (isPunct(t, '('))
                    ++depth;
                else if (isPunct(t, ')')) {
                    if (depth == 0)
                        break;
                    --depth;
                } else if (depth == 0 && isPunct(t, ','))
                    break;
                else if (depth == 0 && t.kind == Tok::Word
                         && std::any_of(std::begin(ends), std::end(ends), [&](const char *w) { return isWord(t, w); })) {
                    hasEscape = isWord(t, "escape");
                    break;
                }
            }
            if (hasEscape)
                continue;
            m_toks.insert(j, {Tok::Word, QStringLiteral(" ESCAPE '' ")});
            i = j;
        }
    }

    // SQL Server sorts NULL before every value; PostgreSQL after, unless told.
    void rewriteNullOrder()
    {
        for (int i = 0; i + 2 < m_toks.size(); ++i) {
            if (!isWord(m_toks[i], "order"))
                continue;
            const int by = neighbour(m_toks, i, 1);
            if (by < 0 || !isWord(m_toks[by], "by"))
                continue;
            int depth = 0;
            int itemEnd = -1; // last significant token of the current item
            bool descending = false;
            auto close = [&](int at) {
                if (itemEnd < 0)
                    return 0;
                const QString clause = descending ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST");
                m_toks.insert(at, {Tok::Word, clause});
                itemEnd = -1;
                descending = false;
                return 1;
            };
            int j = by + 1;
            for (; j < m_toks.size(); ++j) {
                const Token &t = m_toks[j];
                if (t.kind == Tok::Space)
                    continue;
                if (isPunct(t, '('))
                    ++depth;
                else if (isPunct(t, ')')) {
                    if (depth == 0)
                        break;
                    --depth;
                } else if (depth == 0 && isPunct(t, ',')) {
                    j += close(itemEnd + 1);
                    continue;
                } else if (depth == 0 && (isWord(t, "limit") || isWord(t, "offset") || isWord(t, "nulls")))
                    break;
                if (depth == 0)
                    descending = isWord(t, "desc");
                itemEnd = j;
            }
            close(itemEnd + 1);
            return;
        }
    }

    // The two stored procedures of the department's databases, called as
    // "[EXEC] PACS..spPassword_UserName ?" and "DICOM.dbo.spRADIOLOGY_SearchDoctors ?,?".
    void rewriteProcedures()
    {
        QString head;
        int i = 0;
        for (; i < m_toks.size(); ++i) {
            if (m_toks[i].kind == Tok::Space || isWord(m_toks[i], "exec") || isWord(m_toks[i], "execute"))
                continue;
            break;
        }
        int j = i;
        for (; j < m_toks.size() && m_toks[j].kind != Tok::Space; ++j)
            head += m_toks[j].text;
        const QString proc = head.section(QLatin1Char('.'), -1).toLower();
        if (proc == QLatin1String("sppassword_username")) {
            m_toks = tokenize(QStringLiteral("SELECT full_name AS FullName FROM pacs.tblUser WHERE employee_code = ?"));
        } else if (proc == QLatin1String("spradiology_searchdoctors")) {
            // (radiologists only flag, name prefix): (full name, code) of the active doctors whose
            // last name starts with the text, taken literally, ordered by name.
            if (m_params.size() >= 2)
                m_params.removeFirst();
            m_toks = tokenize(QStringLiteral(
                "SELECT LastName || ', ' || FirstName || ' ' || MiddleName AS FullName, DoctorID AS Code "
                "FROM build_file.tbcoDoctor WHERE Status = 'A' "
                "AND LastName LIKE replace(replace(replace(replace(?, '!', '!!'), '%', '!%'), '_', '!_'), '[', '![') || '%' ESCAPE '!' "
                "ORDER BY LastName, FirstName, MiddleName, DoctorID"));
        }
    }

    Backend m_backend;
    QVariantList &m_params;
    QList<Token> m_toks;
    QString m_suffix;
    QSet<int> m_dateParams; // placeholders already read as dates
};

} // namespace

QString translateSql(const QString &tsql, Backend backend, QVariantList &params)
{
    if (backend == Backend::SqlServer)
        return tsql;
    return Translator(backend, params).run(tsql);
}

} // namespace orv
