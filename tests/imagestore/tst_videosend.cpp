// Video rows sent to a real Orthanc as DICOM video objects when SendVideos is set. Orthanc lists
// a video as one frame holding the whole stream and does not decode it: FFmpeg decodes that frame.
#include "Peers.h"
#include "Pictures.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "imagestore/ImageSend.h"
#include "imagestore/VideoObjectFile.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/VideoObject.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>

using namespace orv;
using namespace orv::test;
using T = OpenTransaction;

class tst_VideoSend : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<FreshDatabase> m_database; // the send queue's
    QString path(const QString &name) const { return m_dir.filePath(name); }
    ImageRow row(const QString &type, const QString &name) const
    {
        return ImageRow::make(kStatusNew, type, kLocalTemp, QString(), m_dir.path(), name, QString());
    }
    // A Motion JPEG AVI of FFmpeg's test source, as the capture station records them.
    QString clip(const QString &name, const QString &size, int rate, double seconds)
    {
        const ToolResult r = runTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", QStringLiteral("testsrc=size=%1:rate=%2").arg(size).arg(rate),
                                                "-t", QString::number(seconds), "-c:v", "mjpeg", path(name)});
        return r.exitCode == 0 ? path(name) : QString();
    }

private slots:
    void cleanupTestCase()
    {
        resetSession();
        resetState(); // the database goes before the application object
    }
    void init()
    {
        QVERIFY(loginOnFreshDatabase(m_database, Backend::SQLite));
        openTransaction().clear();
        for (const auto &[f, v] : QList<std::pair<T::Field, QString>>{
                 {T::TransNo, "00091"}, {T::LName, "REYES"}, {T::FName, "LUZ"}, {T::StudyUID, "1.2.826.0.1.3680043.9.7777.91"},
                 {T::SeriesUID, "1.2.826.0.1.3680043.9.7777.91.1"}, {T::ImgNum, "4"}, {T::ExamType, "US"}})
            openTransaction().setValue(f, v);
    }

    // Off: Video rows are passed over. On: each clip arrives as a Video Photographic object that
    // conforms and decodes frame for frame (the progress moving with the conversion), one over
    // 1920x1080 at 60 fps scaled and thinned to what level 4.1 allows; a corrupt clip is named in
    // the log, takes no number, and the rows after it are still sent.
    void videoRowsReachTheArchiveOnlyWhenSet()
    {
        auto orthanc = PeerProcess::orthanc();
        QVERIFY(orthanc->isRunning());
        dicomNodes().setValue(DicomNodes::StorageNode, QStringLiteral("127.0.0.1"));
        dicomNodes().setValue(DicomNodes::StoragePort, QString::number(orthanc->port()));
        dicomNodes().setValue(DicomNodes::StorageAE, QStringLiteral("ORTHANC"));
        QVERIFY(!clip("clip.avi", "640x480", 25, 2).isEmpty() && !clip("wide.avi", "2400x1440", 60, 0.5).isEmpty());
        QFile bad(path("bad.avi"));
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(QByteArray("RIFF\x10\0\0\0AVI LIST", 16) + QByteArray(4000, 'Z')));
        bad.close();
        QVERIFY(colourPicture(64, 48, 1).save(path("p.jpg")));
        const QList<ImageRow> rows{row("Video", "bad.avi"), row("Video", "clip.avi"), row("jpg", "p.jpg"), row("VIDEO", "wide.avi")};

        ImageSend::start(SendRequest::fromState(rows));
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(QJsonDocument::fromJson(orthanc->rest("/instances")).array().size(), 1);

        settings().write(apps::VelmorOrvaline, QStringLiteral("dicom"), QStringLiteral("SendVideos"), QStringLiteral("1"));
        frmLog::instance()->txtLog->clear();
        QList<int> during; // progress shown while the second row's clip is converted
        QObject context;
        connect(&session().jobs(), &JobRunner::progress, &context, [&](const QString &, int done, int total) {
            if (total == 400 && done > 100 && done < 200)
                during << done;
        });
        ImageSend::start(SendRequest::fromState(rows));
        QVERIFY(session().jobs().waitForIdle(300000));
        QVERIFY2(during.size() > 10 && std::is_sorted(during.begin(), during.end()), qPrintable(QString::number(during.size())));
        const QStringList log = frmLog::instance()->txtLog->toPlainText().split('\n').mid(2);
        QCOMPARE(log.size(), 2);
        QVERIFY2(log[0].startsWith(QStringLiteral("The clip %1 cannot be converted: ").arg(path("bad.avi"))), qPrintable(log[0]));
        QCOMPARE(log[1], QStringLiteral("Send Complete."));
        // 6 and 7 for the clips; the picture sent before goes again as the object the archive
        // holds; the corrupt clip's number and the picture's are given back.
        QCOMPARE(openTransaction().value(T::ImgNum), QStringLiteral("7"));

        QMap<QString, QStringList> byNumber;
        for (const QJsonValue &v : QJsonDocument::fromJson(orthanc->rest("/instances")).array()) {
            const QString id = QStringLiteral("/instances/") + v.toString();
            const QJsonObject tags = QJsonDocument::fromJson(orthanc->rest(id + "/simplified-tags")).object();
            if (tags.value("SOPClassUID").toString() != QLatin1String(dicom::kVideoPhotographicClass))
                continue;
            QFile received(path(v.toString() + ".dcm")), stream(path(v.toString() + ".h264"));
            QVERIFY(received.open(QIODevice::WriteOnly) && received.write(orthanc->rest(id + "/file")) > 0);
            QVERIFY(stream.open(QIODevice::WriteOnly) && stream.write(orthanc->rest(id + "/frames/0/raw")) > 0);
            received.close();
            stream.close();
            QCOMPARE(dciodvfyErrors(received.fileName()).join('\n'), QString());
            const ToolResult probe = runTool("ffprobe", {"-v", "error", "-f", "h264", "-count_frames", "-show_entries",
                                                         "stream=profile,width,height,level,nb_read_frames", "-of", "csv=p=0", stream.fileName()});
            byNumber.insert(tags.value("InstanceNumber").toString(),
                            {tags.value("Modality").toString(), tags.value("PatientName").toString(), tags.value("StudyInstanceUID").toString(),
                             tags.value("FrameTime").toString(), orthanc->rest(id + "/metadata/TransferSyntax"),
                             probe.out.trimmed(), tags.value("NumberOfFrames").toString()});
        }
        QCOMPARE(byNumber.keys(), (QStringList{"6", "7"}));
        const QStringList identity{"XC", "REYES^LUZ", "1.2.826.0.1.3680043.9.7777.91"};
        QCOMPARE(byNumber.value("6"), (identity + QStringList{"40", dicom::kH264HighProfile41, "High,640,480,41,50", "50"}));
        QCOMPARE(byNumber.value("7"), (identity + QStringList{"33.33333333", dicom::kH264HighProfile41, "High,1800,1080,41,15", "15"}));
    }

    // An ES exam's clip becomes a Video Endoscopic object.
    void endoscopyClipsAreVideoEndoscopicObjects()
    {
        openTransaction().setValue(T::ExamType, "ES");
        writeVideoObjectFile(clip("es.avi", "320x240", 30, 1), openTransaction().record(), 9, "X", path("es.dcm"));
        QCOMPARE(dciodvfyErrors(path("es.dcm")).join('\n'), QString());
        const dicom::Image es = dicom::Image::fromFile(path("es.dcm"));
        QCOMPARE(es.attribute(0x0008, 0x0016).value() + ' ' + es.attribute(0x0008, 0x0060).value(),
                 QStringLiteral("%1 ES").arg(dicom::kVideoEndoscopicClass));
    }
};

ORV_TEST_MAIN(tst_VideoSend)
#include "tst_videosend.moc"
