#include "DiscBurning.h"

#include "core/CoreRoutines.h"
#include "core/Database.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/Prompter.h"
#include "outside/dicom/DicomDir.h"
#include "outside/dicom/FileSummary.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QThreadPool>
#include <QDir>
#include <QHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QUrl>
#include <QtConcurrent/QtConcurrentMap>

namespace orv::DiscBurning {

namespace {

constexpr const char *kApplicationName = "VelMor_PACS";
constexpr int kTrackOptions = 9;

QString withSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')) ? folder : folder + QLatin1Char('/');
}

// Copies `from` over `to`.
QString copyOver(const QString &from, const QString &to)
{
    if (!QFileInfo(from).isFile())
        return QStringLiteral("Cannot copy %1: the file does not exist.").arg(QDir::toNativeSeparators(from));
    if (QFileInfo::exists(to) && !QFile::remove(to))
        return QStringLiteral("Cannot replace %1.").arg(QDir::toNativeSeparators(to));
    QFile src(from);
    if (!src.copy(to))
        return QStringLiteral("Cannot copy %1 to %2: %3").arg(QDir::toNativeSeparators(from), QDir::toNativeSeparators(to),
                                                              src.errorString());
    return {};
}

QString dicomDate(const QString &da)
{
    const QDate d = QDate::fromString(da, QStringLiteral("yyyyMMdd"));
    return d.isValid() ? d.toString(QStringLiteral("MM/dd/yyyy")) : da;
}

QString personName(const QString &pn)
{
    QStringList parts = pn.split(QLatin1Char('^'));
    while (parts.size() > 3)
        parts.removeLast();
    if (parts.size() >= 2)
        return (parts.value(0) + QStringLiteral(", ") + parts.mid(1).join(QLatin1Char(' '))).trimmed();
    return pn;
}

} // namespace

QString stagingRoot()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:/burntemp");
#else
    return QDir(perUserDataFolder()).filePath(QStringLiteral("burntemp"));
#endif
}

QString stagingFolder(const QString &transNo, QString *why)
{
    const QString refusal = nameComponentRefusal(transNo, QStringLiteral("transaction number"));
    if (!refusal.isEmpty()) {
        if (why)
            *why = refusal;
        return {};
    }
    return stagingRoot() + QLatin1Char('/') + transNo + QLatin1Char('/');
}

void removeStagingRoot()
{
    const QString root = stagingRoot();
    const QFileInfo info(root);
    const QString doomedPrefix = info.fileName() + QStringLiteral(".deleting-");
    QString doomed;
    if (info.exists()) {
        doomed = info.absolutePath() + QLatin1Char('/') + doomedPrefix + QString::number(QDateTime::currentMSecsSinceEpoch());
        if (!QDir().rename(root, doomed)) {
            QDir(root).removeRecursively();
            doomed.clear();
        }
    }
    QStringList folders;
    for (const QString &name : QDir(info.absolutePath()).entryList({doomedPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot))
        folders << info.absolutePath() + QLatin1Char('/') + name;
    if (!folders.isEmpty())
        QThreadPool::globalInstance()->start([folders] {
            for (const QString &f : folders)
                QDir(f).removeRecursively();
        });
}

bool stage(const QString &transNo, const QList<ImageRow> &rows, std::function<void(const Staged &)> then)
{
    if (session().jobs().isBusy(transNo))
        return false;
    QString why;
    const QString folder = stagingFolder(transNo, &why);
    if (folder.isEmpty()) {
        msgBox(nullptr, why, Prompter::Icon::Critical);
        return true;
    }
    // Paths are taken now, as the rows and settings are at the moment of the command.
    QList<QPair<QString, QString>> copies; // source, file name
    for (const ImageRow &r : rows) {
        const QString unsafe = unsafeFileNameReason(r.fileName);
        if (!unsafe.isEmpty()) {
            msgBox(nullptr, QStringLiteral("\"%1\" cannot be staged for the disc: %2").arg(r.fileName, unsafe),
                   Prompter::Icon::Critical);
            return true;
        }
        copies.append({rowPathNow(r), r.fileName});
    }
#ifdef Q_OS_WIN
    const QString xvid = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Xvid.exe"));
    if (QFileInfo(xvid).isFile())
        copies.append({xvid, QStringLiteral("Xvid.exe")});
#endif
    auto failure = std::make_shared<QString>();
    JobOptions options;
    options.total = int(copies.size());
    session().jobs().start(
        transNo, QStringLiteral("burn-stage"),
        [=](JobContext &job) {
            if (!QDir().mkpath(folder)) {
                *failure = QStringLiteral("Cannot create the staging folder %1.").arg(QDir::toNativeSeparators(folder));
                return;
            }
            for (int i = 0; i < copies.size() && !job.cancelled(); ++i) {
                job.progress(i, int(copies.size()));
                const QString error = copyOver(copies[i].first, folder + copies[i].second);
                if (!error.isEmpty()) {
                    *failure = error;
                    return;
                }
            }
            job.progress(int(copies.size()), int(copies.size()));
            if (job.cancelled())
                *failure = QStringLiteral("The staging was stopped.");
        },
        [=] {
            if (!failure->isEmpty()) {
                msgBox(nullptr, *failure, Prompter::Icon::Critical);
                return;
            }
            if (then)
                then(Staged{folder, transNo});
        },
        options);
    return true;
}

QStringList filesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

bool portableDiscEnabled()
{
    bool found = false;
    const double v = SettingsStore::numberOf(
        settings().read(apps::VelmorOrvaline, QStringLiteral("Burn"), QStringLiteral("PortableDisc"), QStringLiteral("1")),
        &found);
    return !found || v != 0;
}

burn::IsoTrack trackFor(const QString &folder, const QString &studyId, bool portable)
{
    burn::IsoTrack track;
    const QString dir = withSlash(folder);
    for (const QString &name : filesOf(dir))
        track.root.files.append({name, dir + name});
    track.volumeName = studyId;
    track.applicationName = QLatin1String(kApplicationName);
    track.options = kTrackOptions;
    if (portable) {
        const QString workRoot = QFileInfo(QDir::cleanPath(dir)).path();
        track.prepare = [workRoot](burn::IsoTrack &t, const std::function<void(const QString &)> &log) {
            return addPortableFiles(t, workRoot, log);
        };
    }
    return track;
}

bool addPortableFiles(burn::IsoTrack &track, const QString &workRoot, const std::function<void(const QString &)> &log)
{
    static const QStringList reserved{QStringLiteral("DICOMDIR"), QStringLiteral("README.TXT"), QStringLiteral("INDEX.HTM"),
                                      QStringLiteral("IMAGES")};
    for (const burn::IsoFileEntry &f : std::as_const(track.root.files))
        if (reserved.contains(f.name.toUpper())) {
            log(QStringLiteral("The portable-disc files are left out: a staged file is named %1.").arg(f.name));
            return true;
        }
    QTemporaryDir work(withSlash(workRoot) + QStringLiteral("disc-XXXXXX"));
    if (!work.isValid()) {
        log(QStringLiteral("Cannot create a folder for the portable-disc files in %1.").arg(QDir::toNativeSeparators(workRoot)));
        return false;
    }
    work.setAutoRemove(false); // it goes with the staging root when the window closes
    const QString dir = work.path();
    QDir().mkpath(dir + QStringLiteral("/IMAGES"));

    struct Entry
    {
        QString name, source, fileId;
        dicom::FileSummary summary;
    };
    QList<Entry> entries;
    QStringList ids;
    burn::IsoFolder images;
    images.name = QStringLiteral("IMAGES");
    // The files are read (up to their pixel data) on the threads of the pool, in the order of
    // the track.
    const QList<dicom::FileSummary> summaries = QtConcurrent::blockingMapped(
        track.root.files, [](const burn::IsoFileEntry &f) { return dicom::summarizeFile(f.sourcePath); });
    QHash<QString, QString> listed; // SOP Instance UID -> the name of the file the DICOMDIR lists for it
    for (qsizetype i = 0; i < track.root.files.size(); ++i) {
        const burn::IsoFileEntry &f = track.root.files.at(i);
        Entry e{f.name, f.sourcePath, {}, summaries.at(i)};
        // A DICOMDIR lists an object once: a second file with the same SOP Instance UID is burned
        // under its own name but not indexed.
        if (e.summary.isDicom && listed.contains(e.summary.instanceUid)) {
            log(QStringLiteral("%1 is left out of the DICOMDIR: it has the SOP Instance UID of %2.").arg(f.name, listed.value(e.summary.instanceUid)));
            e.summary.isDicom = false;
            entries << e;
            continue;
        }
        if (e.summary.isDicom) {
            listed.insert(e.summary.instanceUid, f.name);
            e.fileId = QStringLiteral("IMAGES/IMG%1").arg(ids.size() + 1, 5, 10, QLatin1Char('0'));
            // The DICOMDIR is built over links to the staged files; the disc carries the staged
            // bytes once, under both names.
            if (!QFile::link(QFileInfo(f.sourcePath).absoluteFilePath(), dir + QLatin1Char('/') + e.fileId)) {
                log(QStringLiteral("Cannot link %1 for the DICOMDIR.").arg(f.name));
                return false;
            }
            ids << e.fileId;
            images.files.append({e.fileId.mid(7), f.sourcePath});
        } else if (f.name.endsWith(QLatin1String(".dcm"), Qt::CaseInsensitive)) {
            log(QStringLiteral("%1 is left out of the DICOMDIR: %2").arg(f.name, e.summary.reason));
        }
        entries << e;
    }
    if (ids.isEmpty()) {
        log(QStringLiteral("No DICOM file to index; the disc carries no DICOMDIR."));
        return true;
    }
    try {
        dicom::DicomDirWriter writer(dir, track.volumeName);
        for (const Entry &e : std::as_const(entries))
            if (!e.fileId.isEmpty())
                writer.addFile(e.fileId, e.summary.instanceUid, e.summary.transferSyntax);
        writer.write();
    } catch (const std::exception &e) {
        log(QStringLiteral("The DICOMDIR could not be written (%1); the disc carries the files without it.").arg(describe(e)));
        return true;
    }

    const dicom::FileSummary first = std::find_if(entries.cbegin(), entries.cend(), [](const Entry &e) {
                                         return e.summary.isDicom;
                                     })->summary;
    // README.TXT
    {
        QFile f(dir + QStringLiteral("/README.TXT"));
        if (!f.open(QIODevice::WriteOnly)) {
            log(QStringLiteral("Cannot write README.TXT."));
            return false;
        }
        QString t;
        t += QStringLiteral("This disc holds medical images in DICOM format, written by Orvaline.\r\n\r\n");
        t += QStringLiteral("Patient: %1 (ID %2)\r\n").arg(personName(first.patientName), first.patientId);
        t += QStringLiteral("Exam: %1\r\n\r\n").arg(track.volumeName);
        t += QStringLiteral("The disc follows IHE Portable Data for Imaging (PDI): the file DICOMDIR at the top of\r\n"
                            "the disc lists every image; open the disc or the DICOMDIR with any DICOM viewer. The\r\n"
                            "images are in the folder IMAGES; the same files also lie at the top of the disc under\r\n"
                            "the names they had at the workstation. INDEX.HTM lists the patient, the study and\r\n"
                            "the images for a web browser. The disc carries no viewer program.\r\n");
        f.write(t.toUtf8());
    }
    // INDEX.HTM
    {
        QFile f(dir + QStringLiteral("/INDEX.HTM"));
        if (!f.open(QIODevice::WriteOnly)) {
            log(QStringLiteral("Cannot write INDEX.HTM."));
            return false;
        }
        auto h = [](const QString &s) { return s.toHtmlEscaped(); };
        QString t;
        t += QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head><body>\n")
                 .arg(h(track.volumeName));
        t += QStringLiteral("<h1>Images of %1</h1>\n").arg(h(personName(first.patientName)));
        t += QStringLiteral("<h2>Patient</h2>\n<table>\n<tr><th>Name</th><td>%1</td></tr>\n<tr><th>Patient ID</th><td>%2</td></tr>\n"
                            "<tr><th>Birth date</th><td>%3</td></tr>\n<tr><th>Sex</th><td>%4</td></tr>\n</table>\n")
                 .arg(h(personName(first.patientName)), h(first.patientId), h(dicomDate(first.birthDate)), h(first.sex));
        QStringList studies;
        for (const Entry &e : std::as_const(entries))
            if (e.summary.isDicom && !studies.contains(e.summary.studyUid))
                studies << e.summary.studyUid;
        t += QStringLiteral("<h2>Study</h2>\n<table>\n<tr><th>Date</th><th>Accession</th><th>Description</th><th>Study UID</th></tr>\n");
        for (const QString &uid : std::as_const(studies)) {
            const auto it = std::find_if(entries.cbegin(), entries.cend(), [&](const Entry &e) {
                return e.summary.isDicom && e.summary.studyUid == uid;
            });
            t += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                     .arg(h(dicomDate(it->summary.studyDate)), h(it->summary.accession), h(it->summary.studyDescription), h(uid));
        }
        t += QStringLiteral("</table>\n<h2>Images</h2>\n<table>\n<tr><th>File</th><th>DICOM file ID</th><th>Modality</th>"
                            "<th>Series</th><th>Image</th></tr>\n");
        for (const Entry &e : std::as_const(entries)) {
            if (!e.summary.isDicom)
                continue;
            t += QStringLiteral("<tr><td><a href=\"%1\">%2</a></td><td>%3</td><td>%4</td><td>%5</td><td>%6</td></tr>\n")
                     .arg(h(QString::fromLatin1(QUrl::toPercentEncoding(e.name))), h(e.name), h(e.fileId), h(e.summary.modality),
                          h(e.summary.seriesNumber), h(e.summary.instanceNumber));
        }
        t += QStringLiteral("</table>\n");
        QStringList others;
        for (const Entry &e : std::as_const(entries))
            if (!e.summary.isDicom)
                others << QStringLiteral("<li><a href=\"%1\">%2</a></li>").arg(h(QString::fromLatin1(QUrl::toPercentEncoding(e.name))), h(e.name));
        if (!others.isEmpty())
            t += QStringLiteral("<h2>Other files</h2>\n<ul>\n") + others.join(QLatin1Char('\n')) + QStringLiteral("\n</ul>\n");
        t += QStringLiteral("<p>Open the DICOMDIR of this disc with a DICOM viewer to see the images.</p>\n</body></html>\n");
        f.write(t.toUtf8());
    }
    track.root.files.append({QStringLiteral("DICOMDIR"), dir + QStringLiteral("/DICOMDIR")});
    track.root.files.append({QStringLiteral("README.TXT"), dir + QStringLiteral("/README.TXT")});
    track.root.files.append({QStringLiteral("INDEX.HTM"), dir + QStringLiteral("/INDEX.HTM")});
    track.root.folders.append(images);
    log(QStringLiteral("Portable disc: DICOMDIR of %1 images, README.TXT, INDEX.HTM.").arg(ids.size()));
    return true;
}

} // namespace orv::DiscBurning
