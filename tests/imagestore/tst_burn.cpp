// Disc burning: "CD Write" in the image list, the burning window and the burner layer,
// burning to libburn's stdio: pseudo drive; every disc is read back with xorriso.
#include "Pictures.h"

#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "imagestore/DiscBurning.h"
#include "imagestore/ctlImageList.h"
#include "imagestore/neroFiddlesCOMForm.h"
#include "outside/burn/Burner.h"
#include "outside/dicom/Image.h"
#include "viewer/frmImageViewer.h"

#include <QDirIterator>
#include <QImage>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QThread>

using namespace orv;
using namespace orv::test;
using T = OpenTransaction;
namespace ob = orv::burn;

class tst_Burn : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter *m_prompter = nullptr;
    ctlImageList *m_list = nullptr;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    static QString root() { return DiscBurning::stagingRoot(); }
    static neroFiddlesCOMForm *window() { return neroFiddlesCOMForm::instance(); }

    QString picture(const QString &name, int w = 64, int h = 48)
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        if (!colourPicture(w, h).save(path(name)))
            qFatal("cannot write %s", qPrintable(name));
        return path(name);
    }
    QString dicomFile(const QString &name, int size = 256, const char *ts = dicom::kExplicitLittleEndian)
    {
        dicom::Image image;
        image.setPatientName(QStringLiteral("DELA CRUZ^JUAN"));
        image.add(0x0010, 0x0020, QStringLiteral("H-4471"));
        image.add(0x0008, 0x0050, QStringLiteral("00123"));
        image.importPicture(picture(QStringLiteral("src.png"), size, size), QStringLiteral("png"));
        QDir().mkpath(QFileInfo(path(name)).path());
        image.writeFile(path(name), QLatin1String(ts));
        return path(name);
    }
    void addRow(const QString &file)
    {
        const QFileInfo fi(file);
        const QString type = fi.suffix().compare(QLatin1String("dcm"), Qt::CaseInsensitive) == 0 ? QStringLiteral("Image")
                                                                                                  : fi.suffix();
        session().openRows()->append(ImageRow::make(kStatusNew, type, kLocalTemp, QString(),
                                                    fi.absolutePath() + QLatin1Char('/'), fi.fileName(), QString()));
    }
    void openExam(const QString &transNo)
    {
        session().beginExam();
        openTransaction().setValue(T::TransNo, transNo);
    }
    // "CD Write" and the window opened on the drives listed.
    void cdWrite()
    {
        if (window()->isVisible())
            window()->close();
        QSignalSpy shown(window(), &neroFiddlesCOMForm::drivesShown);
        m_list->cmdBurn->click();
        QTRY_VERIFY_WITH_TIMEOUT(window()->isVisible(), 30000);
        QVERIFY(shown.wait(30000) || window()->AvailableDevices->count() > 0);
    }
    void selectDrive(const QString &name)
    {
        const auto items = window()->AvailableDevices->findItems(name, Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        window()->AvailableDevices->setCurrentItem(items.first());
    }
    int burnNow(int timeoutMs = 120000)
    {
        QSignalSpy done(window(), &neroFiddlesCOMForm::burnDone);
        window()->Burn->click();
        if (done.isEmpty() && !done.wait(timeoutMs))
            return -1;
        if (done.first().first().toInt() != 0)
            qInfo("%s", qPrintable(window()->messageLog()));
        return done.first().first().toInt();
    }
    QString lastLine() const
    {
        const QStringList lines = window()->messageLog().split(QStringLiteral("\r\n"));
        return lines.size() >= 2 ? lines.at(lines.size() - 2) : QString();
    }
    // The files of an ISO image, extracted with xorriso.
    QString extract(const QString &iso)
    {
        const QString out = path(QStringLiteral("read-") + QFileInfo(iso).completeBaseName());
        QDir(out).removeRecursively();
        const ToolResult r = runTool(QStringLiteral("xorriso"), {QStringLiteral("-indev"), iso, QStringLiteral("-osirrox"),
                                                                 QStringLiteral("on"), QStringLiteral("-extract"),
                                                                 QStringLiteral("/"), out});
        if (r.exitCode != 0 || qEnvironmentVariableIsSet("ORV_DEBUG_BURN"))
            qWarning("%s\n%s", qPrintable(r.err), qPrintable(runTool(QStringLiteral("ls"), {QStringLiteral("-lR"), out}).out));
        return out;
    }
    static QByteArray bytes(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

private slots:
    void initTestCase()
    {
        m_dir = std::make_unique<QTemporaryDir>();
    }
    void init()
    {
        m_prompter = ScriptedPrompter::install();
        ob::Burner::clearPseudoDrives();
        ob::Burner::setImageCapacity(0);
        ob::Burner::addPseudoDrive(QStringLiteral("stdio:") + path(QStringLiteral("disc.iso")), QStringLiteral("Test disc"));
        openExam(QStringLiteral("00123"));
        m_list = ctlImageList::instance();
        m_list->resize(900, 500);
        m_list->show();
    }
    void cleanup()
    {
        if (auto *w = neroFiddlesCOMForm::existing()) {
            w->close();
            QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 30000);
            delete w;
        }
        delete ctlImageList::existing();
        delete frmImageViewer::existing();
        resetSession();
        settings().write(apps::VelmorOrvaline, QStringLiteral("Burn"), QStringLiteral("PortableDisc"), QStringLiteral("1"));
        QDir(root()).removeRecursively();
    }

    // The layer alone: a track with a folder, names shared by equal content, events on the GUI
    // thread, the image read back byte for byte.
    void burnerLayer()
    {
        QByteArray a(3 << 20, Qt::Uninitialized), b(1 << 20, Qt::Uninitialized);
        QRandomGenerator rng(7);
        rng.fillRange(reinterpret_cast<quint32 *>(a.data()), a.size() / 4);
        rng.fillRange(reinterpret_cast<quint32 *>(b.data()), b.size() / 4);
        for (const auto &[name, data] : {std::pair{"layer/a.bin", a}, std::pair{"layer/copy-of-a.bin", a}, std::pair{"layer/b.bin", b}}) {
            QDir().mkpath(path(QStringLiteral("layer")));
            QFile f(path(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(data);
        }
        ob::IsoTrack track;
        track.volumeName = QStringLiteral("LAYER");
        track.applicationName = QStringLiteral("VelMor_PACS");
        track.root.files = {{QStringLiteral("a.bin"), path(QStringLiteral("layer/a.bin"))},
                            {QStringLiteral("Ä long name with spaces.bin"), path(QStringLiteral("layer/copy-of-a.bin"))}};
        ob::IsoFolder sub;
        sub.name = QStringLiteral("SUB");
        sub.files = {{QStringLiteral("b.bin"), path(QStringLiteral("layer/b.bin"))}};
        track.root.folders = {sub};

        ob::Burner burner;
        bool offGuiThread = false;
        int lastProgress = -1;
        QStringList lines;
        bool secondRefused = false;
        connect(&burner, &ob::Burner::OnProgress, this, [&](int p) {
            offGuiThread |= QThread::currentThread() != qApp->thread();
            lastProgress = p;
        });
        connect(&burner, &ob::Burner::OnAddLogLine, this, [&](int, const QString &t) { lines << t; });
        connect(&burner, &ob::Burner::OnSetPhase, this, [&](const QString &t) { lines << t; });
        const QString iso = path(QStringLiteral("layer.iso"));
        // Starts a burn of `t` (the drive's speed in kB/s, 0 for full) and waits for its result;
        // -2 when it was not started.
        const auto burn = [&](const ob::IsoTrack &t, int speed = 0, const QString &drive = {}) {
            QSignalSpy done(&burner, &ob::Burner::OnDoneBurn);
            if (!burner.burnIsoAudioCd({drive.isEmpty() ? QStringLiteral("stdio:") + iso : drive, QStringLiteral("layer"), false}, {},
                                       {}, false, t, 20, speed, 1))
                return -2;
            if (!secondRefused) // a second burn while one runs is refused
                secondRefused = !burner.burnIsoAudioCd({QStringLiteral("stdio:") + iso, QStringLiteral("x"), false}, {}, {}, false, t, 20, 0, 1);
            return done.wait(60000) ? done.first().first().toInt() : -1;
        };
        QCOMPARE(burn(track), int(ob::BurnOk));
        QVERIFY(secondRefused);
        QVERIFY(!offGuiThread);
        QCOMPARE(lastProgress, 100);
        QVERIFY2(lines.contains(QStringLiteral("Writing the disc")), qPrintable(lines.join('\n')));
        // Both names of a's bytes point at one copy: the image is about a + b, not 2a + b.
        QVERIFY2(QFileInfo(iso).size() < (4 << 20) + (512 << 10), qPrintable(QString::number(QFileInfo(iso).size())));
        const QString out = extract(iso);
        QCOMPARE(bytes(out + QStringLiteral("/a.bin")), a);
        QCOMPARE(bytes(out + QStringLiteral("/Ä long name with spaces.bin")), a);
        QCOMPARE(bytes(out + QStringLiteral("/SUB/b.bin")), b);

        // Abort while the write runs (the pseudo drive keeps to the speed asked, 8 MB/s here):
        // the burn ends as aborted and leaves no part-written image.
        QSignalSpy aborted(&burner, &ob::Burner::OnAborted);
        int seen = -1;
        auto c = connect(&burner, &ob::Burner::OnProgress, this, [&](int p) {
            if (p > 0 && p < 100 && seen < 0) {
                seen = p;
                burner.abort();
            }
        });
        QCOMPARE(burn(track, 8000), int(ob::BurnUserAbort));
        disconnect(c);
        QVERIFY(seen > 0);
        QCOMPARE(aborted.size(), 1);
        QVERIFY(!QFileInfo::exists(iso));
        QVERIFY(!burner.isBurning());

        // A name that would leave its folder; a drive that cannot be opened.
        ob::IsoTrack bad = track;
        bad.root.files = {{QStringLiteral("../x.bin"), path(QStringLiteral("layer/a.bin"))}};
        QCOMPARE(burn(bad), int(ob::BurnFailed));
        QCOMPARE(burn(track, 0, QStringLiteral("stdio:/nonexistent-folder/x.iso")), int(ob::BurnInvalidDrive));
    }

    // The whole path: CD Write stages, the window burns, the disc holds every staged file and a
    // DICOMDIR any viewer reads, listing a copy of an object once; the burn is audited.
    void cdWriteBurnsAPortableDisc()
    {
        const QString d1 = dicomFile(QStringLiteral("src1/IMG-0001.dcm"), 320);
        const QString d2 = dicomFile(QStringLiteral("src1/scan.old.dcm"), 200);
        const QString jpg = picture(QStringLiteral("src1/photo.jpg"));
        const QString d3 = dicomFile(QStringLiteral("src1/captured frame.dcm"), 300, dicom::kJpegExtended);
        const QString copy = path(QStringLiteral("src1/copy.dcm"));
        QVERIFY(QFile::copy(d1, copy));
        for (const QString &f : {d1, d2, jpg, d3, copy})
            addRow(f);
        cdWrite();
        selectDrive(QStringLiteral("Test disc"));

        QSignalSpy progress(window()->nero.data(), &ob::Burner::OnProgress);
        QCOMPARE(burnNow(), 0);
        QCOMPARE(lastLine(), QStringLiteral("Burn finished successfully!"));
        QVERIFY(!progress.isEmpty());
        QVERIFY2(window()->messageLog().contains(QStringLiteral("copy.dcm is left out of the DICOMDIR: it has the SOP Instance UID of IMG-0001.dcm.")),
                 qPrintable(window()->messageLog()));
        const QString exported = auditMessages().value(auditMessages().size() - 1);
        QVERIFY2(exported.contains(QStringLiteral("originalText=\"Export\"")) && exported.contains(QStringLiteral("originalText=\"CD\"")),
                 qPrintable(exported));

        const QString out = extract(path(QStringLiteral("disc.iso")));
        for (const QString &f : {d1, d2, jpg, d3, copy})
            QCOMPARE(bytes(out + QLatin1Char('/') + QFileInfo(f).fileName()), bytes(f));
        // Name order of the staged files: IMG-0001.dcm, captured frame.dcm, copy.dcm (not indexed), photo.jpg, scan.old.dcm.
        QCOMPARE(bytes(out + QStringLiteral("/IMAGES/IMG00001")), bytes(d1));
        QCOMPARE(bytes(out + QStringLiteral("/IMAGES/IMG00002")), bytes(d3));
        QCOMPARE(bytes(out + QStringLiteral("/IMAGES/IMG00003")), bytes(d2));
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/IMAGES/IMG00004")));
        // The staged bytes are stored once: the image is not much larger than the files.
        const qint64 staged = 2 * QFileInfo(d1).size() + QFileInfo(d2).size() + QFileInfo(jpg).size() + QFileInfo(d3).size();
        QVERIFY2(QFileInfo(path(QStringLiteral("disc.iso"))).size() < staged + (600 << 10),
                 qPrintable(QStringLiteral("%1 vs %2").arg(QFileInfo(path(QStringLiteral("disc.iso"))).size()).arg(staged)));
        const QString dicomdir = out + QStringLiteral("/DICOMDIR");
        QCOMPARE(dciodvfyErrors(dicomdir), QStringList());
        const ToolResult dump = runTool(QStringLiteral("dcmdump"), {dicomdir});
        QCOMPARE(dump.exitCode, 0);
        QVERIFY2(dump.out.contains(QStringLiteral("[IMAGES\\IMG00001]")), qPrintable(dump.out));
        QCOMPARE(dump.out.count(QStringLiteral("(0004,1500)")), 3);
        QVERIFY(QFileInfo(out + QStringLiteral("/README.TXT")).size() > 0);
        const QString index = QString::fromUtf8(bytes(out + QStringLiteral("/INDEX.HTM")));
        QVERIFY(index.contains(QStringLiteral("DELA CRUZ, JUAN")));
        QVERIFY(index.contains(QStringLiteral("scan.old.dcm")));

        // Burning twice from the same list overwrites the staged copies.
        dicomFile(QStringLiteral("src1/IMG-0001.dcm"), 128);
        cdWrite();
        QCOMPARE(bytes(root() + QStringLiteral("/00123/IMG-0001.dcm")), bytes(d1));
        selectDrive(QStringLiteral("Test disc"));
        QCOMPARE(burnNow(), 0);
        QCOMPARE(bytes(extract(path(QStringLiteral("disc.iso"))) + QStringLiteral("/IMG-0001.dcm")), bytes(d1));

        // Without the portable-disc setting the disc holds the staged files only.
        settings().write(apps::VelmorOrvaline, QStringLiteral("Burn"), QStringLiteral("PortableDisc"), QStringLiteral("0"));
        QCOMPARE(burnNow(), 0);
        QStringList names;
        for (QDirIterator it(extract(path(QStringLiteral("disc.iso"))), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot); it.hasNext();)
            names << QFileInfo(it.next()).fileName();
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("IMG-0001.dcm"), QStringLiteral("captured frame.dcm"), QStringLiteral("copy.dcm"),
                                     QStringLiteral("photo.jpg"), QStringLiteral("scan.old.dcm")}));
    }

    // Failures during the burn: the result code 3 line exactly as the window writes it.
    void failedBurnsSayNot3()
    {
        const QString a = dicomFile(QStringLiteral("src4/a.dcm"));
        addRow(a);
        addRow(dicomFile(QStringLiteral("src4/b.dcm")));
        cdWrite();
        selectDrive(QStringLiteral("Test disc"));
        // A disc too small for the files.
        ob::Burner::setImageCapacity(64 << 10);
        QCOMPARE(burnNow(), 3);
        QCOMPARE(lastLine(), QStringLiteral("Burn finished NOT (3)successfully!"));
        QVERIFY(window()->messageLog().contains(QStringLiteral("The disc holds 0.1 MB; the files need")));
        ob::Burner::setImageCapacity(0);
        // A staged file deleted before the burn.
        QVERIFY(QFile::remove(root() + QStringLiteral("/00123/a.dcm")));
        window()->valDirPath = root() + QStringLiteral("/00123/");
        QFile(root() + QStringLiteral("/00123/late.dcm")).open(QIODevice::WriteOnly);
        const ob::IsoTrack track = DiscBurning::trackFor(window()->valDirPath, QStringLiteral("00123"), false);
        QFile::remove(root() + QStringLiteral("/00123/late.dcm"));
        QSignalSpy done(window()->nero.data(), &ob::Burner::OnDoneBurn);
        window()->nero->burnIsoAudioCd(window()->drives().at(window()->AvailableDevices->currentRow()), {}, {}, false, track, 20, 0, 1);
        QVERIFY(done.wait(60000));
        QCOMPARE(lastLine(), QStringLiteral("Burn finished NOT (3)successfully!"));
        QVERIFY(window()->messageLog().contains(QStringLiteral("late.dcm is missing")));
        QCOMPARE(window()->ProgressBar->value(), 0);
    }

    // Staging refuses what would write outside its folder and stops at a failed copy, before the
    // window, with a message.
    void stagingRefusals()
    {
        session().openRows()->append(
            ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), path(QStringLiteral("src6/")),
                           QStringLiteral("../../escape.dcm"), QString()));
        m_list->cmdBurn->click();
        QTRY_COMPARE(m_prompter->messages().size(), 1);
        QVERIFY(m_prompter->lastMessage().startsWith(QStringLiteral("\"../../escape.dcm\" cannot be staged for the disc")));
        QVERIFY(!window()->isVisible());
        QVERIFY(!QFileInfo::exists(root()));

        session().openRows()->clear();
        addRow(path(QStringLiteral("src6/missing.dcm")));
        m_list->cmdBurn->click();
        QTRY_COMPARE(m_prompter->messages().size(), 2);
        QVERIFY2(m_prompter->lastMessage().startsWith(QStringLiteral("Cannot copy ")), qPrintable(m_prompter->lastMessage()));
        QTRY_VERIFY(!m_list->isBusy());
        QVERIFY(!window()->isVisible());

        openExam(QStringLiteral("../00125"));
        addRow(dicomFile(QStringLiteral("src6/a.dcm")));
        m_list->cmdBurn->click();
        QTRY_COMPARE(m_prompter->messages().size(), 3);
        QVERIFY(m_prompter->lastMessage().startsWith(QStringLiteral("The transaction number \"../00125\" cannot name")));
        QVERIFY(!QFileInfo::exists(root() + QStringLiteral("/../00125")));
    }
};

ORV_TEST_MAIN(tst_Burn)
#include "tst_burn.moc"
