// The shared routines of the core and the settings store they rest on.
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/CoreRoutines.h"
#include "core/SharedState.h"
#include "core/frmLog.h"

#include "outside/Connection.h"
#include "outside/Error.h"

#include <QLineEdit>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <QRegularExpression>
#include <QTest>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;

class tst_Routines : public QObject
{
    Q_OBJECT
private slots:
    void init() { resetSettings(); }

    // Digits and the editing keys pass; everything else is swallowed.
    void keyFilters()
    {
        QLineEdit digits, upper;
        installKeyFilter(&digits, KeyFilter::DigitsOnly);
        installKeyFilter(&upper, KeyFilter::UpperCase);
        typeText(&digits, "a1-b2 ü3");
        typeText(&upper, "o'brien müller");
        QTest::keyClick(&digits, Qt::Key_Backspace);
        QCOMPARE(digits.text(), u"12"_s);
        QCOMPARE(upper.text(), u"O'BRIEN MÜLLER"_s);
    }

    void textRoutines()
    {
        QVERIFY(QRegularExpression("^\\d{4}_\\d{2}_\\d{2}_(0\\d|1[0-2])_\\d{2}_\\d{2}_(AM|PM)$").match(TimeStamp()).hasMatch());
        auto *p = ScriptedPrompter::install();
        QVERIFY(RequireText("x", "Patient ID is required!") && p->shown.isEmpty());
        QVERIFY(!RequireText(QString(), "Patient ID is required!"));
        QCOMPARE(p->messages(), QStringList{"Patient ID is required!"});
        const std::pair<const char *, double> numbers[] = {{"", 0}, {"12abc", 12}, {"  7", 7}, {"-3", -3}, {"2.5x", 2.5}, {"abc", 0}};
        for (const auto &[text, number] : numbers)
            QCOMPARE(SettingsStore::numberOf(text), number);
    }

    void addLogStartsWithAnEmptyLine()
    {
        AddLog("first");
        AddLog("second");
        QVERIFY(frmLog::instance()->isVisible());
        QCOMPARE(frmLog::instance()->text(), u"\nfirst\nsecond"_s);
        frmLog::instance()->close(); // closing unloads: the next line starts a new log
        QTRY_VERIFY(frmLog::existing() == nullptr);
        AddLog("third");
        QCOMPARE(frmLog::instance()->text(), u"\nthird"_s);
    }

    void settingsStoreIgnoresCaseAndDeletes()
    {
        SettingsStore &s = settings();
        QCOMPARE(s.read("Orvaline", "Main", "Nothing", "US"), u"US"_s);
        s.write("VelmorPACS", "Main", "CompanyName", "A/B \\ C%");
        QCOMPARE(s.read("velmorPacs", "MAIN", "companyname"), u"A/B \\ C%"_s);
        s.write("PACS", "WindowSize", "Image Location/Configuration Width", "640");
        s.write("PACS", "Other", "Key", "kept");
        s.write("Orvaline", "Main", "AcquireModalityCode", "ES");
        s.deleteApplication("ORVALINE");
        QCOMPARE(s.read("Orvaline", "Main", "AcquireModalityCode", "US"), u"US"_s);
        QCOMPARE(s.read("VELMORPACS", "main", "CompanyName"), u"A/B \\ C%"_s);
        s.deleteSection("pacs", "windowsize");
        QCOMPARE(s.read("PACS", "WindowSize", "Image Location/Configuration Width"), QString());
        QCOMPARE(s.read("PACS", "Other", "Key"), u"kept"_s);
        // Another store on the same file sees what was written (the next start).
        QCOMPARE(SettingsStore(s.fileName()).read("velmorpacs", "Main", "CompanyName"), u"A/B \\ C%"_s);
    }

    // Transaction and accession numbers name files and folders: only a plain name component is
    // taken, with a message that says why not (and carries no terminal escape).
    void numbersNameOnlyPlainComponents()
    {
        for (const QString &fine : {u"00123"_s, u"ACC-2026_07.b"_s, u"a..b"_s, u"MÜLLER 7"_s})
            QVERIFY2(nameComponentRefusal(fine, u"accession number"_s).isEmpty(), qPrintable(fine));
        const std::pair<QString, const char *> refused[] = {
            {u""_s, "it is empty"},
            {u".."_s, "it names a folder"},
            {u"../../../../../../../../tmp/X"_s, "folder separator"},
            {u"..\\..\\x"_s, "folder separator"},
            {u"C:x"_s, "colon"},
            {u"A\x1b[31mB"_s, "control character"},
            {u"A\tB"_s, "control character"},
            {u"A?B"_s, "Windows refuses"},
            {u"ABC."_s, "ends with a dot"},
            {u"nul.txt"_s, "Windows device"},
            {QString(65, u'7'), "longer than 64"},
        };
        for (const auto &[text, why] : refused) {
            const QString message = nameComponentRefusal(text, u"accession number"_s);
            QVERIFY2(message.startsWith(u"The accession number \""_s) && message.contains(QLatin1String(why)), qPrintable(message));
            QVERIFY(!message.contains(QChar(0x1b)));
        }
        bool threw = false;
        try {
            requireNameComponent(u"../x"_s, u"transaction number"_s);
        } catch (const Error &e) {
            threw = e.description() == u"The transaction number \"../x\" cannot name a file: it holds a folder separator."_s;
        }
        QVERIFY(threw);
    }

    // The settings store, the embedded databases and their folders are the user's alone.
    void privateFilesAreForTheUserOnly()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(u"config/Orvaline"_s), data = dir.filePath(u"data/databases"_s);
        SettingsStore store(config + u"/settings.ini"_s);
        store.write(u"Orvaline"_s, u"Main"_s, u"Key"_s, u"value"_s);
        ConnectionConfig c;
        c.dataFolder = data;
        Connection::open(c).reset();
        const auto mode = [](const QString &path) {
            struct stat st{};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
        };
        QCOMPARE(mode(config), 0700);
        QCOMPARE(mode(config + u"/settings.ini"_s), 0600);
        QCOMPARE(mode(data), 0700);
        for (const char *name : {"pacs", "Patient_Data", "build_file", "DICOM"})
            QCOMPARE(mode(data + u"/%1.sqlite"_s.arg(QLatin1String(name))), 0600);
    }

    void windowPlacementRoundTrip()
    {
        SettingsStore &s = settings();
        auto store = [&](const QString &key, const QString &value) { s.write("PACS", "WindowSize", key, value); };
        auto stored = [&](const QString &key) { return s.read("PACS", "WindowSize", key); };
        store("Transaction Width", "640");
        store("Transaction Height", "0");
        store("Transaction Left", "0");
        store("Transaction Top", "77");
        QWidget w;
        w.setWindowTitle("Transaction");
        w.resize(300, 200);
        w.move(15, 5);
        RestoreWindow(&w);
        QCOMPARE(w.size(), QSize(640, 200)); // 0 keeps the designed height
        QCOMPARE(w.pos(), QPoint(15, 77));   // a stored Left of 0 keeps the designed position
        QVERIFY(!(w.windowState() & Qt::WindowMaximized));
        store("Transaction WinState", "1");
        QWidget minimised, fixed;
        for (QWidget *other : {&minimised, &fixed})
            other->setWindowTitle("Transaction");
        fixed.setFixedSize(120, 80);
        RestoreWindow(&minimised);
        RestoreWindow(&fixed);
        QVERIFY(minimised.windowState() & Qt::WindowMaximized); // stored minimised comes back maximised
        QCOMPARE(fixed.size(), QSize(120, 80));                 // a fixed border keeps its size

        QWidget saved;
        saved.setWindowTitle("Saved Window");
        saved.resize(410, 220);
        saved.show();
        SaveWindow(&saved);
        QCOMPARE((QStringList{stored("Saved Window Width"), stored("Saved Window Height"), stored("Saved Window WinState")}),
                 (QStringList{"410", "220", "0"}));
        saved.showMinimized();
        store("Saved Window WinState", "2");
        SaveWindow(&saved); // a minimised window keeps its stored placement
        QCOMPARE(stored("Saved Window WinState"), u"2"_s);
    }
};

ORV_TEST_MAIN(tst_Routines)
#include "tst_routines.moc"
