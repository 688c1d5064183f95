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
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>

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

    // Lines logged on a worker reach the log on the GUI thread in the order logged, after the
    // lines logged before them; the window shows each as a line break and the line, and shows
    // itself. Closing the window ends that log: the next line opens an empty window.
    void logLinesArriveInOrderFromAnyThread()
    {
        delete frmLog::existing();
        QList<QThread *> insertedOn;
        const auto watch = connect(&logModel(), &LogModel::rowsInserted, this, [&] { insertedOn << QThread::currentThread(); });
        AddLog(u"first"_s);
        QVERIFY(frmLog::existing() && frmLog::existing()->isVisible());
        QCOMPARE(frmLog::existing()->text(), u"\nfirst"_s);
        frmLog::existing()->hide();

        QStringList expected{u"first"_s};
        for (int i = 0; i < 300; ++i)
            expected << u"line %1"_s.arg(i);
        std::unique_ptr<QThread> worker(QThread::create([&expected] {
            for (const QString &line : expected.mid(1))
                AddLog(line);
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QTRY_COMPARE(logModel().lines(), expected);
        disconnect(watch);
        QCOMPARE(insertedOn, QList<QThread *>(expected.size(), thread()));
        QCOMPARE(frmLog::existing()->text(), u"\n"_s + expected.join(u'\n'));
        QVERIFY(frmLog::existing()->isVisible());

        frmLog::existing()->close();
        QTRY_VERIFY(!frmLog::existing());
        AddLog(u"again"_s);
        QCOMPARE(frmLog::existing()->txtLog->toPlainText(), u"\nagain"_s);
        QCOMPARE(logModel().lines(), QStringList{u"again"_s});
        delete frmLog::existing();
    }
};

ORV_TEST_MAIN(tst_Routines)
#include "tst_routines.moc"
