// What files and peers send is bounded before the toolkit trusts it: data sets nested without
// end (which once ended the process through the toolkit's recursive reader), pixel data that
// declares far more than it holds, peers that trickle their answers, and associations to the
// storage commitment listener from anyone but the archive. The hostile data and peers are
// written byte by byte on loopback ports the test picks.

#include "HostilePeer.h"
#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/DicomFile.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/StorageCommitment.h"
#include "outside/dicom/StoreAssociation.h"
#include "outside/dicom/StoreScu.h"
#include "outside/dicom/Picture.h"
#include "outside/dicom/Toolkit.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <atomic>
#include <mutex>

using namespace orv::dicom;
using namespace orv::test;
using namespace orv::test::hostile;
using namespace Qt::StringLiterals;

namespace {

constexpr const char *kExplicit = "1.2.840.10008.1.2.1";
constexpr const char *kImplicit = "1.2.840.10008.1.2";
constexpr const char *kWorklistModel = "1.2.840.10008.5.1.4.31";
constexpr const char *kCommitment = "1.2.840.10008.1.20.1";

QByteArray us(quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); }

// A C-FIND response: pending with a data set, or the final success without one.
QByteArray findResponse(bool pending)
{
    return pdata(1, true,
                 commandSet(implicitElement(0x0000, 0x0002, kWorklistModel) + implicitElement(0x0000, 0x0100, us(0x8020))
                            + implicitElement(0x0000, 0x0120, us(1)) + implicitElement(0x0000, 0x0800, us(pending ? 0x0000 : 0x0101))
                            + implicitElement(0x0000, 0x0900, us(pending ? 0xFF00 : 0x0000))));
}

// A worklist provider that answers the first query with `answer` (a data set in implicit VR).
std::unique_ptr<Server> provider(const QByteArray &answer)
{
    return std::make_unique<Server>([answer](Socket &s) {
        if (s.readPdu(nullptr) != 0x01)
            return;
        s.send(associateAc("WORKLIST", "VELMOR", 1));
        if (!s.readMessage(false))
            return;
        s.send(findResponse(true) + pdata(1, false, answer) + findResponse(false));
        s.readPdu(nullptr, 20000); // until the workstation ends the association
    });
}

// A storage commitment report for `transactionUid` naming one committed object.
QByteArray commitmentReport(const QByteArray &dataSet)
{
    return pdata(1, true,
                 commandSet(implicitElement(0x0000, 0x0002, kCommitment) + implicitElement(0x0000, 0x0100, us(0x0100))
                            + implicitElement(0x0000, 0x0110, us(1)) + implicitElement(0x0000, 0x0800, us(0x0000))
                            + implicitElement(0x0000, 0x1000, "1.2.840.10008.1.20.1.1") + implicitElement(0x0000, 0x1002, us(1))))
           + pdata(1, false, dataSet);
}

QByteArray committed(const QByteArray &transactionUid)
{
    const QByteArray undefined("\xff\xff\xff\xff", 4);
    return implicitElement(0x0008, 0x1195, transactionUid) + QByteArray("\x08\x00\x99\x11", 4) + undefined
           + QByteArray("\xfe\xff\x00\xe0", 4) + undefined + implicitElement(0x0008, 0x1150, "1.2.840.10008.5.1.4.1.1.7")
           + implicitElement(0x0008, 0x1155, "1.2.3.4.5") + QByteArray("\xfe\xff\x0d\xe0\0\0\0\0", 8)
           + QByteArray("\xfe\xff\xdd\xe0\0\0\0\0", 8);
}

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        setNetworkTimeout(5);
        setExchangeTimeLimit(60);
    }
    void nestedFilesAreRefusedNotFollowed();
    void oversizedPixelDeclarationsAreRefused();
    void worklistAnswersAreBounded();
    void trickledAnswerEndsTheSend();
    void commitmentListenerTakesOnlyItsArchive();

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile f(m_dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
    QTemporaryDir m_dir;
};

// Thousands of levels in either encoding, and a deflated one, are refused by every reader with
// a message and no crash; 64 levels are still read. The command line tools refuse them too.
void TestHostileInput::nestedFilesAreRefusedNotFollowed()
{
    const QByteArray name = explicitElement(0x0010, 0x0010, "PN", "DEEP^NEST");
    const QString deepExplicit = write(u"deep-explicit.dcm"_s, fileOf(name + nestedSequences(10000, true), kExplicit));
    const QString deepImplicit = write(u"deep-implicit.dcm"_s, fileOf(nestedSequences(20000, false), kImplicit));
    const QString justDeepEnough = write(u"sixty-four.dcm"_s, fileOf(name + nestedSequences(64, true), kExplicit));
    const QString oneTooMany = write(u"sixty-five.dcm"_s, fileOf(name + nestedSequences(65, true), kExplicit));

    for (const QString &path : {deepExplicit, deepImplicit, oneTooMany}) {
        const QString why = errorOf([&] { readDicomFile(path); });
        QCOMPARE(why, u"The file %1 holds sequences nested deeper than 64 levels and is refused."_s.arg(path));
        QVERIFY(errorOf([&] { StoreAssociation::identify(path); }).contains(u"nested deeper"_s));
    }
    QVERIFY(readDicomFile(justDeepEnough) != nullptr);

    for (const char *command : {"dump", "render"}) {
        QStringList args{QString::fromLatin1(command)};
        if (args.first() == u"render"_s)
            args << u"--out"_s << m_dir.path();
        const ToolResult r = runTool(QStringLiteral(ORV_CLI), args + QStringList{deepExplicit, deepImplicit});
        QCOMPARE(r.exitCode, 1); // not a crash
        QCOMPARE(r.err.count(u"nested deeper than 64 levels"_s), 2);
    }
    QCOMPARE(runTool(QStringLiteral(ORV_CLI), {u"dump"_s, justDeepEnough}).exitCode, 0);
}

// A few hundred bytes declaring 65535 x 65535 pixels, or more frames than its data holds, are
// refused before anything is decoded (the command line would otherwise grow to gigabytes).
void TestHostileInput::oversizedPixelDeclarationsAreRefused()
{
    const auto image = [](quint16 rows, quint16 columns, const QByteArray &frames, int bytes) {
        return explicitElement(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7")
               + explicitElement(0x0008, 0x0018, "UI", "1.2.826.0.1.3680043.2.1143.7.1")
               + explicitElement(0x0028, 0x0002, "US", us(1)) + explicitElement(0x0028, 0x0004, "CS", "MONOCHROME2")
               + (frames.isEmpty() ? QByteArray() : explicitElement(0x0028, 0x0008, "IS", frames))
               + explicitElement(0x0028, 0x0010, "US", us(rows)) + explicitElement(0x0028, 0x0011, "US", us(columns))
               + explicitElement(0x0028, 0x0100, "US", us(8)) + explicitElement(0x0028, 0x0101, "US", us(8))
               + explicitElement(0x0028, 0x0102, "US", us(7)) + explicitElement(0x0028, 0x0103, "US", us(0))
               + explicitElement(0x7FE0, 0x0010, "OB", QByteArray(bytes, '\x40'));
    };
    const QString huge = write(u"huge.dcm"_s, fileOf(image(65535, 65535, {}, 128), kExplicit));
    const QString short16 = write(u"frames.dcm"_s, fileOf(image(16, 16, "20", 16 * 16 * 2), kExplicit));
    const QString fine = write(u"fine.dcm"_s, fileOf(image(16, 16, "2", 16 * 16 * 2), kExplicit));

    const ToolResult r = runTool(QStringLiteral(ORV_CLI), {u"render"_s, u"--out"_s, m_dir.path(), huge, short16, fine});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(u"%1: The image declares 65535 x 65535 pixels of 1 x 8 bits, 4095 MB a frame; more than 512 MB is refused."_s.arg(huge)),
             qPrintable(r.err));
    QVERIFY2(r.err.contains(u"%1: The pixel data holds 512 bytes but the image declares 5120 (16 x 16 pixels, 20 frame(s)); it is refused."_s.arg(short16)),
             qPrintable(r.err));
    QCOMPARE(r.out.trimmed(), QDir(m_dir.path()).filePath(u"fine.png"_s));
    QVERIFY(errorOf([&] { Image::fromFile(huge).render(0); }).contains(u"65535 x 65535"_s));
}

// A provider's answer nested without end, and values full of terminal escapes and tabs: the
// first is refused, the command line's rows stay rows.
void TestHostileInput::worklistAnswersAreBounded()
{
    {
        auto deep = provider(nestedSequences(20000, false));
        const ToolResult r = runTool(QStringLiteral(ORV_CLI), {u"worklist"_s, u"--host"_s, u"127.0.0.1"_s, u"--port"_s,
                                                              QString::number(deep->port()), u"--aec"_s, u"WORKLIST"_s});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(u"A message from 127.0.0.1:%1 (WORKLIST) holds sequences nested deeper than 64 levels"_s.arg(deep->port())),
                 qPrintable(r.err));
    }
    {
        auto rude = provider(implicitElement(0x0008, 0x0050, "A\tB\nC") + implicitElement(0x0010, 0x0010, "EVIL\x1b]2;owned\x07^X\x1b[31m"));
        const ToolResult r = runTool(QStringLiteral(ORV_CLI), {u"worklist"_s, u"--host"_s, u"127.0.0.1"_s, u"--port"_s,
                                                              QString::number(rude->port()), u"--aec"_s, u"WORKLIST"_s});
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().split(u'\t').size(), 12);
        QVERIFY(!r.out.contains(QChar(0x1b)) && !r.out.contains(QChar(0x07)));
    }
}

// An archive that answers a store two bytes at a time, each piece well within the network
// timeout, is cut off by the exchange time limit instead of holding the send for as long as it
// likes.
void TestHostileInput::trickledAnswerEndsTheSend()
{
    Server slow([](Socket &s) {
        if (s.readPdu(nullptr) != 0x01)
            return;
        s.send(associateAc("ARCHIVE", "ORVALINE", 1));
        if (!s.readMessage(false))
            return;
        const QByteArray response = commandSet(
            implicitElement(0x0000, 0x0002, "1.2.840.10008.5.1.4.1.1.7") + implicitElement(0x0000, 0x0100, us(0x8001))
            + implicitElement(0x0000, 0x0120, us(1)) + implicitElement(0x0000, 0x0800, us(0x0101))
            + implicitElement(0x0000, 0x0900, us(0)) + implicitElement(0x0000, 0x1000, "1.2.3.4"));
        s.sendPaced(pdus(1, true, response, 2), 250);
        s.readPdu(nullptr, 20000);
    });
    setExchangeTimeLimit(2);
    const QString picture = m_dir.filePath(u"slow.bmp"_s);
    QVERIFY(greyPicture(16, 16, 1).save(picture, "BMP"));
    Image img;
    img.importPicture(picture);
    QElapsedTimer t;
    t.start();
    const QString why = errorOf([&] { StoreScu(Peer{u"127.0.0.1"_s, slow.port(), u"ORVALINE"_s, u"ARCHIVE"_s}).send(img); });
    QCOMPARE(why, u"127.0.0.1:%1 (ARCHIVE) did not send a whole message within 2 seconds; the association was ended."_s.arg(slow.port()));
    QVERIFY2(t.elapsed() < 8000, qPrintable(QString::number(t.elapsed())));
}

// Only the archive's AE title, calling the workstation's, is heard, on the chosen address; a
// report nested without end costs the sender its association, and the listener goes on.
void TestHostileInput::commitmentListenerTakesOnlyItsArchive()
{
    std::mutex mutex;
    QStringList heard;
    const quint16 port = freeLoopbackPort();
    ListenerSettings settings{u"WS"_s, port, u"127.0.0.1"_s, {u"ARCHIVE"_s}, {}};
    CommitmentListener listener(settings, [&](const CommitAnswer &a) {
        std::lock_guard lock(mutex);
        heard << a.transactionUid;
    });
    listener.start();

    for (const auto &[called, calling] : {std::pair("WS", "INTRUDER"), std::pair("OTHER", "ARCHIVE")}) {
        Socket stranger = Socket::connectTo("127.0.0.1", port);
        QVERIFY(stranger.send(associateRq(called, calling, kCommitment)));
        QCOMPARE(stranger.readPdu(nullptr), 0x03); // rejected
        // and audited as a security alert naming the peer and what it asked for
        const QString alert = auditMessages().value(auditMessages().size() - 1);
        QVERIFY2(alert.contains(u"originalText=\"Node Authentication\""_s) && alert.contains(QString::fromLatin1(QByteArray(called) == "WS" ? calling : called)),
                 qPrintable(alert));
    }
    QVERIFY(!Socket::connectTo("127.0.0.2", port).valid()); // not on every interface

    Socket deep = Socket::connectTo("127.0.0.1", port);
    QVERIFY(deep.send(associateRq("WS", "ARCHIVE", kCommitment)));
    QCOMPARE(deep.readPdu(nullptr), 0x02);
    deep.send(commitmentReport(nestedSequences(20000, false)));
    QVERIFY(deep.readPdu(nullptr, 15000) != 0x04); // no answer: the association is ended

    Socket archive = Socket::connectTo("127.0.0.1", port);
    QVERIFY(archive.send(associateRq("WS", "ARCHIVE", kCommitment)));
    QCOMPARE(archive.readPdu(nullptr), 0x02);
    QVERIFY(archive.send(commitmentReport(committed("1.2.3.99"))));
    QCOMPARE(archive.readPdu(nullptr), 0x04);
    std::lock_guard lock(mutex);
    QCOMPARE(heard, QStringList{u"1.2.3.99"_s});
}

ORV_TEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
