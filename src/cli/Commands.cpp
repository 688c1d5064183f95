// The commands of orvaline-cli other than dump, in a module the program loads when one of
// them is asked for. Commands over many files try every file: one line per file (what was
// written or sent on stdout, a failure with its reason on stderr), exit 1 when any failed.
// Values the toolkit changed to keep an object valid are listed on stderr.

#include "Arguments.h"

#include "outside/dicom/DicomDir.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/DicomFile.h"
#include "outside/dicom/FilmPrinter.h"
#include "outside/dicom/StoreScu.h"
#include "outside/dicom/WorklistScu.h"
#include "outside/dicom/ProcedureStep.h"
#include "outside/dicom/Toolkit.h"
#include "outside/dicom/Rendering.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <optional>

using namespace orv::dicom;
using namespace orv::cli;

namespace {

void reportChanges(const QString &file, const ValueChanges &changes)
{
    for (const ValueChange &c : changes)
        err(QStringLiteral("%1: %2").arg(file, c.text()));
}

void reportFailure(const QString &file, const orv::Error &e) { err(QStringLiteral("%1: %2").arg(file, e.description())); }

int dicomize(const QStringList &argv)
{
    const Args a = parse(argv, {"out", "patient-name", "patient-id", "birth-date", "sex", "accession", "study-uid",
                                "series-uid", "modality", "ts", "quality"},
                         true);
    const QString dir = a.required(QStringLiteral("out"));
    const QString ts = a.value(QStringLiteral("ts"), QStringLiteral("explicit"));
    if (ts != QLatin1String("explicit") && ts != QLatin1String("jpeg51"))
        throw UsageError{QStringLiteral("--ts must be explicit or jpeg51")};
    const int quality = a.number(QStringLiteral("quality"), 100, 1, 100);
    if (!QDir().mkpath(dir))
        fail(QStringLiteral("Cannot create the directory %1.").arg(dir));
    const QString studyUid = a.value(QStringLiteral("study-uid"), newUid());
    const QString seriesUid = a.value(QStringLiteral("series-uid"), newUid());
    int number = 0;
    bool allGood = true;
    for (const QString &picture : a.files) {
        try {
            Image img;
            img.setStudyUid(studyUid);
            img.setSeriesUid(seriesUid);
            img.setInstanceUid(newUid());
            img.add(DCM_PatientName, a.value(QStringLiteral("patient-name")));
            img.setDescription(a.value(QStringLiteral("patient-name")));
            img.add(DCM_PatientID, a.value(QStringLiteral("patient-id")));
            img.add(DCM_PatientBirthDate, a.value(QStringLiteral("birth-date")));
            img.add(DCM_PatientSex, a.value(QStringLiteral("sex")));
            img.add(DCM_AccessionNumber, a.value(QStringLiteral("accession")));
            img.add(DCM_Modality, a.value(QStringLiteral("modality"), QStringLiteral("OT")));
            img.add(DCM_InstanceNumber, QString::number(number + 1));
            img.add(DCM_SeriesNumber, QStringLiteral("1"));
            const QFileInfo info(picture);
            img.importPicture(picture, info.suffix());
            const QString target = QDir(dir).filePath(info.baseName() + QStringLiteral(".dcm"));
            const ValueChanges changes =
                img.writeFile(target, QLatin1String(ts == QLatin1String("jpeg51") ? kJpegExtended : kExplicitLittleEndian), quality);
            ++number;
            out(target);
            reportChanges(target, changes);
        } catch (const orv::Error &e) {
            reportFailure(picture, e);
            allGood = false;
        }
    }
    return allGood ? 0 : 1;
}

// DICOM TLS towards the peer when --tls-ca names the trusted CA certificates; --tls-cert and
// --tls-key give the workstation's own certificate and key.
TlsSettings tlsOf(const Args &a)
{
    TlsSettings tls;
    tls.trustedCertificatesFile = a.value(QStringLiteral("tls-ca"));
    tls.certificateFile = a.value(QStringLiteral("tls-cert"));
    tls.privateKeyFile = a.value(QStringLiteral("tls-key"));
    tls.enabled = !tls.trustedCertificatesFile.isEmpty();
    if (!tls.enabled && (!tls.certificateFile.isEmpty() || !tls.privateKeyFile.isEmpty()))
        throw UsageError{QStringLiteral("--tls-cert and --tls-key need --tls-ca")};
    return tls;
}

int send(const QStringList &argv)
{
    const Args a = parse(argv, {"host", "port", "aet", "aec", "tls-ca", "tls-cert", "tls-key"}, true);
    const QString host = a.required(QStringLiteral("host"));
    const int port = a.number(QStringLiteral("port"), -1, 1, 65535);
    if (port < 0)
        throw UsageError{QStringLiteral("--port is required")};
    const QString called = a.required(QStringLiteral("aec"));
    StoreScu scu(Peer{host, port, a.value(QStringLiteral("aet"), QStringLiteral("ORVALINE")), called, tlsOf(a)});
    bool allGood = true;
    for (const QString &file : a.files) {
        try {
            Image img = Image::fromFile(file);
            const int status = scu.send(img);
            // The status as the log window writes it (0xA700), not in decimal.
            out(QStringLiteral("%1\t0x%2").arg(file, QStringLiteral("%1").arg(status, 4, 16, QLatin1Char('0')).toUpper()));
            reportChanges(file, img.valueChanges());
            allGood = allGood && status == 0;
        } catch (const orv::Error &e) {
            reportFailure(file, e);
            allGood = false;
        }
    }
    return allGood ? 0 : 1;
}

// One performed procedure step for the files: created IN PROGRESS with the first file's patient
// and study, then COMPLETED (or DISCONTINUED) listing every file's series and instance.
int mpps(const QStringList &argv)
{
    const Args a = parse(argv, {"host", "port", "aet", "aec", "discontinue", "tls-ca", "tls-cert", "tls-key"}, true);
    const QString host = a.required(QStringLiteral("host"));
    const int port = a.number(QStringLiteral("port"), -1, 1, 65535);
    if (port < 0)
        throw UsageError{QStringLiteral("--port is required")};
    const Peer peer{host, port, a.value(QStringLiteral("aet"), QStringLiteral("ORVALINE")), a.required(QStringLiteral("aec")), tlsOf(a)};
    QPair<QString, QString> reason;
    const bool completed = !a.options.contains(QStringLiteral("discontinue"));
    if (!completed) {
        for (const auto &r : discontinuationReasons())
            if (r.first == a.value(QStringLiteral("discontinue")))
                reason = r;
        if (reason.first.isEmpty())
            throw UsageError{QStringLiteral("--discontinue takes one of the codes 110500, 110501, 110502, 110505, 110510, 110513, 110514, 110515")};
    }
    QList<PerformedSeries> series;
    DataSet first;
    for (const QString &file : a.files) {
        const DataSet ds = dataSetOf(readDicomFile(file));
        if (series.isEmpty())
            first = ds;
        const QString uid = ds.text(DCM_SeriesInstanceUID);
        auto it = std::find_if(series.begin(), series.end(), [&](const PerformedSeries &s) { return s.seriesUid == uid; });
        if (it == series.end())
            it = series.insert(series.end(), {uid, ds.text(DCM_SeriesDescription), {}});
        it->instances.append({ds.text(DCM_SOPClassUID), ds.text(DCM_SOPInstanceUID)});
    }
    const QString description = first.text(DCM_RequestedProcedureDescription);
    const QString step = newUid();
    ProcedureStepScu scu(peer);
    const int created = scu.create(step, inProgressMessage(first, {first.text(DCM_AccessionNumber).left(16), peer.callingAe,
                                                                   QStringLiteral("ORVALINE-CLI"), description,
                                                                   QDateTime::currentDateTime()}));
    if (created != 0)
        throw orv::Error(QStringLiteral("Creating the step was refused (status 0x%1).").arg(created, 4, 16, QLatin1Char('0')));
    DataSet end = finalMessage(completed, QDateTime::currentDateTime(), description, reason);
    addPerformedSeries(end, series, description, QString());
    const int set = scu.set(step, end);
    if (set != 0)
        throw orv::Error(QStringLiteral("Ending the step %1 was refused (status 0x%2).").arg(step).arg(set, 4, 16, QLatin1Char('0')));
    out(step);
    return 0;
}

int worklist(const QStringList &argv)
{
    const Args a = parse(argv, {"host", "port", "aec", "aet", "patient-name", "patient-id", "date", "modality",
                                "accession", "branch", "tls-ca", "tls-cert", "tls-key"},
                         false);
    if (!a.files.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument %1").arg(a.files.first())};
    const int port = a.number(QStringLiteral("port"), -1, 1, 65535);
    if (port < 0)
        throw UsageError{QStringLiteral("--port is required")};
    WorklistScu scu(Peer{a.required(QStringLiteral("host")), port, a.value(QStringLiteral("aet"), QStringLiteral("VELMOR")),
                         a.required(QStringLiteral("aec")), tlsOf(a)});
    const DataSet id = WorklistScu::standardIdentifier(a.value(QStringLiteral("patient-name")), a.value(QStringLiteral("patient-id")),
                                                       a.value(QStringLiteral("date")), a.value(QStringLiteral("modality")),
                                                       a.value(QStringLiteral("accession")), a.value(QStringLiteral("branch")));
    for (const DataSet &answer : scu.run(id)) {
        QStringList cells = WorklistScu::gridRow(answer);
        for (QString &cell : cells)
            cell = printable(cell); // a tab or line break in a value never splits the row
        out(cells.join(QLatin1Char('\t')));
    }
    return 0;
}

// Skips a file that cannot be exported (its reason on stderr) and writes the DICOMDIR of the
// others; the image files are numbered without gaps.
int dicomdir(const QStringList &argv)
{
    const Args a = parse(argv, {"out"}, true);
    const QString dir = a.required(QStringLiteral("out"));
    DicomDirWriter writer(dir);
    QHash<QString, QString> sourceOf;
    bool allGood = true;
    for (const QString &file : a.files) {
        const QString rel = QStringLiteral("IMAGES/IMG%1").arg(writer.files().size() + 1);
        try {
            Image img = Image::fromFile(file);
            writer.addImage(img, rel);
            sourceOf.insert(rel, file);
        } catch (const orv::Error &e) {
            err(QStringLiteral("%1: skipped: %2").arg(file, e.description()));
            allGood = false;
        }
    }
    if (writer.files().isEmpty()) {
        err(QStringLiteral("No file could be exported; no DICOMDIR written."));
        return 1;
    }
    writer.write();
    for (const DicomDirWriter::Skipped &s : writer.skipped()) {
        err(QStringLiteral("%1: skipped: %2").arg(sourceOf.value(s.relativeName), s.reason));
        allGood = false;
    }
    for (const QString &rel : writer.files())
        out(QDir(dir).filePath(rel));
    out(QDir(dir).filePath(QStringLiteral("DICOMDIR")));
    return allGood ? 0 : 1;
}

int print(const QStringList &argv)
{
    const Args a = parse(argv, {"host", "port", "aet", "aec", "format", "orientation", "film-size", "magnification", "tls-ca",
                                "tls-cert", "tls-key"},
                         true);
    const int port = a.number(QStringLiteral("port"), -1, 1, 65535);
    if (port < 0)
        throw UsageError{QStringLiteral("--port is required")};
    const QString host = a.required(QStringLiteral("host"));
    const QString called = a.required(QStringLiteral("aec"));
    QList<Image> images;
    bool allGood = true;
    for (const QString &file : a.files) {
        try {
            images << Image::fromFile(file);
        } catch (const orv::Error &e) {
            reportFailure(file, e);
            allGood = false;
        }
    }
    if (images.isEmpty())
        return 1;
    FilmPrinter printer(Peer{host, port, a.value(QStringLiteral("aet"), QStringLiteral("ORVALINE")), called, tlsOf(a)});
    printer.open();
    printer.setDisplayFormat(a.value(QStringLiteral("format"), QStringLiteral("STANDARD\\1,1")));
    printer.setOrientation(a.value(QStringLiteral("orientation"), QStringLiteral("PORTRAIT")));
    printer.setFilmSize(a.value(QStringLiteral("film-size"), QStringLiteral("8INX10IN")));
    printer.filmBoxAttributes().add(DCM_MagnificationType, a.value(QStringLiteral("magnification"), QStringLiteral("NONE")));
    for (Image &img : images)
        printer.printImage(img, false, true);
    printer.close();
    out(QStringLiteral("%1 image(s) printed on %2 film(s)").arg(images.size()).arg(printer.filmsPrinted()));
    return allGood ? 0 : 1;
}

// Writes DIR/<base name>.png (frame N: <base name>-N.png) per file, as the viewer draws it.
// Every file is tried; the status is 1 when any failed (each failure on stderr).
int render(const QStringList &argv)
{
    const Args a = parse(argv, {"out", "frame", "window", "level", "size"}, true);
    const QDir dir(a.required(QStringLiteral("out")));
    const int frame = a.number(QStringLiteral("frame"), 0, 1, 1 << 30);
    std::optional<RenderWindow> window;
    if (a.options.contains(QStringLiteral("window")) != a.options.contains(QStringLiteral("level")))
        throw UsageError{QStringLiteral("--window and --level go together")};
    if (a.options.contains(QStringLiteral("window"))) {
        bool okW = false, okL = false;
        window = RenderWindow{a.value(QStringLiteral("window")).toDouble(&okW), a.value(QStringLiteral("level")).toDouble(&okL)};
        if (!okW || !okL || window->width < 1)
            throw UsageError{QStringLiteral("--window must be a number of at least 1 and --level a number")};
    }
    QSize size;
    if (a.options.contains(QStringLiteral("size"))) {
        const QStringList wh = a.value(QStringLiteral("size")).toLower().split(QLatin1Char('x'));
        size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
        if (wh.size() != 2 || size.width() < 1 || size.height() < 1 || size.width() > 16384 || size.height() > 16384)
            throw UsageError{QStringLiteral("--size must be WxH, for example 128x128")};
    }
    if (!QDir().mkpath(dir.path()))
        throw orv::Error(QStringLiteral("Cannot create %1").arg(dir.path()));
    int failures = 0;
    for (const QString &file : a.files) {
        const QString name = QFileInfo(file).completeBaseName() + (frame > 0 ? QStringLiteral("-%1").arg(frame) : QString())
                             + QStringLiteral(".png");
        try {
            const QImage picture = renderTile(Image::fromFile(file), frame > 0 ? frame - 1 : 0, window, size);
            const QString target = dir.filePath(name);
            QFile::remove(target);
            if (!picture.save(target + QStringLiteral(".part"), "PNG") || !QFile::rename(target + QStringLiteral(".part"), target)) {
                QFile::remove(target + QStringLiteral(".part"));
                throw orv::Error(QStringLiteral("Cannot write %1").arg(target));
            }
            out(target);
        } catch (const std::exception &e) {
            ++failures;
            std::fprintf(stderr, "%s: %s\n", qPrintable(file), qPrintable(orv::describe(e)));
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

extern "C" Q_DECL_EXPORT int orvalineCliCommand(const char *command, const QStringList &args)
{
    const QHash<QString, int (*)(const QStringList &)> commands{{QStringLiteral("dicomize"), dicomize},
                                                                {QStringLiteral("send"), send},
                                                                {QStringLiteral("worklist"), worklist},
                                                                {QStringLiteral("mpps"), mpps},
                                                                {QStringLiteral("dicomdir"), dicomdir},
                                                                {QStringLiteral("print"), print},
                                                                {QStringLiteral("render"), render}};
    const auto run = commands.value(QString::fromLatin1(command));
    if (!run) {
        std::fprintf(stderr, "orvaline-cli: unknown command %s\n%s", command, kUsage);
        return 2;
    }
    return guarded(run, args);
}
