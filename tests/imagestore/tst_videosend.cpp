// Video rows sent to a real Orthanc as DICOM video objects when SendVideos is set: what the
// archive holds, that the object conforms and its H.264 stream decodes frame for frame (Orthanc
// lists a video as one frame holding the whole stream and does not decode it: FFmpeg does).
#include "Peers.h"
#include "Pictures.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "core/ExamSession.h"
#include "core/OpenTransaction.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "imagestore/ImageSend.h"
#include "imagestore/VideoObjectFile.h"
#include "outside/Error.h"
#include "outside/dicom/Toolkit.h"
#include "outside/dicom/VideoObject.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QTemporaryDir>

using namespace orv;
using namespace orv::test;
using T = OpenTransaction;

namespace {

QByteArray get(quint16 port, const QString &path)
{
    QNetworkAccessManager nam;
    QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->readAll();
}

// What FFmpeg finds in the object's H.264 stream (the one fragment after the offset table):
// "profile,width,height,level,frames decoded".
QString decodedStream(const QString &dicomFile, const QString &streamFile)
{
    DcmFileFormat file;
    DcmElement *element = nullptr;
    DcmPixelSequence *seq = nullptr;
    DcmPixelItem *fragment = nullptr;
    Uint8 *data = nullptr;
    if (file.loadFile(QFile::encodeName(dicomFile).constData()).bad()
        || file.getDataset()->findAndGetElement(DCM_PixelData, element).bad()
        || static_cast<DcmPixelData *>(element)->getEncapsulatedRepresentation(file.getDataset()->getOriginalXfer(), nullptr, seq).bad()
        || seq->card() != 2 || seq->getItem(fragment, 1).bad() || fragment->getUint8Array(data).bad())
        return QStringLiteral("no single-fragment pixel data");
    QFile out(streamFile);
    out.open(QIODevice::WriteOnly);
    out.write(reinterpret_cast<const char *>(data), fragment->getLength());
    out.close();
    return runTool("ffprobe", {"-v", "error", "-f", "h264", "-count_frames", "-show_entries",
                               "stream=profile,level,width,height,nb_read_frames", "-of", "csv=p=0", streamFile})
        .out.trimmed();
}

} // namespace

class tst_VideoSend : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    ImageRow row(const QString &type, const QString &name) const
    {
        return ImageRow::make(kStatusNew, type, kLocalTemp, QString(), m_dir.path(), name, QString());
    }
    // A Motion JPEG AVI of the test source, as the capture station records them.
    QString clip(const QString &name, const QString &size, int rate, double seconds)
    {
        const ToolResult r = runTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                QStringLiteral("testsrc=size=%1:rate=%2").arg(size).arg(rate), "-t",
                                                QString::number(seconds), "-c:v", "mjpeg", "-q:v", "4", path(name)});
        if (r.exitCode != 0)
            qFatal("ffmpeg: %s", qPrintable(r.err));
        return path(name);
    }

private slots:
    void init()
    {
        resetDicomNodes();
        OpenTransaction &tr = openTransaction();
        tr.clear();
        const QList<std::pair<T::Field, QString>> values{
            {T::TransNo, "00091"}, {T::HospNum, "H-2002"}, {T::LName, "REYES"}, {T::FName, "LUZ"},
            {T::BDate, "02/11/1975"}, {T::Gender, "F"}, {T::TransDate, "12/05/2026"},
            {T::StudyUID, "1.2.826.0.1.3680043.9.7777.91"}, {T::SeriesUID, "1.2.826.0.1.3680043.9.7777.91.1"},
            {T::SeriesNum, "1"}, {T::ImgNum, "4"}, {T::ExamType, "US"}, {T::ExamName, "NECK"}, {T::Technologist, "TECH"}};
        for (const auto &[f, v] : values)
            tr.setValue(f, v);
        state().CompanyName = QStringLiteral("ORVALINE GENERAL");
    }

    // Off: Video rows are passed over. On: each clip arrives as a Video Photographic object that
    // conforms and decodes frame for frame, a clip over 1920x1080 at 60 fps scaled and thinned to
    // what level 4.1 allows; a corrupt clip is named in the log, takes no number, and the rows
    // after it are still sent.
    void videoRowsReachTheArchiveOnlyWhenSet()
    {
        auto orthanc = PeerProcess::orthanc();
        QVERIFY(orthanc->isRunning());
        dicomNodes().setValue(DicomNodes::StorageNode, QStringLiteral("127.0.0.1"));
        dicomNodes().setValue(DicomNodes::StoragePort, QString::number(orthanc->port()));
        dicomNodes().setValue(DicomNodes::StorageAE, QStringLiteral("ORTHANC"));
        clip("clip.avi", "640x480", 25, 2);
        clip("wide.avi", "2400x1440", 60, 0.5);
        QFile bad(path("bad.avi"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray("RIFF\x10\0\0\0AVI LIST", 16) + QByteArray(4000, '\x5a'));
        bad.close();
        QVERIFY(colourPicture(64, 48, 1).save(path("p.jpg")));
        const QList<ImageRow> rows{row("Video", "bad.avi"), row("Video", "clip.avi"), row("jpg", "p.jpg"), row("VIDEO", "wide.avi")};

        QVERIFY(!sendsVideos());
        ImageSend::start(SendRequest::fromState(rows));
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(QJsonDocument::fromJson(get(orthanc->httpPort(), "/instances")).array().size(), 1);
        QCOMPARE(openTransaction().value(T::ImgNum), QStringLiteral("5"));

        settings().write(apps::VelmorOrvaline, QStringLiteral("dicom"), QStringLiteral("SendVideos"), QStringLiteral("1"));
        QVERIFY(sendsVideos());
        frmLog::instance()->txtLog->clear();
        ImageSend::start(SendRequest::fromState(rows));
        QVERIFY(session().jobs().waitForIdle(300000));
        const QStringList log = frmLog::instance()->txtLog->toPlainText().split('\n').mid(1);
        QCOMPARE(log.size(), 3);
        QVERIFY2(log[1].startsWith(QStringLiteral("The clip %1 cannot be converted: ").arg(path("bad.avi"))), qPrintable(log[1]));
        QCOMPARE(log[2], QStringLiteral("Send Complete."));
        QCOMPARE(openTransaction().value(T::ImgNum), QStringLiteral("8")); // the corrupt clip's number given back

        QMap<QString, QStringList> byNumber;
        for (const QJsonValue &v : QJsonDocument::fromJson(get(orthanc->httpPort(), "/instances")).array()) {
            const QString id = v.toString();
            const QJsonObject tags = QJsonDocument::fromJson(get(orthanc->httpPort(), "/instances/" + id + "/simplified-tags")).object();
            if (tags.value("SOPClassUID").toString() != QLatin1String(dicom::kVideoPhotographicClass))
                continue;
            const QString received = path("received-" + id + ".dcm");
            QFile f(received);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(get(orthanc->httpPort(), "/instances/" + id + "/file"));
            f.close();
            QCOMPARE(dciodvfyErrors(received).join(QLatin1Char('\n')), QString());
            const QString frames = tags.value("NumberOfFrames").toString();
            byNumber.insert(tags.value("InstanceNumber").toString(),
                            {tags.value("Modality").toString(), tags.value("PatientName").toString(),
                             tags.value("StudyInstanceUID").toString(), tags.value("FrameTime").toString(),
                             get(orthanc->httpPort(), "/instances/" + id + "/metadata/TransferSyntax"),
                             decodedStream(received, path(id + ".h264")), frames});
        }
        QCOMPARE(byNumber.keys(), (QStringList{"6", "8"}));
        QCOMPARE(byNumber.value("6"), (QStringList{"XC", "REYES^LUZ^", "1.2.826.0.1.3680043.9.7777.91", "40",
                                                   dicom::kH264HighProfile41, "High,640,480,41,50", "50"}));
        QCOMPARE(byNumber.value("8"), (QStringList{"XC", "REYES^LUZ^", "1.2.826.0.1.3680043.9.7777.91", "33.33333333",
                                                   dicom::kH264HighProfile41, "High,1800,1080,41,15", "15"}));
    }

    // An ES exam's clip becomes a Video Endoscopic object; a clip that cannot be read leaves no file.
    void endoscopyClipsAreVideoEndoscopicObjects()
    {
        openTransaction().setValue(T::ExamType, "ES");
        const QString target = path("es.dcm");
        writeVideoObjectFile(clip("es.avi", "320x240", 30, 1), openTransaction().record(), 9, "X", target);
        QCOMPARE(dciodvfyErrors(target).join(QLatin1Char('\n')), QString());
        DcmFileFormat file;
        QVERIFY(file.loadFile(QFile::encodeName(target).constData()).good());
        OFString sopClass, modality;
        file.getDataset()->findAndGetOFString(DCM_SOPClassUID, sopClass);
        file.getDataset()->findAndGetOFString(DCM_Modality, modality);
        QCOMPARE(QString::fromLatin1(sopClass.c_str()) + ' ' + modality.c_str(), QStringLiteral("%1 ES").arg(dicom::kVideoEndoscopicClass));
        QVERIFY_THROWS_EXCEPTION(Error, writeVideoObjectFile(path("none.avi"), openTransaction().record(), 10, "X", path("none.dcm")));
        QVERIFY(!QFile::exists(path("none.dcm")));
    }
};

ORV_TEST_MAIN(tst_VideoSend)
#include "tst_videosend.moc"
