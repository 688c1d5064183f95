// A department under load: eight workstations at once on one PostgreSQL database, one server
// folder and one archive, each opening exams with generated numbers, importing, saving and
// sending pictures. Afterwards nothing is duplicated, lost or half-written.
#include "Peers.h"

#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "session/ImageRow.h"
#include "outside/dicom/Image.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>

using namespace orv;
using namespace orv::test;

class tst_DepartmentLoad : public QObject
{
    Q_OBJECT
private slots:
    void eightWorkstationsLoseAndDuplicateNothing();
    void cleanup()
    {
        resetState();
        m_db.reset();
    }

private:
    std::unique_ptr<FreshDatabase> m_db;
};

void tst_DepartmentLoad::eightWorkstationsLoseAndDuplicateNothing()
{
    constexpr int kWorkstations = 8, kExams = 2, kFiles = 25;
    QVERIFY(loginOnFreshDatabase(m_db, Backend::PostgreSQL, [](Connection &c) {
        seedDemoData(c);
        c.execute(QStringLiteral("DELETE FROM pacs..tblTransaction"));
    }));
    auto archive = PeerProcess::orthanc();
    QVERIFY2(archive->isRunning(), qPrintable(archive->log()));
    QTemporaryDir server;
    QDir().mkpath(server.filePath(QStringLiteral("images")));

    const ConnectionConfig c = m_db->config();
    QList<QProcess *> workers;
    for (int w = 1; w <= kWorkstations; ++w) {
        auto *p = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), server.filePath(QStringLiteral("home%1").arg(w))); // a user per workstation
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(ORV_DEPARTMENT_WORKER),
                 {QString::number(w), QString::number(archive->port()), QString::number(kExams), QString::number(kFiles),
                  server.path(), QStringLiteral("--db"), QStringLiteral("postgres"), QStringLiteral("--db-host"), c.host,
                  QStringLiteral("--db-port"), QString::number(c.port), QStringLiteral("--db-user"), c.user,
                  QStringLiteral("--db-name"), c.database});
        workers << p;
    }
    QStringList exams;
    for (QProcess *p : workers) {
        QVERIFY(p->waitForFinished(300000));
        const QString out = QString::fromLocal8Bit(p->readAllStandardOutput());
        QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                 qPrintable(QString::fromLocal8Bit(p->readAllStandardError()) + out));
        for (const QString &line : out.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("exam ")))
                exams << line.mid(5);
        QCOMPARE(out.count(QLatin1String("Send Complete.")), kExams);
        QVERIFY2(!out.contains(QLatin1String("Cannot Send")) && !out.contains(QLatin1String("Store ")), qPrintable(out));
    }

    // Every exam number issued once, and recorded.
    QCOMPARE(exams.size(), kWorkstations * kExams);
    QCOMPARE(QSet<QString>(exams.begin(), exams.end()).size(), exams.size());
    RecordSet stored = state().db().query(QStringLiteral("SELECT trans_no FROM pacs..tblTransaction"));
    QStringList recordedExams;
    for (; !stored.eof(); stored.moveNext())
        recordedExams << stored.text(QStringLiteral("trans_no"));
    recordedExams.sort();
    exams.sort();
    QCOMPARE(recordedExams, exams);

    // Every record's file is whole and belongs to its exam; no file without a record, no part left.
    QSet<QString> files, uids;
    RecordSet rs = state().db().query(QStringLiteral("SELECT trans_no, filedir, filename FROM pacs..tblFile"));
    for (; !rs.eof(); rs.moveNext()) {
        const QString path = nativePath(server.path() + QStringLiteral("\\images\\US\\") + rs.text(QStringLiteral("filedir"))
                                        + QLatin1Char('\\') + rs.text(QStringLiteral("filename")));
        dicom::Image image = dicom::Image::fromFile(path);
        image.requireDecodable();
        QCOMPARE(image.dataSet().text(0x0008, 0x0050), rs.text(QStringLiteral("trans_no")));
        files << QFileInfo(path).canonicalFilePath();
        uids << image.instanceUid();
    }
    QCOMPARE(files.size(), kWorkstations * kExams * kFiles);
    QCOMPARE(uids.size(), files.size());
    QSet<QString> onServer;
    for (QDirIterator it(server.filePath(QStringLiteral("images")), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        onServer << QFileInfo(it.next()).canonicalFilePath();
    QCOMPARE(onServer, files);

    // The archive holds every object once.
    const QJsonArray instances = QJsonDocument::fromJson(archive->rest(QStringLiteral("/instances?expand"))).array();
    QSet<QString> archived;
    for (const QJsonValue &i : instances)
        archived << i.toObject().value(QStringLiteral("MainDicomTags")).toObject().value(QStringLiteral("SOPInstanceUID")).toString();
    QCOMPARE(instances.size(), uids.size());
    QCOMPARE(archived, uids);
    qDeleteAll(workers);
}

ORV_TEST_MAIN(tst_DepartmentLoad)
#include "tst_departmentload.moc"
