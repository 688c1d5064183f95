#include "FrameCapture.h"

#include "core/CoreRoutines.h"
#include "core/SharedState.h"
#include "session/ExamSession.h"
#include "imagestore/IdentityStamp.h"
#include "outside/Error.h"
#include "outside/SettingsStore.h"
#include "outside/dicom/Toolkit.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <ctime>

namespace orv {

namespace {
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace

QSize requestedSize(int index, const QString &text)
{
    if (index == 0)
        return QSize(0, 0);
    const qsizetype x = text.indexOf(QLatin1Char('x'));
    const QString w = x < 0 ? text : text.left(x);
    const QString h = x < 0 ? QString() : text.mid(x + 1);
    return QSize(SettingsStore::intOf(w), SettingsStore::intOf(h));
}

QString captureBaseName(const QString &transNo, const QString &timeStamp, int counter)
{
    return transNo + QLatin1Char('-') + timeStamp + QLatin1Char('-') + QString::number(counter);
}

QString freeCaptureName(const QString &folder, const QString &baseName, const QStringList &suffixes)
{
    const qsizetype dash = baseName.lastIndexOf(QLatin1Char('-'));
    const QString stem = baseName.left(dash + 1);
    qint64 counter = baseName.mid(dash + 1).toLongLong();
    QString name = baseName;
    const QDir dir(folder);
    const auto taken = [&] {
        return std::any_of(suffixes.begin(), suffixes.end(), [&](const QString &s) { return dir.exists(name + s); });
    };
    while (taken())
        name = stem + QString::number(++counter);
    return name;
}

QString FrameJob::bmpPath() const
{
    return QDir(folder).filePath(baseName + QStringLiteral(".bmp"));
}

QString FrameJob::dcmPath() const
{
    return QDir(folder).filePath(baseName + QStringLiteral(".dcm"));
}

FrameJob captureJob(FrameJob::Kind kind, int counter)
{
    const OpenTransaction &tr = openTransaction();
    FrameJob job;
    job.kind = kind;
    job.folder = state().TempFolder;
    job.baseName = captureBaseName(tr.value(OpenTransaction::TransNo), TimeStamp(), counter);
    job.transaction = tr.record();
    job.companyName = state().CompanyName;
    job.at = QDateTime::currentDateTime();
    return job;
}

void FrameJob::claimName()
{
    for (;;) {
        baseName = freeCaptureName(folder, baseName, {QStringLiteral(".dcm"), QStringLiteral(".bmp")});
        QFile claim(dcmPath());
        if (claim.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return;
        if (!claim.exists())
            throw Error(QStringLiteral("Cannot create %1: %2").arg(dcmPath(), claim.errorString()));
        // Taken between the look and the claim: the next name.
    }
}

dicom::Image frameImage(const TransactionRecord &tr, int imageNumber, const QString &companyName, const QDateTime &at)
{
    dicom::Image image;
    stampIdentity(image, tr, imageNumber, companyName);
    // The study keeps the exam's date; the moment of the capture is the frame's content date.
    image.add(DCM_ContentDate, at.date().toString(QStringLiteral("yyyyMMdd")));
    image.add(DCM_ContentTime, at.time().toString(QStringLiteral("HHmmss")));
    return image;
}

dicom::Image stillImage(const TransactionRecord &tr, int imageNumber, const QString &companyName)
{
    dicom::Image image;
    stampIdentity(image, tr, imageNumber, companyName);
    return image;
}

void writeFrameObject(dicom::Image &image, const QString &dcmPath)
{
    try {
        image.writeFile(dcmPath, QString::fromLatin1(dicom::kJpegExtended), 100);
    } catch (...) {
        QFile::remove(dcmPath);
        throw;
    }
}

dicom::Image objectStage(FrameJob &job, QStringList *changes)
{
    QElapsedTimer clock;
    clock.start();
    dicom::Image image = job.kind == FrameJob::Kind::Still
                             ? stillImage(job.transaction, job.imageNumber, job.companyName)
                             : frameImage(job.transaction, job.imageNumber, job.companyName, job.at);
    image.importFrame(job.frame, 100);
    job.objectMs = double(clock.nsecsElapsed()) / 1e6;
    writeFrameObject(image, job.dcmPath());
    job.writeMs = double(clock.nsecsElapsed()) / 1e6 - job.objectMs;
    if (changes)
        *changes = takeValueChanges(image);
    image.setListFileName(job.baseName + QStringLiteral(".dcm"));
    return image;
}

void listFrame(const FrameJob &job, const dicom::Image &image)
{
    const QString transNo = job.transaction.transNo;
    session().addImageRow(transNo, ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), job.folder,
                                                  job.baseName + QStringLiteral(".dcm"), QString()));
    if (session().isOpen(transNo))
        session().images().add(image);
}

void submitFrame(const FrameJob &submitted, FrameDone done)
{
    JobOptions options;
    options.exclusive = false;
    options.lane = QStringLiteral("frames");
    session().jobs().start(
        submitted.transaction.transNo, QStringLiteral("frame"),
        [submitted, done](JobContext &context) {
            FrameJob job = submitted;
            bool claimed = false;
            QString why;
            dicom::Image image;
            QStringList changes;
            const double cpuStart = threadCpuMs();
            try {
                job.claimName();
                claimed = true;
                image = objectStage(job, &changes);
                job.frame = QImage(); // the live picture may paint into it again
                job.cpuMs = threadCpuMs() - cpuStart;
            } catch (const std::exception &e) {
                why = describe(e);
                // An object left empty or partly written is no picture; the name is given up.
                if (QFileInfo(job.dcmPath()).size() == 0)
                    QFile::remove(job.dcmPath());
            }
            context.post([job, image, claimed, why, done, changes] {
                for (const QString &line : changes)
                    AddLog(line);
                if (why.isEmpty())
                    listFrame(job, image);
                if (done)
                    done(job, claimed, why);
            });
        },
        {}, options);
}

} // namespace orv
