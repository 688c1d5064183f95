#include "ViewerTransfer.h"

#include "core/Audit.h"
#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "sendqueue/QueuedSend.h"
#include "sendqueue/SendQueueRunner.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/Prompter.h"
#include "outside/dicom/DicomDir.h"
#include "outside/dicom/FilmPrinter.h"
#include "outside/dicom/Picture.h"
#include "outside/dicom/Toolkit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QSaveFile>
#include <dcmtk/dcmnet/cond.h>

namespace orv::ViewerTransfer {

namespace {

const QString kJpegExtended = QStringLiteral("1.2.840.10008.1.2.4.51");

// The copies a job works on, made here on the GUI thread: the toolkit's data sets may not be
// read by two threads at once, and the viewer keeps reading the originals. Own objects first get
// the attributes they lack (UIDs among them), so the copies carry the identity of the image shown.
QList<dicom::Image> copies(const QList<dicom::Image> &images)
{
    QList<dicom::Image> out;
    out.reserve(images.size());
    for (dicom::Image i : images) {
        i.complete();
        out << i.clone();
    }
    return out;
}

void run(std::function<void(JobContext &)> work, Done done, int total)
{
    // Not exclusive: the viewer's work runs in its own lane beside the image list's saves,
    // imports and sends of the same exam, on copies of the images.
    JobOptions options;
    options.exclusive = false;
    options.total = total;
    options.lane = jobKind();
    session().jobs().start(session().openTransNo(), jobKind(), std::move(work), [done] {
        if (done)
            done();
    }, options);
}

void showFailure(JobContext &job, const QString &text)
{
    job.post([text] { msgBox(nullptr, text, Prompter::Icon::Critical); });
}

// A file written beside its final name and renamed once whole.
QString partName(const QString &path) { return path + QStringLiteral(".part"); }

void replaceWith(const QString &part, const QString &path)
{
    QFile::remove(path);
    if (!QFile::rename(part, path)) {
        QFile::remove(part);
        throw Error(QStringLiteral("Cannot write %1.").arg(path));
    }
}

} // namespace

QString jobKind() { return QStringLiteral("viewer transfer"); }

FilmSettings filmSettings()
{
    const DicomNodes &nodes = dicomNodes();
    FilmSettings film;
    film.printer = nodes.printPeer();
    film.displayFormat = nodes.value(DicomNodes::PrintFormat);
    film.orientation = nodes.value(DicomNodes::PrintOrientation);
    film.filmSize = nodes.value(DicomNodes::FilmSize);
    film.magnification = nodes.value(DicomNodes::Magnification);
    return film;
}

PaperHeader paperHeader()
{
    const OpenTransaction &t = session().transaction();
    PaperHeader header;
    header.patientId = t.record().shownPatientId();
    header.birthDate = shownDate(t.record().birthDate);
    header.lastName = t.value(OpenTransaction::LName);
    header.firstName = t.value(OpenTransaction::FName);
    header.middleName = t.value(OpenTransaction::MName);
    header.examType = t.value(OpenTransaction::ExamType);
    header.transNo = t.value(OpenTransaction::TransNo);
    header.transDate = t.value(OpenTransaction::TransDate);
    return header;
}

void printFilm(const QList<dicom::Image> &images, const FilmSettings &film, Done done)
{
    const QList<dicom::Image> toPrint = copies(images);
    bool colour = false;
    for (const dicom::Image &i : toPrint)
        colour = colour || i.dataSet().text(0x0028, 0x0002).trimmed() == QLatin1String("3");
    run([toPrint, film, colour](JobContext &job) {
        QStringList skipped;
        int placed = 0, printedUpTo = 0;
        try {
            auto openPrinter = [&film](bool inColour) {
                auto p = std::make_unique<dicom::FilmPrinter>(film.printer);
                p->setColour(inColour);
                p->open();
                return p;
            };
            std::unique_ptr<dicom::FilmPrinter> opened;
            try {
                opened = openPrinter(colour);
            } catch (const Error &e) {
                // A greyscale-only printer takes colour images as grey.
                if (!colour || e.code() != OFCondition(NET_EC_NoAcceptablePresentationContexts).code())
                    throw;
                opened = openPrinter(false);
            }
            dicom::FilmPrinter &printer = *opened;
            printer.setDisplayFormat(film.displayFormat);
            printer.setOrientation(film.orientation);
            printer.setFilmSize(film.filmSize);
            printer.filmBoxAttributes().add(0x2010, 0x0060, film.magnification);
            for (qsizetype i = 0; i < toPrint.size() && !job.cancelled(); ++i) {
                dicom::Image copy = toPrint[i];
                try {
                    copy.requireDecodable();
                    copy.render(0); // an image that cannot be shown is left out before its box is used
                } catch (const std::exception &e) {
                    skipped << QStringLiteral("Image %1: %2").arg(i + 1).arg(describe(e));
                    continue;
                }
                placed = int(i) + 1;
                const int filmsBefore = printer.filmsPrinted();
                printer.printImage(copy, false, true);
                if (printer.filmsPrinted() > filmsBefore)
                    printedUpTo = placed;
                job.progress(placed, int(toPrint.size()));
            }
            printer.close();
            auditTrail().exported(audit::Media::Film, film.printer.calledAe + QLatin1Char('@') + film.printer.host,
                                  imageSubjects(toPrint.mid(0, placed)), skipped.isEmpty() ? audit::Outcome::Success : audit::Outcome::MinorFailure);
        } catch (const std::exception &e) {
            if (printedUpTo > 0)
                auditTrail().exported(audit::Media::Film, film.printer.calledAe + QLatin1Char('@') + film.printer.host,
                                      imageSubjects(toPrint.mid(0, printedUpTo)), audit::Outcome::SeriousFailure);
            // What reached film before the printer failed, so the operator knows what to print again.
            QString text = QStringLiteral("Dicom Print failed: ") + describe(e);
            if (printedUpTo > 0)
                text += QStringLiteral("\nImages 1 to %1 of %2 were printed.").arg(printedUpTo).arg(toPrint.size());
            showFailure(job, text);
            return;
        }
        if (!skipped.isEmpty())
            showFailure(job, QStringLiteral("These images could not be printed:\n") + skipped.join(QLatin1Char('\n')));
    }, done, int(toPrint.size()));
}

void printPaper(const QList<dicom::Image> &images, const PaperHeader &header, const PaperTarget &target, Done done)
{
    const QList<dicom::Image> toPrint = copies(images);
    run([toPrint, header, target](JobContext &job) {
        QStringList failures;
        try {
            const std::unique_ptr<QPrinter> printer = makePrinter(target);
            const int total = int(toPrint.size());
            printOnPaper(*printer, toPrint, header, &failures, [&job, total](int placed) {
                job.progress(placed, total);
                return !job.cancelled();
            });
            auditTrail().exported(audit::Media::Paper, target.pdfFile.isEmpty() ? printer->printerName() : target.pdfFile,
                                  imageSubjects(toPrint), failures.isEmpty() ? audit::Outcome::Success : audit::Outcome::MinorFailure);
        } catch (const std::exception &e) {
            showFailure(job, describe(e));
            return;
        }
        if (!failures.isEmpty())
            showFailure(job, QStringLiteral("These images could not be printed:\n") + failures.join(QLatin1Char('\n')));
    }, done, int(toPrint.size()));
}

void send(const QList<dicom::Image> &images, const dicom::Peer &peer, bool logDescriptions, Done done)
{
    const QList<dicom::Image> toSend = copies(images);
    QStringList descriptions;
    for (const dicom::Image &i : toSend)
        descriptions << i.description();
    const ConnectionConfig database = state().db().config();
    const bool commit = dicomNodes().storageCommitment();
    const QString transNo = session().openTransNo();
    run([toSend, descriptions, peer, logDescriptions, database, commit, transNo](JobContext &job) {
        // A refusal ends the send: the images after it are recorded as not sent.
        try {
            QueuedSend send(transNo, commit);
            for (qsizetype i = 0; i < toSend.size() && !job.cancelled(); ++i) {
                dicom::Image copy = toSend[i];
                QueueEntry e = QueuedSend::stage(copy);
                e.sourcePath = descriptions[i];
                e.label = descriptions[i];
                e.stopOnFailure = true;
                send.add(e, peer);
            }
            DeliveryHooks hooks;
            hooks.sending = [&job, logDescriptions](const QueueEntry &e) {
                if (logDescriptions)
                    job.post([line = e.label] { AddLog(line); });
            };
            int answered = 0;
            const int total = send.count();
            hooks.answered = [&](const QueueEntry &, int status) {
                job.progress(++answered, total);
                if (status != 0)
                    job.post([status] { msgBox(nullptr, QStringLiteral("Send failed - code ") + QString::number(status)); });
            };
            hooks.stopped = [&job] { return job.cancelled(); };
            const QueuedSend::Outcome o = send.deliver(database, hooks);
            job.post([] { SendQueueRunner::instance().kick(); });
            if (!o.delivery.failure.isEmpty()) {
                showFailure(job, o.delivery.failure);
                return;
            }
        } catch (const std::exception &e) {
            showFailure(job, describe(e));
            return;
        }
        job.post([] { AddLog(QStringLiteral("Send Complete.")); });
    }, done, int(toSend.size()));
}

void saveAs(const dicom::Image &image, const QString &path, Done done)
{
    const dicom::Image source = copies({image}).first();
    run([source, path](JobContext &job) {
        const QString part = partName(path);
        try {
            dicom::Image copy = source;
            copy.writeFile(part, kJpegExtended, 100);
            replaceWith(part, path);
            job.progress(1, 1);
        } catch (const std::exception &e) {
            QFile::remove(part);
            showFailure(job, describe(e));
        }
    }, done, 1);
}

void exportPicture(const dicom::Image &image, const QString &path, Done done)
{
    const QString format = path.right(3).toUpper();
    const dicom::Image source = copies({image}).first();
    run([source, path, format](JobContext &job) {
        const QString part = partName(path) + QLatin1Char('.') + format.toLower();
        try {
            const dicom::Image &copy = source;
            if (format == QLatin1String("AVI"))
                copy.exportVideo(part, copy.frameCount(), 90);
            else
                copy.exportPicture(part, format);
            replaceWith(part, path);
            job.progress(1, 1);
        } catch (const std::exception &e) {
            QFile::remove(part);
            showFailure(job, describe(e));
        }
    }, done, 1);
}

void exportAll(const QList<dicom::Image> &images, const QString &directory, Done done)
{
    const QList<dicom::Image> toWrite = copies(images);
    run([toWrite, directory](JobContext &job) {
        QStringList written;
        const QDir dir(directory);
        try {
            if (!QDir().mkpath(dir.filePath(QStringLiteral("IMAGES"))))
                throw Error(QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(dir.filePath(QStringLiteral("IMAGES")))));
            dicom::DicomDirWriter writer(directory, job.transNo());
            for (qsizetype i = 0; i < toWrite.size(); ++i) {
                if (job.cancelled())
                    throw Error(QStringLiteral("The export was stopped."));
                const QString name = QStringLiteral("IMAGES\\IMG%1").arg(i + 1);
                dicom::Image copy = toWrite[i];
                written << dir.filePath(QStringLiteral("IMAGES/IMG%1").arg(i + 1));
                writer.addImage(copy, name);
                job.progress(int(i) + 1, int(toWrite.size()) + 1);
            }
            written << dir.filePath(QStringLiteral("DICOMDIR"));
            writer.write();
            auditTrail().exported(audit::Media::Folder, QDir::cleanPath(dir.absolutePath()), imageSubjects(toWrite),
                                  writer.skipped().isEmpty() ? audit::Outcome::Success : audit::Outcome::MinorFailure);
            job.progress(int(toWrite.size()) + 1, int(toWrite.size()) + 1);
            QString text = QStringLiteral("Export complete: %1 of %2 images and the DICOMDIR were written to %3.")
                               .arg(writer.files().size())
                               .arg(toWrite.size())
                               .arg(QDir::toNativeSeparators(QDir::cleanPath(directory)));
            for (const dicom::DicomDirWriter::Skipped &s : writer.skipped())
                text += QStringLiteral("\n%1 was left out: %2").arg(s.relativeName, s.reason);
            job.post([text] { msgBox(nullptr, text, Prompter::Icon::Information); });
        } catch (const std::exception &e) {
            for (const QString &f : written)
                QFile::remove(f);
            showFailure(job, describe(e));
        }
    }, done, int(toWrite.size()) + 1);
}

} // namespace orv::ViewerTransfer
