#include "IdentityStamp.h"

#include "core/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Toolkit.h"

#include <QDate>
#include <QTime>

namespace orv {

namespace {
using T = OpenTransaction;

// A date the DA can hold (YYYYMMDD of a real day), else "".
QString dateOrEmpty(const QString &text)
{
    const QString encoded = dicom::DataSet::encodeForVr(QStringLiteral("DA"), text);
    return QDate::fromString(encoded, QStringLiteral("yyyyMMdd")).isValid() ? text : QString();
}

// Patient's Sex takes M, F or O only.
QString sexOrEmpty(const QString &text)
{
    const QString s = text.trimmed().toUpper();
    return s == QLatin1String("M") || s == QLatin1String("F") || s == QLatin1String("O") ? s : QString();
}
} // namespace

int numericValue(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype n = 0;
    while (n < t.size() && n < 9 && t.at(n).isDigit() && t.at(n).unicode() < 128)
        ++n;
    return n == 0 ? 0 : t.left(n).toInt();
}

void stampIdentity(dicom::Image &image, OpenTransaction &tr, const QString &companyName)
{
    // Identity properties of the image object.
    image.setStudyUid(tr.value(T::StudyUID));
    image.setSeriesUid(tr.value(T::SeriesUID));
    image.setInstanceUid(dicom::newUid());
    // The toolkit image has no property of its own for the exam name; it is carried by
    // Requested Procedure Description below.

    image.add(0x0008, 0x0090, tr.value(T::DocName));
    const QString patientName = tr.GetPatName();
    image.add(0x0010, 0x0010, patientName);
    image.setDescription(patientName);
    image.add(0x0010, 0x0020, tr.value(T::HospNum));
    image.add(0x0010, 0x0021, companyName);
    image.add(0x0010, 0x0030, dateOrEmpty(tr.value(T::BDate)));
    image.add(0x0010, 0x0040, sexOrEmpty(tr.value(T::Gender)));
    image.add(0x0008, 0x0016, QString::fromLatin1(dicom::kSecondaryCaptureClass));
    image.add(0x0008, 0x0020, dateOrEmpty(tr.value(T::TransDate)));
    image.add(0x0008, 0x0030, QTime::currentTime().toString(QStringLiteral("HH:mm")));
    image.add(0x0008, 0x1070, tr.value(T::Technologist));
    image.add(0x0040, 0x1001, tr.value(T::ExamId));
    image.add(0x0032, 0x1060, tr.value(T::ExamName));
    image.add(0x0008, 0x0050, tr.value(T::TransNo));
    image.add(0x0020, 0x0010, tr.value(T::TransNo));
    image.add(0x0008, 0x0060, tr.value(T::ExamType));

    const QString before = tr.value(T::ImgNum);
    const QString imageNumber = QString::number(numericValue(before) + 1);
    tr.setValue(T::ImgNum, imageNumber);
    try {
        image.add(0x0020, 0x0013, imageNumber);
        image.add(0x0020, 0x0011, tr.value(T::SeriesNum));
    } catch (...) {
        tr.setValue(T::ImgNum, before);
        throw;
    }
}

void stampIdentity(dicom::Image &image)
{
    stampIdentity(image, openTransaction(), state().CompanyName);
}

} // namespace orv
