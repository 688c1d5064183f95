// Storage and timeouts against real peers: storescp, Orthanc (read back over its REST API),
// a peer without storage, a refusing peer and a silent one.

#include "Peers.h"
#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Network.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;

namespace {

QByteArray httpGet(quint16 port, const QString &path)
{
    QNetworkAccessManager nam;
    QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

QString dumpOf(const Image &img)
{
    QString text;
    dumpAttributes(text, QString(), img.attributes());
    return text;
}

// Rendered pixels of the first frame, as a BMP file's bytes.
QByteArray pixelsOf(const Image &img, const QString &scratch)
{
    img.exportPicture(scratch, QStringLiteral("BMP"));
    QFile f(scratch);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

class TestDicomNetwork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void storescpReceivesWhatWasSent();
    void orthancStoresIdenticalObjects();
    void refusalsAreReported();
    void silentPeerFailsWithinTimeout();
    void cliSendsOneLinePerFile();

private:
    QString makeImage(const QString &name, int seed, const char *ts);
    QTemporaryDir m_dir;
};

void TestDicomNetwork::initTestCase() { setNetworkTimeout(10); }

QString TestDicomNetwork::makeImage(const QString &name, int seed, const char *ts)
{
    const QString pic = m_dir.filePath(name + QStringLiteral(".bmp"));
    colourPicture(96, 64, seed).save(pic, "BMP");
    Image img;
    img.setPatientName(QStringLiteral("SEND^TEST"));
    img.add(0x0010, 0x0020, QStringLiteral("S%1").arg(seed));
    img.importPicture(pic, QStringLiteral("BMP"));
    const QString file = m_dir.filePath(name + QStringLiteral(".dcm"));
    img.writeFile(file, QLatin1String(ts), 95);
    if (!dciodvfyErrors(file).isEmpty())
        qWarning() << dciodvfyErrors(file);
    return file;
}

void TestDicomNetwork::storescpReceivesWhatWasSent()
{
    auto peer = PeerProcess::storescp();
    QVERIFY(peer->isRunning());
    const QString plain = makeImage(QStringLiteral("plain"), 1, kExplicitLittleEndian);
    const QString jpeg = makeImage(QStringLiteral("jpeg"), 2, kJpegExtended);
    for (const QString &file : {plain, jpeg}) {
        Image img = Image::fromFile(file);
        QCOMPARE(img.send(QStringLiteral("127.0.0.1"), peer->port(), QStringLiteral("ORVTEST"), QStringLiteral("STORESCP")), 0);
    }
    // An object made in memory and never written is completed and sent as well.
    Image fresh;
    fresh.importPicture(m_dir.filePath(QStringLiteral("plain.bmp")), QStringLiteral("BMP"));
    QCOMPARE(StoreScu(QStringLiteral("127.0.0.1"), peer->port(), QStringLiteral("ORVTEST"), QStringLiteral("STORESCP")).send(fresh), 0);

    const QStringList received = QDir(peer->folder() + QStringLiteral("/in")).entryList(QDir::Files);
    QCOMPARE(received.size(), 3);
    QSet<QString> uids;
    for (const QString &name : received) {
        const Image got = Image::fromFile(peer->folder() + QStringLiteral("/in/") + name);
        uids << got.instanceUid();
    }
    QVERIFY(uids.contains(Image::fromFile(plain).instanceUid()));
    QVERIFY(uids.contains(Image::fromFile(jpeg).instanceUid()));
    QVERIFY(uids.contains(fresh.instanceUid()));
}

void TestDicomNetwork::orthancStoresIdenticalObjects()
{
    auto peer = PeerProcess::orthanc();
    QVERIFY2(peer->isRunning(), qPrintable(peer->log()));
    const QStringList files{makeImage(QStringLiteral("o1"), 3, kExplicitLittleEndian),
                            makeImage(QStringLiteral("o2"), 4, kJpegExtended)};
    for (const QString &file : files) {
        Image img = Image::fromFile(file);
        QCOMPARE(img.send(QStringLiteral("127.0.0.1"), peer->port(), QStringLiteral("ORVTEST"), QStringLiteral("ORTHANC")), 0);
    }
    const QJsonArray ids = QJsonDocument::fromJson(httpGet(peer->httpPort(), QStringLiteral("/instances"))).array();
    QCOMPARE(ids.size(), 2);
    QMap<QString, QString> storedByUid;
    for (const QJsonValue &id : ids) {
        const QString path = m_dir.filePath(id.toString() + QStringLiteral(".stored"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(httpGet(peer->httpPort(), QStringLiteral("/instances/%1/file").arg(id.toString())));
        out.close();
        storedByUid.insert(Image::fromFile(path).instanceUid(), path);
    }
    for (const QString &file : files) {
        const Image sent = Image::fromFile(file);
        QVERIFY(storedByUid.contains(sent.instanceUid()));
        const Image stored = Image::fromFile(storedByUid.value(sent.instanceUid()));
        QCOMPARE(dumpOf(stored), dumpOf(sent));
        QCOMPARE(pixelsOf(stored, m_dir.filePath(QStringLiteral("a.bmp"))), pixelsOf(sent, m_dir.filePath(QStringLiteral("b.bmp"))));
    }
}

void TestDicomNetwork::refusalsAreReported()
{
    Image img = Image::fromFile(makeImage(QStringLiteral("refused"), 5, kExplicitLittleEndian));
    {
        auto peer = PeerProcess::storescp({QStringLiteral("--refuse")});
        QVERIFY(peer->isRunning());
        try {
            img.send(QStringLiteral("127.0.0.1"), peer->port(), QStringLiteral("ORVTEST"), QStringLiteral("STORESCP"));
            QFAIL("a refused association must raise an error");
        } catch (const orv::Error &e) {
            QVERIFY2(e.description().contains(QStringLiteral("rejected")), qPrintable(e.description()));
        }
    }
    {
        auto peer = PeerProcess::wlmscpfs(QStringLiteral("WLM"));
        QVERIFY(peer->isRunning());
        try {
            img.send(QStringLiteral("127.0.0.1"), peer->port(), QStringLiteral("ORVTEST"), QStringLiteral("WLM"));
            QFAIL("a peer without storage must raise an error");
        } catch (const orv::Error &e) {
            QVERIFY2(e.description().contains(QStringLiteral("no presentation context")), qPrintable(e.description()));
        }
    }
    const quint16 closed = freeLoopbackPort();
    QVERIFY_THROWS_EXCEPTION(orv::Error, img.send(QStringLiteral("127.0.0.1"), closed, QStringLiteral("A"), QStringLiteral("B")));
}

// A peer that accepts the connection and never answers fails every operation within the
// network timeout.
void TestDicomNetwork::silentPeerFailsWithinTimeout()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    setNetworkTimeout(2);
    Image img = Image::fromFile(makeImage(QStringLiteral("silent"), 6, kExplicitLittleEndian));
    QElapsedTimer t;
    t.start();
    QVERIFY_THROWS_EXCEPTION(orv::Error, img.send(QStringLiteral("127.0.0.1"), silent.serverPort(), QStringLiteral("A"), QStringLiteral("B")));
    QVERIFY_THROWS_EXCEPTION(orv::Error, WorklistScu(QStringLiteral("127.0.0.1"), silent.serverPort(), QStringLiteral("B"))
                                             .run(WorklistScu::standardIdentifier({}, {}, {}, {}, {}, {})));
    FilmPrinter printer(QStringLiteral("127.0.0.1"), silent.serverPort(), QStringLiteral("B"), QStringLiteral("A"));
    QVERIFY_THROWS_EXCEPTION(orv::Error, printer.open());
    QVERIFY2(t.elapsed() < 3 * 4000, qPrintable(QString::number(t.elapsed())));
    setNetworkTimeout(10);
}

void TestDicomNetwork::cliSendsOneLinePerFile()
{
    auto peer = PeerProcess::storescp();
    QVERIFY(peer->isRunning());
    const QString a = makeImage(QStringLiteral("cli1"), 7, kExplicitLittleEndian);
    const QString b = makeImage(QStringLiteral("cli2"), 8, kJpegExtended);
    const QStringList common{QStringLiteral("send"), QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                             QString::number(peer->port()), QStringLiteral("--aec"), QStringLiteral("STORESCP")};
    ToolResult r = runTool(QStringLiteral(ORV_CLI), common + QStringList{a, b});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral("%1\t0\n%2\t0\n").arg(a, b));

    r = runTool(QStringLiteral(ORV_CLI), common + QStringList{m_dir.filePath(QStringLiteral("missing.dcm"))});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("does not exist")), qPrintable(r.err));
    r = runTool(QStringLiteral(ORV_CLI), {QStringLiteral("send"), QStringLiteral("--host"), QStringLiteral("127.0.0.1"), a});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(QStringLiteral("usage:")));
}

ORV_TEST_MAIN(TestDicomNetwork)
#include "tst_dicomnetwork.moc"
