// Saving New rows into the server folder tree and tblFile, on SQLite and PostgreSQL.
#include "common/TestDb.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "imagestore/ServerStorage.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

using namespace orv;
using namespace orv::test;

class tst_ServerStorage : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_fresh;
    std::unique_ptr<Connection> m_db;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_server, m_source, m_folder; // m_folder: the transaction folder of 03/05/2024

    void open(Backend b)
    {
        m_fresh = std::make_unique<FreshDatabase>(b);
        m_db = openDepartmentDatabase(m_fresh->config());
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = m_dir->filePath("server");
        m_source = m_dir->filePath("pacstemp");
        m_folder = m_server + "/ACQUIRE/US/2024/2024-03-05/00123";
        QDir().mkpath(m_server + "/ACQUIRE");
        QDir().mkpath(m_source + "/other");
    }
    void source(const QString &name, const QByteArray &content)
    {
        QFile f(QDir(m_source).filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
    }
    static QByteArray content(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    ImageRow row(const QString &name, const QString &folder = QString()) const
    {
        return ImageRow::make("New", "Image", "localtemp", "", folder.isEmpty() ? m_source : folder, name, "");
    }
    SaveRequest request(const QList<ImageRow> &rows, int day = 5) const
    {
        return SaveRequest{"00123", m_server, "ACQUIRE", "US", "T01", "WS1", QDateTime(QDate(2024, 3, day), QTime(9, 30)), rows};
    }
    QStringList recorded()
    {
        QStringList names;
        for (const ImageRow &r : LoadImages(*m_db, "00123"))
            names << r.fileName;
        names.sort();
        return names;
    }
    QStringList files(const QString &folder) const { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }
    // Every record's file is on the server with its source's bytes; one record per file.
    void verifyRecordsMatchSources()
    {
        const QStringList names = recorded();
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        for (const ImageRow &r : LoadImages(*m_db, "00123"))
            QCOMPARE(content(nativePath(rowFilePath(r, QString(), false))), content(m_source + "/" + r.fileName));
    }

private slots:
    void cleanup()
    {
        m_db.reset();
        m_fresh.reset();
        m_dir.reset();
    }

    // New rows are copied into the transaction's day folder and recorded once, values intact;
    // Saved rows are passed over; a rerun, even on a later day, adds nothing.
    void savesCopiesAndRecords_data() { addBackendRows(); }
    void savesCopiesAndRecords()
    {
        ORV_FETCH_BACKEND(b);
        open(b);
        source("a.dcm", QByteArray(300000, 'a'));
        source("o'brien.dcm", "apostrophe");
        const QList<ImageRow> rows{row("a.dcm"), ImageRow::make("Saved", "Image", "srv", "X", "1\\2", "old.dcm", "9"),
                                   row("o'brien.dcm"), row("a.dcm")};
        QList<int> progress;
        const SaveOutcome first = ServerStorage::save(*m_db, request(rows),
                                                      {{}, [&](int done, int total, const QString &) { progress << done << total; }, {}});
        QVERIFY2(first.ok() && first.folderMessages.isEmpty(), qPrintable(first.failure));
        QCOMPARE(progress, (QList<int>{1, 3, 2, 3, 3, 3}));
        QCOMPARE(files(m_folder), (QStringList{"a.dcm", "o'brien.dcm"}));
        verifyRecordsMatchSources();
        RecordSet rs = m_db->query("SELECT trans_no, server_name, server_folder, filedir, filename, compname, user_id "
                                   "FROM pacs..tblFile WHERE filename=?", {"o'brien.dcm"});
        QCOMPARE((QStringList{rs.text(0), rs.text(1), rs.text(2), rs.text(3), rs.text(4), rs.text(5), rs.text(6)}),
                 (QStringList{"00123", m_server, "ACQUIRE\\US", "2024\\2024-03-05\\00123", "o'brien.dcm", "WS1", "T01"}));
        for (int day : {5, 6}) {
            const SaveOutcome again = ServerStorage::save(*m_db, request(rows, day));
            QVERIFY(again.ok() && again.copied == 0 && again.recorded == 0 && again.alreadyStored == 3);
        }
        QVERIFY(files(m_server + "/ACQUIRE/US/2024/2024-03-06/00123").isEmpty());
    }

    // Another picture of the same size under a stored name is never taken as saved: on the day of
    // the stored one the save stops and says so, on a later day it is stored as a file of its own.
    void sameSizedOtherPictureIsNeverTakenAsSaved_data() { addBackendRows(); }
    void sameSizedOtherPictureIsNeverTakenAsSaved()
    {
        ORV_FETCH_BACKEND(b);
        open(b);
        source("a.dcm", QByteArray(300000, 'a'));
        source("other/a.dcm", QByteArray(300000, 'b'));
        QVERIFY(ServerStorage::save(*m_db, request({row("a.dcm")})).ok());
        const SaveOutcome clash = ServerStorage::save(*m_db, request({row("a.dcm", m_source + "/other")}));
        QCOMPARE(clash.failure, "Cannot write to server. Check permissions.A different file named a.dcm is already in "
                                    + m_folder + ".");
        QCOMPARE(content(m_folder + "/a.dcm"), QByteArray(300000, 'a'));
        QCOMPARE(recorded(), QStringList{"a.dcm"});
        const SaveOutcome later = ServerStorage::save(*m_db, request({row("a.dcm", m_source + "/other")}, 7));
        QVERIFY(later.ok() && later.copied == 1 && later.recorded == 1 && later.alreadyStored == 0);
        QCOMPARE(content(m_server + "/ACQUIRE/US/2024/2024-03-07/00123/a.dcm"), QByteArray(300000, 'b'));
    }

    // Another workstation puts a different file under a name while this save holds that file
    // only under its hidden name: the save stops and says so, and no record of its group is left
    // pointing at a file that is not the one this save wrote.
    void noRecordBeforeItsFileIsInPlace_data() { addBackendRows(); }
    void noRecordBeforeItsFileIsInPlace()
    {
        ORV_FETCH_BACKEND(b);
        open(b);
        source("a.dcm", QByteArray(4000, 'a'));
        source("b.dcm", QByteArray(4000, 'b'));
        int asked = 0;
        SaveObserver meanwhile;
        meanwhile.stopped = [&] {
            if (++asked == 2) { // a.dcm is written, not yet in place
                QFile other(m_folder + "/a.dcm");
                if (!other.open(QIODevice::WriteOnly) || other.write(QByteArray(4000, 'x')) != 4000)
                    qFatal("cannot write the other workstation's file");
            }
            return false;
        };
        const SaveOutcome outcome = ServerStorage::save(*m_db, request({row("a.dcm"), row("b.dcm")}), meanwhile);
        QCOMPARE(outcome.failure, "Cannot write to server. Check permissions.A different file named a.dcm is already in " + m_folder + ".");
        QCOMPARE(recorded(), QStringList());
        QCOMPARE(files(m_folder), QStringList{"a.dcm"});
        QCOMPARE(content(m_folder + "/a.dcm"), QByteArray(4000, 'x'));
    }

    // Names that could reach outside the storage folder are refused before anything is written;
    // the rows before them keep their records.
    void refusesHostileNames()
    {
        const struct { QString transNo, fileName, storedFolder /* a record already in tblFile */, reason; } cases[] = {
            {"00123", "/tmp/evil.dcm", "", "separator"},
            {"00123", "C:evil.dcm", "", "drive"},
            {"00123", "..", "", "outside its folder"},
            {"00123", "evil.dcm", "..\\..\\..\\x", "outside the server folder"},
            {"00123", "evil.dcm", "\\tmp", "not relative"},
            {"..\\..", "evil.dcm", "", "cannot name a file"}};
        for (const auto &c : cases) {
            open(Backend::SQLite);
            source("good.dcm", "good");
            source("evil.dcm", "evil");
            if (!c.storedFolder.isEmpty())
                m_db->execute("INSERT INTO pacs..tblFile (trans_no,server_name,server_folder,filedir,filename) VALUES(?,?,?,?,?)",
                              {c.transNo, m_server, "ACQUIRE\\US", c.storedFolder, c.fileName});
            SaveRequest r = request({row("good.dcm"), row(c.fileName)});
            r.transNo = c.transNo;
            const SaveOutcome outcome = ServerStorage::save(*m_db, r);
            QVERIFY2(outcome.failure.startsWith("Cannot write to server. Check permissions.") && outcome.failure.contains(c.reason),
                     qPrintable(outcome.failure));
            const int good = c.transNo == "00123" ? 1 : 0;
            QCOMPARE(m_db->query("SELECT 1 FROM pacs..tblFile WHERE filename='good.dcm'").rowCount(), good);
            QCOMPARE(m_db->query("SELECT 1 FROM pacs..tblFile").rowCount(), good + (c.storedFolder.isEmpty() ? 0 : 1));
            // Nothing is written anywhere: not beside the server folder, nor inside it, nor in /tmp.
            QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), (QStringList{"pacstemp", "server"}));
            QCOMPARE(QDir(m_server).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"ACQUIRE"});
            QVERIFY(!QFileInfo::exists("/tmp/evil.dcm"));
        }
    }

    // A source file gone before the save, a missing server folder and a read-only one are
    // reported with their reason; nothing is recorded for a file not copied.
    void reportsFolderAndFileProblems_data() { addBackendRows(); }
    void reportsFolderAndFileProblems()
    {
        ORV_FETCH_BACKEND(b);
        open(b);
        source("a.dcm", "a");
        source("c.dcm", "c");
        const QString prefix = "Cannot write to server. Check permissions.";
        const SaveOutcome gone = ServerStorage::save(*m_db, request({row("a.dcm"), row("gone.dcm"), row("c.dcm")}));
        QCOMPARE(gone.failure, prefix + "Cannot read " + m_source + "/gone.dcm: the file does not exist.");
        QCOMPARE(recorded(), QStringList{"a.dcm"});
        QCOMPARE(files(m_folder), QStringList{"a.dcm"});

        SaveRequest r = request({row("c.dcm")});
        r.serverFolder = "NOSUCH";
        QStringList shown;
        const SaveOutcome noFolder = ServerStorage::save(*m_db, r, {[&](const QString &m) { shown << m; }, {}, {}});
        QString level = m_server + "/NOSUCH/US";
        QStringList expected; // each level of the folder tree that cannot be made, as it is shown
        for (const char *sub : {"", "/2024", "/2024-03-05", "/00123"})
            expected << "No such file or directory. Check " + (level += sub);
        QVERIFY(noFolder.folderMessages == expected && shown == expected);
        QVERIFY2(noFolder.failure.startsWith(prefix + "Cannot write c.dcm into " + level + ": "), qPrintable(noFolder.failure));
        QCOMPARE(recorded(), QStringList{"a.dcm"});

        // Read-only even for root: the immutable flag where chmod does not bind.
        const QByteArray folder = QFile::encodeName(m_folder);
        ::chmod(folder.constData(), 0555);
        if (::geteuid() == 0 && QProcess::execute("chattr", {"+i", m_folder}) != 0)
            QSKIP("this system cannot make a folder read-only");
        const SaveOutcome readOnly = ServerStorage::save(*m_db, request({row("a.dcm"), row("c.dcm")}));
        if (::geteuid() == 0)
            QProcess::execute("chattr", {"-i", m_folder});
        ::chmod(folder.constData(), 0755);
        QVERIFY2(readOnly.failure.startsWith(prefix + "Cannot write c.dcm into " + m_folder + ": "), qPrintable(readOnly.failure));
        QCOMPARE(recorded(), QStringList{"a.dcm"});
        QVERIFY(ServerStorage::save(*m_db, request({row("a.dcm"), row("c.dcm")})).ok());
        QCOMPARE(recorded(), (QStringList{"a.dcm", "c.dcm"}));
    }

    // A save killed at random moments never leaves a record without its whole file, nor a torn
    // file under its own name; a rerun completes the rest without duplicating records. Small
    // groups put the kills between one group's files and another's records.
    void killedSavesRerunToCompletion_data() { addBackendRows(); }
    void killedSavesRerunToCompletion()
    {
        ORV_FETCH_BACKEND(b);
        open(b);
        QRandomGenerator random(20261205);
        for (int i = 0; i < 20; ++i) {
            QByteArray bytes(int(random.bounded(200000, 1500000)), Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
            source(QString("img%1.dcm").arg(i, 2, 10, QChar('0')), bytes);
        }
        const ConnectionConfig &c = m_fresh->config();
        QStringList args{m_source, m_server, "2024-03-05"};
        if (b == Backend::SQLite)
            args << "--data-dir" << c.dataFolder;
        else
            args << "--db" << "postgres" << "--db-host" << c.host << "--db-port" << QString::number(c.port)
                 << "--db-user" << c.user << "--db-name" << c.database;
        // Each round kills the save a random moment after a random number of rows are done.
        int killed = 0;
        for (int round = 0; round < 20; ++round) {
            QProcess worker;
            QStringList roundArgs = args;
            roundArgs.insert(3, QString::number(1 + random.bounded(3)));
            worker.start(ORV_STORE_WORKER, roundArgs);
            QVERIFY(worker.waitForStarted());
            for (int lines = 0, target = int(random.bounded(20)); lines < target && worker.state() == QProcess::Running;)
                if (worker.waitForReadyRead(1000))
                    lines += int(worker.readAllStandardOutput().count('\n'));
            QThread::usleep(random.bounded(15000));
            if (worker.state() == QProcess::Running) {
                worker.kill();
                ++killed;
                QVERIFY(worker.waitForFinished(60000));
            } else {
                QCOMPARE(worker.exitCode(), 0);
            }
            verifyRecordsMatchSources();
            if (QTest::currentTestFailed())
                return;
            for (const QString &name : QDir(m_folder).entryList(QDir::Files))
                QCOMPARE(content(m_folder + "/" + name), content(m_source + "/" + name));
        }
        QVERIFY2(killed > 0, "no save was interrupted");
        QProcess rerun;
        args.insert(3, "64");
        rerun.start(ORV_STORE_WORKER, args);
        QVERIFY(rerun.waitForFinished(120000));
        QCOMPARE(rerun.readAllStandardError(), QByteArray());
        QCOMPARE(rerun.exitCode(), 0);
        verifyRecordsMatchSources();
        QCOMPARE(recorded().size(), 20);
        QCOMPARE(files(m_folder), QDir(m_source).entryList(QDir::Files)); // no hidden file left behind
    }
};

ORV_TEST_MAIN(tst_ServerStorage)
#include "tst_serverstorage.moc"
