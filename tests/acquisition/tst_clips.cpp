// Clip recording at the capture station over the test pattern and from AVI files, checked with
// the ffprobe command line: every codec's clip decodes whole, becomes a Video row of its
// transaction, and what goes wrong (unusable input, a refused frame size, a lost device, a write
// failure, stopping twice, closing while recording) keeps what was written.
#include "common/CaptureTools.h"
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "acquisition/Registration.h"
#include "acquisition/frmAcquire.h"
#include "acquisition/frmVideo.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "imagestore/ctlImageList.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/TestPattern.h"
#include "outside/encoder/AviEncoder.h"

#include <QLabel>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QVideoWidget>

using namespace orv;
using namespace orv::test;

namespace {
struct Probe
{
    int frames = -1;       // decoded video frames
    double duration = -1;  // of the video stream, seconds
    int maxGap = 0;        // largest step between consecutive frame timestamps, in frames
    bool audio = false;
    double audioDuration = -1; // of the sound's samples, seconds
    int audioRate = 0, audioChannels = 0, audioPackets = 0;
};

// What ffprobe decodes of an AVI clip.
Probe probe(const QString &path)
{
    Probe p;
    const ToolResult r = runTool("ffprobe", {"-v", "error", "-count_frames", "-show_entries",
                                             "stream=codec_type,nb_read_frames,duration,sample_rate,channels,bits_per_sample", "-of", "json", path});
    for (const QJsonValue &s : QJsonDocument::fromJson(r.out.toUtf8())["streams"].toArray()) {
        if (s["codec_type"].toString() == "audio") {
            p.audio = true;
            p.audioRate = s["sample_rate"].toString().toInt();
            p.audioChannels = s["channels"].toInt();
            // AVI states no length for PCM sound: its bytes tell it.
            const ToolResult a = runTool("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                     "packet=size", "-of", "csv=p=0", path});
            qint64 bytes = 0;
            for (const QString &line : a.out.split('\n', Qt::SkipEmptyParts)) {
                bytes += line.trimmed().toLongLong();
                ++p.audioPackets;
            }
            const int bytesPerSecond = p.audioRate * p.audioChannels * s["bits_per_sample"].toInt() / 8;
            p.audioDuration = bytesPerSecond > 0 ? double(bytes) / bytesPerSecond : -1;
        }
        if (s["codec_type"].toString() == "video") {
            p.frames = s["nb_read_frames"].toString().toInt();
            p.duration = s["duration"].toString().toDouble();
        }
    }
    const ToolResult f = runTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                             "frame=best_effort_timestamp", "-of", "csv=p=0", path});
    qint64 last = -1;
    for (const QString &line : f.out.split('\n', Qt::SkipEmptyParts)) {
        const qint64 pts = line.trimmed().toLongLong();
        if (last >= 0)
            p.maxGap = qMax<int>(p.maxGap, int(pts - last));
        last = pts;
    }
    return p;
}

// An AVI made by the ffmpeg command line: `seconds` of a 25 fps test picture with a tone.
QString makeAvi(const QString &path, const QString &size, int seconds)
{
    const ToolResult r = runTool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=25", "-f", "lavfi",
                                            "-i", "sine=frequency=440", "-t", QString::number(seconds), "-c:v", "mjpeg", "-pix_fmt",
                                            "yuvj420p", "-c:a", "pcm_s16le", path});
    return r.exitCode == 0 ? path : QString();
}
} // namespace

class tst_Clips : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter *m_prompter = nullptr;

    frmAcquire *station(QSize size = {320, 240})
    {
        frmAcquire *w = frmAcquire::instance();
        w->show();
        w->actiVideoX1->setRequestedWidth(qint16(size.width()));
        w->actiVideoX1->setRequestedHeight(qint16(size.height()));
        if (!w->actiVideoX1->ConnectVideo(0))
            return nullptr;
        w->AVIEncoderX1->setSourceHandle(w->actiVideoX1->CaptureHandle());
        w->EncodeEnable();
        return w;
    }
    static QList<ImageRow> videoRows()
    {
        QList<ImageRow> out;
        for (const ImageRow &r : session().rows(QStringLiteral("77"))->rows())
            if (r.type == QLatin1String("Video"))
                out << r;
        return out;
    }
    static QString clipPath(frmAcquire *w) { return w->AVIEncoderX1->OutputFileName(); }
    // Records a live clip of about `ms`, with an optional pause in the middle; true when it ended
    // well and its length was shown while it was being recorded.
    static bool record(frmAcquire *w, int ms, int pauseMs = 0)
    {
        QSignalSpy done(w, &frmAcquire::clipFinished);
        w->lblTime->clear();
        w->cmdEncode->click();
        if (!w->cmdStopEncoder->isEnabled())
            return false;
        QTest::qWait(ms / 2);
        if (!w->lblTime->text().endsWith(QLatin1String(" sec.")))
            return false;
        if (pauseMs > 0) {
            w->cmdPause->click();
            QTest::qWait(pauseMs);
            w->cmdResume->click();
        }
        QTest::qWait(ms / 2);
        w->cmdStopEncoder->click();
        return done.wait(30000) && done.at(0).at(0).toInt() == 0;
    }

private slots:
    void initTestCase() { registerAcquisitionWindows(); }

    void init()
    {
        m_prompter = ScriptedPrompter::install();
        QFile::remove(settings().fileName()); // every test starts from the defaults
        capture::setTestPatternEnabled(true);
        capture::setDeviceScanEnabled(false);
        m_dir = std::make_unique<QTemporaryDir>();
        state().TempFolder = m_dir->filePath(QStringLiteral("pacstemp"));
        QDir().mkpath(state().TempFolder);
        openTransaction().clear();
        openTransaction().setValue(OpenTransaction::TransNo, QStringLiteral("77"));
    }

    void cleanup()
    {
        QVERIFY(session().jobs().waitForIdle(60000));
        delete frmAcquire::loaded();
        delete frmVideo::loaded();
        delete ctlImageList::existing();
        delete frmLog::existing();
        resetSession();
        resetState();
    }

    // A few seconds of the 1280x720 test pattern with every codec, paused once: each clip
    // decodes whole in FFmpeg, spans its recorded length without a hole at the pause, and is a
    // New Video row of the transaction.
    void liveClipsWithEveryCodec()
    {
        frmAcquire *w = station({1280, 720});
        QVERIFY(w);
        QVERIFY(w->lstCODECs->count() >= 3);
        QStringList names;
        for (int i = 0; i < w->lstCODECs->count(); ++i) {
            w->lstCODECs->setCurrentRow(i);
            QVERIFY2(record(w, 3000, 1000), qPrintable(w->lstCODECs->item(i)->text()));
            names << QFileInfo(clipPath(w)).fileName();
            const Probe p = probe(clipPath(w));
            const qint64 written = w->AVIEncoderX1->framesWritten();
            QVERIFY2(written >= 25, qPrintable(QString::number(written)));
            QVERIFY2(qAbs(p.frames - written) <= 1, qPrintable(QStringLiteral("%1 of %2").arg(p.frames).arg(written)));
            QVERIFY(qAbs(p.duration - w->AVIEncoderX1->frameSpan() / 25.0) <= 0.04 + 1e-6);
            QVERIFY2(p.maxGap <= 5, qPrintable(QString::number(p.maxGap))); // the pause (25 frames) left none
            QVERIFY(w->AVIEncoderX1->frameSpan() < 4 * 25 - 15); // the paused second is not in the clip
            QCOMPARE(w->lblTime->text(), QStringLiteral("%1 sec.").arg(w->AVIEncoderX1->ElapsedSeconds()));
            QCOMPARE(w->lblProgress->text(), QStringLiteral("N/A"));
        }
        QTRY_COMPARE(videoRows().size(), names.size());
        for (const ImageRow &r : videoRows()) {
            QVERIFY(names.contains(r.fileName));
            QCOMPARE(r, ImageRow::make(QStringLiteral("New"), QStringLiteral("Video"), QStringLiteral("localtemp"),
                                       QString(), state().TempFolder, r.fileName, QString()));
        }
        QVERIFY(m_prompter->shown.isEmpty());
    }

    // An AVI file re-encoded with every codec keeps its frames, its length and its sound.
    void fileReencodeWithEveryCodec()
    {
        const QString input = makeAvi(m_dir->filePath("in.avi"), "320x240", 3);
        QVERIFY(!input.isEmpty());
        frmAcquire *w = station();
        QVERIFY(w);
        w->optSourceFile->click();
        m_prompter->fileAnswers << input;
        w->cmdInputFile->click();
        QVERIFY(w->cmdEncode->isEnabled());
        for (int i = 0; i < w->lstCODECs->count(); ++i) {
            w->lstCODECs->setCurrentRow(i);
            QSignalSpy done(w, &frmAcquire::clipFinished);
            w->cmdEncode->click();
            QVERIFY(done.wait(60000));
            QCOMPARE(done.at(0).at(0).toInt(), 0);
            const Probe p = probe(clipPath(w));
            QCOMPARE(p.frames, 75);
            QCOMPARE(w->lblProgress->text(), QStringLiteral("100%"));
            QCOMPARE(w->lblTime->text(), QStringLiteral("3 sec."));
            QVERIFY(qAbs(p.duration - 3.0) <= 0.04 + 1e-6);
            QVERIFY(p.audio);
        }
        QTRY_COMPARE(videoRows().size(), w->lstCODECs->count());
    }

    // Inputs the station cannot use are refused with their messages; a damaged AVI is encoded
    // as far as it decodes; a frame size the codec refuses does not start and lists nothing.
    void unusableInputs()
    {
        frmAcquire *w = station();
        QVERIFY(w);
        w->optSourceFile->click();
        QFile text(m_dir->filePath(QStringLiteral("notes.avi")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(QByteArray(4096, 'x'));
        text.close();
        m_prompter->fileAnswers << m_dir->filePath(QStringLiteral("missing.avi")) << text.fileName();
        w->cmdInputFile->click();
        w->cmdInputFile->click();
        QCOMPARE(m_prompter->messages().size(), 2);
        QVERIFY(m_prompter->lastMessage().contains("not supported"));
        QVERIFY(!w->cmdEncode->isEnabled());

        // The second half of an AVI overwritten: what decodes is kept.
        const QString damaged = makeAvi(m_dir->filePath("damaged.avi"), "320x240", 4);
        QFile f(damaged);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(f.size() / 2);
        f.write(QByteArray(int(f.size() / 4), '\xA5'));
        f.close();
        m_prompter->fileAnswers << damaged;
        w->cmdInputFile->click();
        w->lstCODECs->setCurrentRow(0);
        QSignalSpy done(w, &frmAcquire::clipFinished);
        w->cmdEncode->click();
        QVERIFY(done.wait(60000));
        const Probe p = probe(clipPath(w));
        QVERIFY2(p.frames >= 25 && p.frames < 100, qPrintable(QString::number(p.frames)));
        QTRY_COMPARE(videoRows().size(), 1);

        // H.264 takes no odd frame size.
        m_prompter->fileAnswers << makeAvi(m_dir->filePath("odd.avi"), "321x241", 1);
        w->cmdInputFile->click();
        w->lstCODECs->setCurrentRow(2);
        m_prompter->shown.clear();
        w->cmdEncode->click();
        QCOMPARE(m_prompter->messages().size(), 1);
        QVERIFY(frmLog::instance()->text().contains("321x241"));
        QTest::qWait(200);
        QCOMPARE(videoRows().size(), 1);
    }

    // Stopping twice, an unplugged device, a write failure and closing the station while
    // recording: each clip so far is closed and listed once, and the station goes on.
    void recordingsCutShortKeepWhatWasWritten()
    {
        frmAcquire *w = station();
        QVERIFY(w);
        w->lstCODECs->setCurrentRow(0);
        QSignalSpy done(w, &frmAcquire::clipFinished);
        w->cmdEncode->click();
        QTest::qWait(800);
        w->cmdStopEncoder->click();
        QTest::keyClick(w, Qt::Key_F9);
        w->AVIEncoderX1->StopEncoding();
        QVERIFY(done.wait(20000));
        QTest::qWait(300);
        QCOMPARE(done.size(), 1);
        QTRY_COMPARE(videoRows().size(), 1);

        // Unplugged: the clip so far is closed and listed, and the operator told.
        w->cmdEncode->click();
        QTest::qWait(800);
        capture::unplugTestPattern();
        QVERIFY(done.wait(20000));
        QTRY_COMPARE(videoRows().size(), 2);
        QVERIFY(probe(clipPath(w)).frames > 0);
        QVERIFY(m_prompter->lastMessage().contains(QStringLiteral("unplugged")));

        // The disc fills: the message, and the clip written up to then listed.
        QCOMPARE(station(), w);
        w->lstCODECs->setCurrentRow(3 < w->lstCODECs->count() ? 3 : 0);
        {
            FileSizeLimit limit(300 * 1024);
            w->cmdEncode->click();
            QVERIFY(done.wait(20000));
        }
        QCOMPARE(done.last().at(0).toInt(), -1);
        QTRY_COMPARE(videoRows().size(), 3);
        QVERIFY(probe(clipPath(w)).frames > 0);

        // Closing the station while recording: the clip is closed and listed after it has gone.
        w->cmdEncode->click();
        QTest::qWait(800);
        const QString last = clipPath(w);
        w->close();
        QTRY_VERIFY(!frmAcquire::loaded());
        QVERIFY(session().jobs().waitForIdle(20000));
        QCOMPARE(videoRows().size(), 4);
        QVERIFY(probe(last).frames > 0);
    }
};

ORV_TEST_MAIN(tst_Clips)
#include "tst_clips.moc"
