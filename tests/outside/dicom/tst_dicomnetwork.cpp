// Storage against real peers: storescp, Orthanc (read back over its REST API), a peer without
// storage, a refusing peer, a closed port and a silent one.

#include "Peers.h"
#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/FilmPrinter.h"
#include "outside/dicom/StoreScu.h"
#include "outside/dicom/WorklistScu.h"

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
using namespace Qt::StringLiterals;

namespace {

QByteArray httpGet(quint16 port, const QString &path)
{
    QNetworkAccessManager nam;
    QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->readAll();
}

// What a peer must keep of an object: every attribute as listed, and the displayed pixels.
QString contentOf(const Image &img, const QString &scratch)
{
    QString text;
    dumpAttributes(text, QString(), img.attributes());
    img.exportPicture(scratch, u"BMP"_s);
    QFile f(scratch);
    f.open(QIODevice::ReadOnly);
    return text + QString::fromLatin1(f.readAll().toBase64());
}

} // namespace

class TestDicomNetwork : public QObject
{
    Q_OBJECT

private slots:
    void storescpReceivesWhatWasSent();
    void orthancStoresIdenticalObjects();
    void refusalsAndDeadPeersAreErrors();

private:
    QString makeImage(const QString &name, int seed, const char *ts);
    QTemporaryDir m_dir;
};

QString TestDicomNetwork::makeImage(const QString &name, int seed, const char *ts)
{
    const QString pic = m_dir.filePath(name + u".bmp"_s);
    colourPicture(96, 64, seed).save(pic, "BMP");
    Image img;
    img.setPatientName(u"SEND^TEST"_s);
    img.importPicture(pic);
    const QString file = m_dir.filePath(name + u".dcm"_s);
    img.writeFile(file, QLatin1String(ts), 95);
    return file;
}

void TestDicomNetwork::storescpReceivesWhatWasSent()
{
    auto peer = PeerProcess::storescp();
    QVERIFY(peer->isRunning());
    QStringList uids;
    for (const char *ts : {kExplicitLittleEndian, kJpegExtended}) {
        Image img = Image::fromFile(makeImage(QLatin1String(ts), 1, ts));
        QCOMPARE(StoreScu(u"127.0.0.1"_s, peer->port(), u"ORVTEST"_s, u"STORESCP"_s).send(img), 0);
        uids << img.instanceUid();
    }
    // An object made in memory and never written is completed (UIDs and all) and sent as well.
    Image fresh;
    fresh.importPicture(m_dir.filePath(QLatin1String(kExplicitLittleEndian) + u".bmp"_s));
    QCOMPARE(StoreScu(u"127.0.0.1"_s, peer->port(), u"ORVTEST"_s, u"STORESCP"_s).send(fresh), 0);
    uids << fresh.instanceUid();

    QStringList received;
    for (const QString &name : QDir(peer->folder() + u"/in"_s).entryList(QDir::Files))
        received << Image::fromFile(peer->folder() + u"/in/"_s + name).instanceUid();
    std::sort(uids.begin(), uids.end());
    std::sort(received.begin(), received.end());
    QCOMPARE(received, uids);
}

void TestDicomNetwork::orthancStoresIdenticalObjects()
{
    auto peer = PeerProcess::orthanc();
    QVERIFY2(peer->isRunning(), qPrintable(peer->log()));
    QMap<QString, QString> sentByUid;
    for (const char *ts : {kExplicitLittleEndian, kJpegExtended}) {
        Image img = Image::fromFile(makeImage(u"o"_s + QLatin1String(ts), 3, ts));
        QCOMPARE(StoreScu(u"127.0.0.1"_s, peer->port(), u"ORVTEST"_s, u"ORTHANC"_s).send(img), 0);
        sentByUid.insert(img.instanceUid(), contentOf(img, m_dir.filePath(u"sent.bmp"_s)));
    }
    const QJsonArray ids = QJsonDocument::fromJson(httpGet(peer->httpPort(), u"/instances"_s)).array();
    QCOMPARE(ids.size(), 2);
    for (const QJsonValue &id : ids) {
        const QString path = m_dir.filePath(id.toString());
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(httpGet(peer->httpPort(), u"/instances/%1/file"_s.arg(id.toString())));
        out.close();
        const Image stored = Image::fromFile(path);
        QCOMPARE(contentOf(stored, m_dir.filePath(u"stored.bmp"_s)), sentByUid.value(stored.instanceUid()));
    }
}

void TestDicomNetwork::refusalsAndDeadPeersAreErrors()
{
    Image img = Image::fromFile(makeImage(u"refused"_s, 5, kExplicitLittleEndian));
    auto sendTo = [&](quint16 port, const QString &called) { return errorOf([&] { StoreScu(u"127.0.0.1"_s, port, u"ORVTEST"_s, called).send(img); }); };
    {
        auto peer = PeerProcess::storescp({u"--refuse"_s});
        QVERIFY(sendTo(peer->port(), u"STORESCP"_s).contains(u"rejected"_s));
    }
    {
        auto peer = PeerProcess::wlmscpfs(u"WLM"_s); // a peer without storage
        QVERIFY(sendTo(peer->port(), u"WLM"_s).contains(u"accepts no presentation context for SecondaryCaptureImageStorage"_s));
    }
    QVERIFY(sendTo(freeLoopbackPort(), u"CLOSED"_s).contains(u"Cannot connect"_s));

    // A peer that takes the connection and never answers fails every operation within the timeout.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    setNetworkTimeout(2);
    QElapsedTimer t;
    t.start();
    QVERIFY(sendTo(silent.serverPort(), u"SILENT"_s) != u"(no error)"_s);
    QVERIFY(errorOf([&] { WorklistScu(u"127.0.0.1"_s, silent.serverPort(), u"B"_s).run(DataSet()); }) != u"(no error)"_s);
    FilmPrinter printer(u"127.0.0.1"_s, silent.serverPort(), u"B"_s, u"A"_s);
    QVERIFY(errorOf([&] { printer.open(); }) != u"(no error)"_s);
    QVERIFY2(t.elapsed() < 3 * 4000, qPrintable(QString::number(t.elapsed())));
    setNetworkTimeout(10);
}

ORV_TEST_MAIN(TestDicomNetwork)
#include "tst_dicomnetwork.moc"
