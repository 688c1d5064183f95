#include "FrameCapture.h"

#include "core/OpenTransaction.h"
#include "outside/SettingsStore.h"
#include "outside/capture/Bitmap.h"
#include "outside/dicom/Toolkit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <ctime>

namespace orv {

namespace {
// A date the DA can hold (a real day), else "".
QString dateOrEmpty(const QString &text)
{
    const QString encoded = dicom::DataSet::encodeForVr(QStringLiteral("DA"), text);
    return QDate::fromString(encoded, QStringLiteral("yyyyMMdd")).isValid() ? text : QString();
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QString sexOrEmpty(const QString &text)
{
    const QString s = text.trimmed().toUpper();
    return s == QLatin1String("M") || s == QLatin1String("F") || s == QLatin1String("O") ? s : QString();
}
} // namespace

FrameIdentity FrameIdentity::from(const OpenTransaction &tr, const QString &companyName)
{
    using T = OpenTransaction;
    return {tr.GetPatName(),       tr.value(T::PatientID), companyName,
            tr.value(T::BDate),    tr.value(T::Gender),    tr.value(T::TransNo)};
}

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

dicom::Image frameImage(const FrameIdentity &id, const QString &baseName, const QDateTime &at)
{
    dicom::Image image;
    image.add(0x0010, 0x0010, id.patientName);
    image.add(0x0010, 0x0020, id.patientId);
    image.add(0x0010, 0x0021, id.issuer);
    image.add(0x0010, 0x0030, dateOrEmpty(id.birthDate));
    image.add(0x0010, 0x0040, sexOrEmpty(id.sex));
    image.add(0x0020, 0x0010, id.transNo);
    image.add(0x0008, 0x0016, QString::fromLatin1(dicom::kSecondaryCaptureClass));
    image.add(0x0008, 0x0020, at.date().toString(QStringLiteral("MM/dd/yyyy")));
    image.add(0x0008, 0x0030, at.time().toString(QStringLiteral("HH:mm")));
    image.add(0x0004, 0x1500, baseName + QStringLiteral(".dcm"));
    image.setDescription(id.patientName);
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

FrameWriter::FrameWriter(QObject *parent) : QObject(parent)
{
    m_pool.setMaxThreadCount(1); // one after the other, in the order captured
    m_pool.setExpiryTimeout(-1);
}

FrameWriter::~FrameWriter()
{
    m_pool.clear();
    m_pool.waitForDone();
}

void FrameWriter::writeBitmapStage(const FrameJob &job)
{
    capture::writeBitmap(job.frame, job.bmpPath);
}

dicom::Image FrameWriter::objectStage(const FrameJob &job)
{
    dicom::Image image = frameImage(job.identity, job.baseName, job.at);
    image.importPicture(job.bmpPath, QStringLiteral("BMP"));
    writeFrameObject(image, job.dcmPath);
    return viewerImage(job);
}

dicom::Image FrameWriter::viewerImage(const FrameJob &job)
{
    dicom::Image image = dicom::Image::fromFile(job.dcmPath);
    image.add(0x0004, 0x1500, job.baseName + QStringLiteral(".dcm"));
    return image;
}

void FrameWriter::submit(const FrameJob &job)
{
    ++m_pending;
    m_pool.start([this, submitted = job] {
        FrameJob job = submitted;
        bool bitmapWritten = false;
        QString why;
        dicom::Image image;
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = threadCpuMs();
        try {
            writeBitmapStage(job);
            bitmapWritten = true;
            job.frame = QImage(); // the live picture may paint into it again
            job.bitmapMs = double(clock.nsecsElapsed()) / 1e6;
            image = objectStage(job);
            job.objectMs = double(clock.nsecsElapsed()) / 1e6 - job.bitmapMs;
            job.cpuMs = threadCpuMs() - cpuStart;
        } catch (const std::exception &e) {
            why = describe(e);
        }
        QMetaObject::invokeMethod(this, [this, job, image, bitmapWritten, why] {
            --m_pending;
            if (why.isEmpty())
                emit stored(job, image);
            else
                emit failed(job, bitmapWritten, why);
            if (m_pending == 0)
                emit idle();
        }, Qt::QueuedConnection);
    });
}

} // namespace orv
