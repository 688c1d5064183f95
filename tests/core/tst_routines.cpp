// The shared routines of the core and the settings store they rest on.
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "core/CoreRoutines.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "common/Tools.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

using namespace orv;
using namespace orv::test;

class tst_Routines : public QObject
{
    Q_OBJECT
private slots:
    void init() { resetSettings(); }

    void digitsOnlyKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("digit") << int('7') << int('7');
        QTest::newRow("letter") << int('a') << 0;
        QTest::newRow("space") << 32 << 0;
        QTest::newRow("apostrophe") << int('\'') << 0;
        QTest::newRow("backspace") << 8 << 8;
        QTest::newRow("tab") << 9 << 9;
        QTest::newRow("enter") << 13 << 13;
    }
    void digitsOnlyKey()
    {
        QFETCH(int, key);
        QFETCH(int, expected);
        DigitsOnlyKey(key);
        QCOMPARE(key, expected);
    }

    void keyFiltersOnLineEdits()
    {
        QLineEdit digits, upper;
        installKeyFilter(&digits, KeyFilter::DigitsOnly);
        installKeyFilter(&upper, KeyFilter::UpperCase);
        typeText(&digits, QStringLiteral("a1-b2 ü3"));
        typeText(&upper, QStringLiteral("o'brien müller"));
        QCOMPARE(digits.text(), QStringLiteral("123"));
        QCOMPARE(upper.text(), QStringLiteral("O'BRIEN MÜLLER"));
        QTest::keyClick(&digits, Qt::Key_Backspace);
        QCOMPARE(digits.text(), QStringLiteral("12"));
    }

    void textRoutines()
    {
        QCOMPARE(SqlQuote(QStringLiteral("O'Brien's")), QStringLiteral("O''Brien''s"));
        QString t = QStringLiteral("DOE^JOHN");
        QCOMPARE(NextToken(t, QStringLiteral("^")), QStringLiteral("DOE"));
        QCOMPARE(t, QStringLiteral("JOHN"));
        QCOMPARE(NextToken(t, QStringLiteral("^")), QStringLiteral("JOHN"));
        QCOMPARE(t, QString());
        QString multi = QStringLiteral("a\\\\b");
        QCOMPARE(NextToken(multi, QStringLiteral("\\\\")), QStringLiteral("a"));
        QCOMPARE(multi, QStringLiteral("b"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}_\\d{2}_\\d{2}_(0\\d|1[0-2])_\\d{2}_\\d{2}_(AM|PM)$")).match(TimeStamp()).hasMatch());
        QVERIFY(!ComputerName().isEmpty());
        QVERIFY(!ComputerName().contains(QChar(0)));
    }

    void requireTextShowsTheMessage()
    {
        auto *p = ScriptedPrompter::install();
        QVERIFY(RequireText(QStringLiteral("x"), QStringLiteral("Patient ID is required!")));
        QVERIFY(p->shown.isEmpty());
        QVERIFY(!RequireText(QString(), QStringLiteral("Patient ID is required!")));
        QCOMPARE(p->lastMessage(), QStringLiteral("Patient ID is required!"));
        QCOMPARE(p->shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(p->shown.last().title, QString());
    }

    void addLogStartsWithAnEmptyLine()
    {
        AddLog(QStringLiteral("first"));
        AddLog(QStringLiteral("second"));
        QCOMPARE(frmLog::instance()->text(), QStringLiteral("\nfirst\nsecond"));
        QVERIFY(frmLog::instance()->isVisible());
        frmLog::instance()->close(); // closing unloads: the next line starts a new log
        QTRY_VERIFY(frmLog::existing() == nullptr);
        AddLog(QStringLiteral("third"));
        QCOMPARE(frmLog::instance()->text(), QStringLiteral("\nthird"));
    }

    void folderRoutines()
    {
        QTemporaryDir dir;
        const QString base = dir.path();
        MakePath(base + QStringLiteral("\\one\\two\\three"));
        QVERIFY(QDir(base + QStringLiteral("/one/two")).exists() || QDir(base + QStringLiteral("\\one\\two")).exists());
        MakePath(base + QStringLiteral("/a/b/c"));
        QVERIFY(QDir(base + QStringLiteral("/a/b")).exists());
        QVERIFY(!QDir(base + QStringLiteral("/a/b/c")).exists());
        MakePath(base + QStringLiteral("/a/b/c/"));
        QVERIFY(QDir(base + QStringLiteral("/a/b/c")).exists());

        QFile f(base + QStringLiteral("/a/b/c/file.dcm"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(DeleteFolderTree(base + QStringLiteral("/a/")));
        QVERIFY(!QDir(base + QStringLiteral("/a")).exists());
        QVERIFY(!DeleteFolderTree(base + QStringLiteral("/a")));
    }

    void settingsStoreIgnoresCaseAndDeletes()
    {
        SettingsStore &s = settings();
        QCOMPARE(s.read(QStringLiteral("Orvaline"), QStringLiteral("Main"), QStringLiteral("Nothing"), QStringLiteral("US")),
                 QStringLiteral("US"));
        s.write(QStringLiteral("VelmorPACS"), QStringLiteral("Main"), QStringLiteral("CompanyName"), QStringLiteral("A/B \\ C%"));
        QCOMPARE(s.read(QStringLiteral("velmorPacs"), QStringLiteral("MAIN"), QStringLiteral("companyname")), QStringLiteral("A/B \\ C%"));
        s.write(QStringLiteral("PACS"), QStringLiteral("WindowSize"), QStringLiteral("Image Location/Configuration Width"), QStringLiteral("640"));
        s.write(QStringLiteral("PACS"), QStringLiteral("Other"), QStringLiteral("Key"), QStringLiteral("kept"));
        s.write(QStringLiteral("Orvaline"), QStringLiteral("Main"), QStringLiteral("AcquireModalityCode"), QStringLiteral("ES"));
        s.deleteApplication(QStringLiteral("ORVALINE"));
        QCOMPARE(s.read(QStringLiteral("Orvaline"), QStringLiteral("Main"), QStringLiteral("AcquireModalityCode"), QStringLiteral("US")),
                 QStringLiteral("US"));
        QCOMPARE(s.read(QStringLiteral("VELMORPACS"), QStringLiteral("main"), QStringLiteral("CompanyName")), QStringLiteral("A/B \\ C%"));
        s.deleteSection(QStringLiteral("pacs"), QStringLiteral("windowsize"));
        QCOMPARE(s.read(QStringLiteral("PACS"), QStringLiteral("WindowSize"), QStringLiteral("Image Location/Configuration Width")), QString());
        QCOMPARE(s.read(QStringLiteral("PACS"), QStringLiteral("Other"), QStringLiteral("Key")), QStringLiteral("kept"));
        // Another store on the same file sees what was written (the next start).
        SettingsStore again(s.fileName());
        QCOMPARE(again.read(QStringLiteral("velmorpacs"), QStringLiteral("Main"), QStringLiteral("CompanyName")), QStringLiteral("A/B \\ C%"));
    }

    void numbersAreReadFromTheStartOfTheText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("number");
        QTest::newRow("empty") << QString() << 0.0;
        QTest::newRow("plain") << QStringLiteral("1") << 1.0;
        QTest::newRow("trailing text") << QStringLiteral("12abc") << 12.0;
        QTest::newRow("leading blanks") << QStringLiteral("  7") << 7.0;
        QTest::newRow("negative") << QStringLiteral("-3") << -3.0;
        QTest::newRow("decimal") << QStringLiteral("2.5x") << 2.5;
        QTest::newRow("not a number") << QStringLiteral("abc") << 0.0;
    }
    void numbersAreReadFromTheStartOfTheText()
    {
        QFETCH(QString, text);
        QFETCH(double, number);
        QCOMPARE(SettingsStore::numberOf(text), number);
    }

    void windowPlacementRoundTrip()
    {
        QWidget w;
        w.setWindowTitle(QStringLiteral("Transaction"));
        w.resize(300, 200);
        SettingsStore &s = settings();
        const QString section = QStringLiteral("WindowSize");
        s.write(QStringLiteral("PACS"), section, QStringLiteral("Transaction Width"), QStringLiteral("640"));
        s.write(QStringLiteral("PACS"), section, QStringLiteral("Transaction Height"), QStringLiteral("0"));
        s.write(QStringLiteral("PACS"), section, QStringLiteral("Transaction Left"), QStringLiteral("0"));
        s.write(QStringLiteral("PACS"), section, QStringLiteral("Transaction Top"), QStringLiteral("77"));
        w.move(15, 5);
        RestoreWindow(&w);
        QCOMPARE(w.width(), 640);
        QCOMPARE(w.height(), 200);    // 0 keeps the designed height
        QCOMPARE(w.x(), 15);          // a stored Left of 0 keeps the designed position
        QCOMPARE(w.y(), 77);
        QVERIFY(!(w.windowState() & Qt::WindowMaximized));
        s.write(QStringLiteral("PACS"), section, QStringLiteral("Transaction WinState"), QStringLiteral("1"));
        QWidget minimised;
        minimised.setWindowTitle(QStringLiteral("Transaction"));
        RestoreWindow(&minimised);
        QVERIFY(minimised.windowState() & Qt::WindowMaximized); // stored minimised comes back maximised

        QWidget fixed;
        fixed.setWindowTitle(QStringLiteral("Transaction"));
        fixed.setFixedSize(120, 80);
        RestoreWindow(&fixed);
        QCOMPARE(fixed.size(), QSize(120, 80)); // a fixed border keeps its size

        QWidget saved;
        saved.setWindowTitle(QStringLiteral("Saved Window"));
        saved.resize(410, 220);
        saved.show();
        SaveWindow(&saved);
        QCOMPARE(s.read(QStringLiteral("PACS"), section, QStringLiteral("Saved Window Width")), QStringLiteral("410"));
        QCOMPARE(s.read(QStringLiteral("PACS"), section, QStringLiteral("Saved Window Height")), QStringLiteral("220"));
        QCOMPARE(s.read(QStringLiteral("PACS"), section, QStringLiteral("Saved Window WinState")), QStringLiteral("0"));
        saved.showMinimized();
        s.write(QStringLiteral("PACS"), section, QStringLiteral("Saved Window WinState"), QStringLiteral("2"));
        SaveWindow(&saved);
        QCOMPARE(s.read(QStringLiteral("PACS"), section, QStringLiteral("Saved Window WinState")), QStringLiteral("2"));
    }
};

ORV_TEST_MAIN(tst_Routines)
#include "tst_routines.moc"
