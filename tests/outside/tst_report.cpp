// The report layer: report files, formula texts and the laid-out report.
#include "common/TestMain.h"
#include "outside/Error.h"
#include "outside/report/Report.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace orv;

class tst_Report : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &content)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        f.write(content);
        return path;
    }

    static QString describeOpen(const QString &path)
    {
        try {
            Report::open(path);
        } catch (const Error &e) {
            return e.description();
        }
        return QString();
    }

private slots:
    void missingOrDamagedFilesAreRefusedWithTheReason()
    {
        QVERIFY(describeOpen(m_dir.filePath(QStringLiteral("none.rpt"))).startsWith(QStringLiteral("Cannot open report file")));
        QVERIFY(describeOpen(write(QStringLiteral("a.rpt"), QByteArray("\x89PNG\r\n\x1a\n....", 12))).contains(QStringLiteral("damaged")));
        QVERIFY(describeOpen(write(QStringLiteral("b.rpt"), "ORVALINE-REPORT 1\nformula Int\n")).contains(QStringLiteral("no layout")));
        QVERIFY(describeOpen(write(QStringLiteral("c.rpt"), "ORVALINE-REPORT 1\nfoo bar\nlayout\n")).contains(QStringLiteral("line 2")));
    }

    void declarationsReadQuotedTextsWithDoubledApostrophes()
    {
        const auto vars = parseDeclarations(QStringLiteral("stringvar A := 'O''Brien'; stringvar PatID := ' (12)' ; "
                                                           "stringvar  B  :='x;y'; numbervar N := 3"));
        QCOMPARE(vars.value(QStringLiteral("A")), QStringLiteral("O'Brien"));
        QCOMPARE(vars.value(QStringLiteral("PatID")), QStringLiteral(" (12)"));
        QCOMPARE(vars.value(QStringLiteral("B")), QStringLiteral("x;y"));
        QCOMPARE(vars.value(QStringLiteral("N")), QStringLiteral("3"));
        QCOMPARE(formulaEscape(QStringLiteral("it's")), QStringLiteral("it''s"));
        for (const char *bad : {"stringvar A := 'open", "stringvar A = 'x'", "A := 'x'", "stringvar A := 'x' stringvar B := 'y'"}) {
            bool threw = false;
            try {
                parseDeclarations(QString::fromUtf8(bad));
            } catch (const Error &) {
                threw = true;
            }
            QVERIFY2(threw, bad);
        }
    }

    void valuesArePlacedAsTextAndLongTextsRunOverPages()
    {
        Report r = Report::open(write(QStringLiteral("r.rpt"), "ORVALINE-REPORT 1\ntitle T\nformula Vars\nformula Int\nlayout\n"
                                                                "<h1>{Name}</h1><p>{@Int}</p><p>{Unknown}</p>\n"));
        QCOMPARE(r.formulaFieldCount(), 2);
        QCOMPARE(r.formulaField(1).name, QStringLiteral("Vars"));
        r.formulaField(1).text = QStringLiteral("stringvar Name := '<b>O''Brien</b> & co';");
        QString longText;
        while (longText.size() < 100000)
            longText += QStringLiteral("Line %1 of a long interpretation.\n").arg(longText.size());
        r.formulaField(2).text = QLatin1Char('\'') + formulaEscape(longText) + QLatin1Char('\'');
        QVERIFY(r.html().contains(QStringLiteral("&lt;b&gt;O'Brien&lt;/b&gt; &amp; co")));
        const QString pdf = m_dir.filePath(QStringLiteral("long.pdf"));
        r.writePdf(pdf);
        QProcess p;
        p.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(p.waitForFinished(30000));
        const QString info = QString::fromUtf8(p.readAllStandardOutput());
        const int pages = info.section(QStringLiteral("Pages:"), 1).trimmed().section(QLatin1Char('\n'), 0, 0).toInt();
        QVERIFY2(pages > 20, qPrintable(info));
        p.start(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(pages), pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(30000));
        const QString lastLine = longText.trimmed().section(QLatin1Char('\n'), -1);
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).contains(lastLine));

        r.formulaField(1).text = QStringLiteral("stringvar Name := 'x");
        bool threw = false;
        try {
            r.html();
        } catch (const Error &e) {
            threw = e.description().contains(QStringLiteral("formula Vars"));
        }
        QVERIFY(threw);
    }
};

ORV_TEST_MAIN(tst_Report)
#include "tst_report.moc"
