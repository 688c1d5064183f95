#include "Burner.h"

#include <libburn/libburn.h>
#include <libisofs/libisofs.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <chrono>
#include <mutex>

// libburn declares itself in namespace ::burn for C++; libisofs knows struct burn_source only as
// a global incomplete type, the same object.
using namespace ::burn;

namespace orv::burn {

namespace {

using namespace std::chrono_literals;

// libburn and libisofs are process-wide: initialised once, used by one thread at a time.
std::mutex &libraryMutex()
{
    static std::mutex m;
    return m;
}

bool initLibraries(QString *why)
{
    static std::once_flag once;
    static int state = 0;
    std::call_once(once, [] {
        if (iso_init() < 0) {
            state = 1;
            return;
        }
        iso_set_msgs_severities(const_cast<char *>("SORRY"), const_cast<char *>("NEVER"), const_cast<char *>("libisofs : "));
        iso_set_local_charset(const_cast<char *>("UTF-8"), 0);
        if (!burn_initialize()) {
            state = 2;
            return;
        }
        burn_msgs_set_severities(const_cast<char *>("NOTE"), const_cast<char *>("NEVER"), const_cast<char *>("libburn : "));
    });
    if (state == 1)
        *why = QStringLiteral("The disc image library (libisofs) cannot start.");
    else if (state == 2)
        *why = QStringLiteral("The disc burning library (libburn) cannot start.");
    return state == 0;
}

struct Pseudo
{
    QMutex mutex;
    QList<DriveInfo> drives;
    qint64 capacity = 0;
};

Pseudo &pseudo()
{
    static Pseudo p;
    return p;
}

DriveInfo imageRecorder()
{
    return {QString(), QStringLiteral("Image Recorder (save disc image)"), true};
}

QString stdioPath(const QString &address)
{
    return address.startsWith(QLatin1String("stdio:")) ? address.mid(6) : QString();
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
}

// A name libisofs can take for one entry of a folder.
bool validEntryName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

// The hash of a whole file, or with `quick` of its first and last 16 KiB only (files of equal
// size that differ there are different; only those equal there are read whole).
QByteArray contentHash(const QString &path, bool quick)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha1);
    constexpr qint64 part = 16 * 1024;
    if (quick && f.size() > 2 * part) {
        h.addData(f.read(part));
        f.seek(f.size() - part);
        h.addData(f.read(part));
    } else {
        h.addData(&f);
    }
    return h.result();
}

// Files of equal content get the same source path, so that libisofs (which stores the bytes of
// one local file once, whatever the number of names it has in the tree) writes them once.
void shareEqualContent(IsoFolder &root, const std::atomic_bool &abort)
{
    QList<IsoFileEntry *> all;
    std::function<void(IsoFolder &)> collect = [&](IsoFolder &f) {
        for (IsoFileEntry &e : f.files)
            all << &e;
        for (IsoFolder &sub : f.folders)
            collect(sub);
    };
    collect(root);
    QHash<QString, QString> canonicalOf; // resolved path -> first path seen
    QHash<qint64, QList<IsoFileEntry *>> bySize;
    for (IsoFileEntry *e : all) {
        const QFileInfo fi(e->sourcePath);
        if (!fi.isFile())
            continue;
        const QString canonical = fi.canonicalFilePath();
        if (canonicalOf.contains(canonical)) {
            e->sourcePath = canonicalOf.value(canonical);
            continue;
        }
        canonicalOf.insert(canonical, e->sourcePath);
        bySize[fi.size()] << e;
    }
    for (auto it = bySize.begin(); it != bySize.end() && !abort; ++it) {
        if (it.value().size() < 2 || it.key() == 0)
            continue;
        QHash<QByteArray, QList<IsoFileEntry *>> byEnds;
        for (IsoFileEntry *e : it.value()) {
            const QByteArray h = contentHash(e->sourcePath, true);
            if (!h.isEmpty())
                byEnds[h] << e;
        }
        for (const QList<IsoFileEntry *> &candidates : std::as_const(byEnds)) {
            if (candidates.size() < 2 || abort)
                continue;
            QHash<QByteArray, QString> first;
            for (IsoFileEntry *e : candidates) {
                const QByteArray h = contentHash(e->sourcePath, false);
                if (h.isEmpty())
                    continue;
                if (first.contains(h))
                    e->sourcePath = first.value(h);
                else
                    first.insert(h, e->sourcePath);
            }
        }
    }
}

} // namespace

MediaVerdict mediaVerdict(int discStatus, bool erasable)
{
    switch (discStatus) {
    case BURN_DISC_BLANK:
        return MediaVerdict::Writable;
    case BURN_DISC_EMPTY:
        return MediaVerdict::NoMedia;
    case BURN_DISC_APPENDABLE:
    case BURN_DISC_FULL:
        return erasable ? MediaVerdict::NonEmptyRewritable : MediaVerdict::NonEmptyWriteOnce;
    default:
        return MediaVerdict::Unsuitable;
    }
}

struct Burner::Run
{
    DriveInfo drive;
    QString imagePath; // the image recorder's file
    IsoTrack track;
    int speed = 0;
    std::shared_ptr<std::atomic_bool> abort;
};

Burner::Burner(QObject *parent)
    : QObject(parent), m_abort(std::make_shared<std::atomic_bool>(false)),
      m_alive(std::make_shared<std::atomic_bool>(true)), m_listing(std::make_shared<std::atomic_bool>(false))
{
    qRegisterMetaType<QList<orv::burn::DriveInfo>>();
}

Burner::~Burner()
{
    m_abort->store(true);
    joinWorker();
}

void Burner::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

void Burner::post(std::function<void()> f)
{
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

QList<DriveInfo> Burner::pseudoDrives()
{
    QList<DriveInfo> list;
    const QStringList env = qEnvironmentVariable("ORVALINE_BURN_DRIVES").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &a : env)
        list << DriveInfo{a.trimmed(), a.trimmed(), false};
    {
        QMutexLocker lock(&pseudo().mutex);
        list << pseudo().drives;
    }
    list << imageRecorder();
    return list;
}

void Burner::addPseudoDrive(const QString &address, const QString &name)
{
    QMutexLocker lock(&pseudo().mutex);
    pseudo().drives << DriveInfo{address, name.isEmpty() ? address : name, false};
}

void Burner::clearPseudoDrives()
{
    QMutexLocker lock(&pseudo().mutex);
    pseudo().drives.clear();
}

void Burner::setImageCapacity(qint64 bytes)
{
    QMutexLocker lock(&pseudo().mutex);
    pseudo().capacity = bytes;
}

void Burner::listDrives(int)
{
    if (m_running || isListing())
        return;
    joinWorker();
    m_listing->store(true);
    m_worker = std::thread([this, listing = m_listing] {
        QList<DriveInfo> found;
        QString why;
        {
            std::lock_guard lock(libraryMutex());
            if (initLibraries(&why)) {
                burn_drive_info *infos = nullptr;
                unsigned int count = 0;
                // The scan runs on a thread of libburn; it is done once the call returns non-zero.
                int scanned = 0;
                while ((scanned = burn_drive_scan(&infos, &count)) == 0)
                    std::this_thread::sleep_for(50ms);
                if (scanned < 0)
                    why = QStringLiteral("The drives of this computer could not be listed.");
                if (scanned > 0) {
                    for (unsigned int i = 0; i < count; ++i) {
                        char adr[BURN_DRIVE_ADR_LEN] = {};
                        burn_drive_get_adr(&infos[i], adr);
                        const QString name = QStringLiteral("%1 %2").arg(QString::fromLatin1(infos[i].vendor).trimmed(),
                                                                         QString::fromLatin1(infos[i].product).trimmed());
                        found << DriveInfo{QString::fromLocal8Bit(adr), name.trimmed() + QStringLiteral(" (") +
                                                                           QString::fromLocal8Bit(adr) + QLatin1Char(')'),
                                           false};
                    }
                    burn_drive_info_free(infos);
                }
            }
        }
        found << pseudoDrives();
        listing->store(false);
        post([this, found, why] {
            if (!why.isEmpty())
                emit driveListFailed(why);
            emit drivesListed(found);
        });
    });
}

bool Burner::burnIsoAudioCd(const DriveInfo &drive, const QString &, const QString &, bool, const IsoTrack &track,
                            int, int speed, int)
{
    if (m_running)
        return false;
    joinWorker();
    m_running = true;
    m_lastError.clear();
    m_errorLog.clear();
    m_abort = std::make_shared<std::atomic_bool>(false);
    auto run = std::make_shared<Run>();
    run->drive = drive;
    run->track = track;
    run->speed = speed;
    run->abort = m_abort;
    if (drive.imageRecorder) {
        QString file;
        emit OnFileSelImage(&file);
        if (file.isEmpty()) {
            // Reported like every other end of a burn: later, on this thread.
            post([this] {
                m_lastError = QStringLiteral("No image file was chosen.");
                m_errorLog = QStringLiteral("The burn was cancelled before it started.");
                m_running = false;
                emit OnAborted();
                emit OnDoneBurn(BurnUserAbort);
            });
            return true;
        }
        run->imagePath = QFileInfo(file).absoluteFilePath();
        run->drive.address = QStringLiteral("stdio:") + run->imagePath;
    }
    m_worker = std::thread([this, run] { runBurn(run); });
    return true;
}

void Burner::abort()
{
    if (m_running)
        m_abort->store(true);
}

// The burn, on the worker thread. Everything it reports goes through post().
void Burner::runBurn(std::shared_ptr<Run> run)
{
    const std::atomic_bool &aborted = *run->abort;
    QStringList logLines;
    auto log = [&](const QString &text) {
        logLines << text;
        post([this, text] { emit OnAddLogLine(0, text); });
    };
    auto phase = [&](const QString &text) { post([this, text] { emit OnSetPhase(text); }); };
    QElapsedTimer clock;
    clock.start();
    qint64 written = -1; // bytes of a finished write
    auto done = [&](int result, const QString &lastError) {
        // The burn's summary: what reached the drive.
        const QString drive = run->drive.name;
        const QString summary =
            result == BurnOk ? QStringLiteral("%1 written to %2 in %3 s.").arg(megabytes(written), drive).arg(clock.elapsed() / 1000.0, 0, 'f', 1)
            : result == BurnUserAbort ? QStringLiteral("The burn on %1 was aborted; the disc is not usable.").arg(drive)
                                      : QStringLiteral("Nothing usable was written to %1.").arg(drive);
        post([this, result, lastError, summary] {
            m_running = false;
            m_lastError = lastError;
            m_errorLog = summary;
            if (result == BurnUserAbort)
                emit OnAborted();
            emit OnDoneBurn(result);
        });
    };

    std::unique_lock lock(libraryMutex());
    QString why;
    if (!initLibraries(&why)) {
        log(why);
        done(BurnFailed, why);
        return;
    }
    bool seriousMessage = false; // libburn reported an error (SORRY or worse)
    auto drainMessages = [&] {
        int code = 0, err = 0, imgid = 0;
        char msg[BURN_MSGS_MESSAGE_LEN] = {}, sev[80] = {};
        static const QStringList serious{QStringLiteral("SORRY"), QStringLiteral("FAILURE"), QStringLiteral("FATAL"),
                                         QStringLiteral("ABORT")};
        while (burn_msgs_obtain(const_cast<char *>("NOTE"), &code, msg, &err, sev) > 0) {
            seriousMessage |= serious.contains(QString::fromLatin1(sev));
            log(QStringLiteral("libburn %1: %2").arg(QString::fromLatin1(sev), QString::fromLocal8Bit(msg)));
        }
        while (iso_obtain_msgs(const_cast<char *>("SORRY"), &code, &imgid, msg, sev) > 0)
            log(QStringLiteral("libisofs %1: %2").arg(QString::fromLatin1(sev), QString::fromLocal8Bit(msg)));
    };

    // 1. What the caller adds before the image is built (portable-disc files).
    IsoTrack &track = run->track;
    if (track.prepare) {
        if (!track.prepare(track, log)) {
            done(BurnFailed, QStringLiteral("The disc contents could not be prepared."));
            return;
        }
    }
    if (aborted) {
        log(QStringLiteral("Burn aborted by the user."));
        done(BurnUserAbort, QStringLiteral("Aborted by the user."));
        return;
    }

    // 2. The drive.
    const QString imageFile = stdioPath(run->drive.address);
    if (!imageFile.isEmpty()) {
        const QFileInfo fi(imageFile);
        if (!fi.absoluteDir().exists()) {
            log(QStringLiteral("The folder of the image file %1 does not exist.").arg(imageFile));
            done(BurnInvalidDrive, QStringLiteral("Invalid drive."));
            return;
        }
        // An image file is replaced as a whole, never written over in part.
        if (fi.isFile() && fi.size() > 0 && !QFile::remove(imageFile)) {
            log(QStringLiteral("Cannot replace the image file %1.").arg(imageFile));
            done(BurnInvalidDrive, QStringLiteral("Invalid drive."));
            return;
        }
    }
    phase(QStringLiteral("Opening the drive %1").arg(run->drive.name));
    burn_drive_info *dinfo = nullptr;
    QByteArray adr = run->drive.address.toLocal8Bit();
    if (burn_drive_scan_and_grab(&dinfo, adr.data(), 1) <= 0 || !dinfo) {
        drainMessages();
        log(QStringLiteral("Cannot open the drive %1.").arg(run->drive.name));
        done(BurnInvalidDrive, QStringLiteral("Invalid drive."));
        return;
    }
    burn_drive *d = dinfo[0].drive;
    const bool pseudoDrive = burn_drive_get_drive_role(d) != 1;
    auto release = [&] {
        burn_drive_release(d, 0);
        burn_drive_info_free(dinfo);
    };

    // 3. The media: wait for a writable disc, as long as the operator does not abort.
    MediaVerdict verdict = mediaVerdict(burn_disc_get_status(d), burn_disc_erasable(d));
    if (verdict != MediaVerdict::Writable) {
        int profile = 0;
        char profileName[80] = {};
        burn_disc_get_profile(d, &profile, profileName);
        const QString media = QString::fromLatin1(profileName);
        if (verdict == MediaVerdict::NonEmptyRewritable)
            post([this] { emit OnNonEmptyCDRW(); });
        else if (verdict == MediaVerdict::NonEmptyWriteOnce || verdict == MediaVerdict::Unsuitable)
            post([this, media] { emit OnWaitCDMediaInfo(media, QStringLiteral("a blank CD-R, CD-RW, DVD or BD")); });
        post([this, name = run->drive.name] {
            emit OnWaitCD(0, QStringLiteral("Please insert a blank CD or DVD into %1.").arg(name));
        });
        auto waited = std::chrono::steady_clock::now();
        auto reminded = waited;
        while (verdict != MediaVerdict::Writable && !aborted) {
            std::this_thread::sleep_for(250ms);
            burn_drive_re_assess(d, 0);
            verdict = mediaVerdict(burn_disc_get_status(d), burn_disc_erasable(d));
            if (std::chrono::steady_clock::now() - reminded > 15s) {
                reminded = std::chrono::steady_clock::now();
                post([this] { emit OnWaitCDReminder(); });
            }
        }
        if (aborted) {
            release();
            log(QStringLiteral("Burn aborted by the user while waiting for a disc."));
            done(BurnUserAbort, QStringLiteral("Aborted by the user."));
            return;
        }
        post([this] {
            emit OnWaitCDDone();
            emit OnDoneWaitForMedia();
        });
    }

    // 4. The ISO image, produced by libisofs while libburn writes it.
    phase(QStringLiteral("Building the ISO image"));
    shareEqualContent(track.root, aborted);
    IsoImage *image = nullptr;
    const QByteArray volume = track.volumeName.left(32).toUtf8();
    iso_image_new(volume.isEmpty() ? "CDROM" : volume.constData(), &image);
    const QByteArray app = track.applicationName.left(128).toUtf8();
    iso_image_set_application_id(image, app.constData());
    iso_image_set_publisher_id(image, app.constData());
    iso_image_set_ignore_aclea(image, 3);
    iso_tree_set_follow_symlinks(image, 1);
    QString addError;
    qint64 fileCount = 0;
    std::function<void(IsoDir *, const IsoFolder &)> add = [&](IsoDir *dir, const IsoFolder &folder) {
        for (const IsoFileEntry &f : folder.files) {
            if (!addError.isEmpty())
                return;
            if (!validEntryName(f.name)) {
                addError = QStringLiteral("\"%1\" cannot name a file on the disc.").arg(f.name);
                return;
            }
            if (!QFileInfo(f.sourcePath).isFile()) {
                addError = QStringLiteral("Cannot add %1: the file %2 is missing.").arg(f.name, f.sourcePath);
                return;
            }
            const QByteArray name = f.name.toUtf8(), path = QFile::encodeName(f.sourcePath);
            IsoNode *node = nullptr;
            const int rc = iso_tree_add_new_node(image, dir, name.constData(), path.constData(), &node);
            if (rc < 0) {
                addError = QStringLiteral("Cannot add %1: %2").arg(f.name, QString::fromLatin1(iso_error_to_msg(rc)));
                return;
            }
            ++fileCount;
        }
        for (const IsoFolder &sub : folder.folders) {
            if (!addError.isEmpty())
                return;
            if (!validEntryName(sub.name)) {
                addError = QStringLiteral("\"%1\" cannot name a folder on the disc.").arg(sub.name);
                return;
            }
            IsoDir *child = nullptr;
            const QByteArray name = sub.name.toUtf8();
            const int rc = iso_tree_add_new_dir(dir, name.constData(), &child);
            if (rc < 0) {
                addError = QStringLiteral("Cannot add the folder %1: %2").arg(sub.name, QString::fromLatin1(iso_error_to_msg(rc)));
                return;
            }
            add(child, sub);
        }
    };
    add(iso_image_get_root(image), track.root);
    if (!addError.isEmpty()) {
        log(addError);
        iso_image_unref(image);
        release();
        done(BurnFailed, addError);
        return;
    }
    IsoWriteOpts *wopts = nullptr;
    iso_write_opts_new(&wopts, 0);
    iso_write_opts_set_rockridge(wopts, 1);
    iso_write_opts_set_joliet(wopts, 1);
    iso_write_opts_set_iso_level(wopts, 1);
    iso_write_opts_set_omit_version_numbers(wopts, 1);
    iso_write_opts_set_no_force_dots(wopts, 1);
    iso_write_opts_set_always_gmt(wopts, 1);
    ::burn_source *isoRaw = nullptr;
    int rc = iso_image_create_burn_source(image, wopts, &isoRaw);
    ::burn::burn_source *isoSource = reinterpret_cast<::burn::burn_source *>(isoRaw);
    if (rc < 0) {
        const QString why = QStringLiteral("Cannot build the ISO image: %1").arg(QString::fromLatin1(iso_error_to_msg(rc)));
        log(why);
        iso_write_opts_free(wopts);
        iso_image_unref(image);
        release();
        done(BurnFailed, why);
        return;
    }
    const qint64 imageBytes = isoSource->get_size(isoSource);
    log(QStringLiteral("ISO track \"%1\": %2 files, %3.").arg(track.volumeName).arg(fileCount).arg(megabytes(imageBytes)));

    // 5. The write.
    burn_disc *disc = burn_disc_create();
    burn_session *session = burn_session_create();
    burn_disc_add_session(disc, session, BURN_POS_END);
    burn_track *btrack = burn_track_create();
    burn_track_define_data(btrack, 0, 0, 1, BURN_MODE1);
    // libisofs delivers through a ring buffer of its own; a libburn fifo of 2 KB chunks on top of
    // it halved the speed of the write.
    burn_track_set_source(btrack, isoSource);
    burn_session_add_track(session, btrack, BURN_POS_END);
    burn_write_opts *o = burn_write_opts_new(d);
    burn_write_opts_set_perform_opc(o, 0);
    burn_write_opts_set_multi(o, 0);
    burn_write_opts_set_underrun_proof(o, 1);
    // An image file is written like any other file (as xorriso and cp write one): the system
    // flushes it to disk, not libburn every 16 MB.
    if (pseudoDrive)
        burn_write_opts_set_stdio_fsync(o, -1);
    auto cleanup = [&] {
        burn_write_opts_free(o);
        burn_source_free(isoSource);
        burn_track_free(btrack);
        burn_session_free(session);
        burn_disc_free(disc);
        release();
        iso_write_opts_free(wopts);
        iso_image_unref(image);
    };
    char reasons[BURN_REASONS_LEN] = {};
    if (burn_write_opts_auto_write_type(o, disc, reasons, 0) == BURN_WRITE_NONE) {
        const QString why = QStringLiteral("The disc cannot be written: %1").arg(QString::fromLocal8Bit(reasons));
        drainMessages();
        log(why);
        cleanup();
        done(BurnFailed, why);
        return;
    }
    qint64 available = burn_disc_available_space(d, o);
    {
        QMutexLocker plock(&pseudo().mutex);
        if (pseudoDrive && pseudo().capacity > 0 && (available <= 0 || available > pseudo().capacity))
            available = pseudo().capacity;
    }
    if (available > 0 && imageBytes > available) {
        const QString why = QStringLiteral("The disc holds %1; the files need %2.").arg(megabytes(available), megabytes(imageBytes));
        log(why);
        cleanup();
        if (!imageFile.isEmpty())
            QFile::remove(imageFile); // opening the drive made it: no image is left of a burn not made
        done(BurnFailed, why);
        return;
    }
    burn_drive_set_speed(d, 0, run->speed);
    phase(QStringLiteral("Writing the disc"));
    drainMessages();
    seriousMessage = false;
    burn_disc_write(o, disc);
    // A refused write leaves the drive idle at once with the reason in libburn's messages (which
    // burn_drive_wrote_well does not always reflect); an accepted one may also end quickly.
    while (burn_drive_get_status(d, nullptr) == BURN_DRIVE_SPAWNING)
        std::this_thread::sleep_for(5ms);
    int lastPercent = -1;
    bool cancelled = false;
    burn_progress p{};
    while (burn_drive_get_status(d, &p) != BURN_DRIVE_IDLE) {
        if (aborted && !cancelled) {
            cancelled = true;
            burn_drive_cancel(d);
        }
        // An image file's drive may not tell the sectors to come: the image's size does.
        const qint64 sectors = p.sectors > 0 ? qint64(p.sectors) : imageBytes / 2048;
        const int percent = sectors > 0 ? int(qint64(p.sector) * 100 / sectors) : 0;
        if (percent != lastPercent) {
            lastPercent = percent;
            post([this, percent] { emit OnProgress(qBound(0, percent, 100)); });
        }
        std::this_thread::sleep_for(50ms);
    }
    drainMessages();
    bool wroteWell = burn_drive_wrote_well(d) && !seriousMessage && !cancelled && !aborted;
    if (wroteWell && !imageFile.isEmpty() && QFileInfo(imageFile).size() < imageBytes)
        wroteWell = false; // an image file shorter than the image is no disc
    cleanup();
    if (cancelled || aborted) {
        if (!imageFile.isEmpty())
            QFile::remove(imageFile); // a part-written image is no disc
        log(QStringLiteral("Burn aborted by the user."));
        done(BurnUserAbort, QStringLiteral("Aborted by the user."));
        return;
    }
    if (!wroteWell) {
        if (!imageFile.isEmpty())
            QFile::remove(imageFile); // a part-written image is no disc
        log(QStringLiteral("The write failed."));
        done(BurnFailed, QStringLiteral("The write failed."));
        return;
    }
    post([this] { emit OnProgress(100); });
    phase(QStringLiteral("Burn process completed"));
    written = imageBytes;
    done(BurnOk, QStringLiteral("No error."));
}

} // namespace orv::burn
