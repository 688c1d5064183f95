#include "OpenTransaction.h"

#include "ExamSession.h"

#include "outside/SettingsStore.h"
#include "outside/dicom/Toolkit.h"

#include <QMetaEnum>

namespace orv {

QString TransactionRecord::patientName() const
{
    return lastName + QLatin1Char('^') + firstName + QLatin1Char('^') + middleName;
}

QDate parseShownDate(const QString &text)
{
    const QString t = text.trimmed();
    for (const char *format : {"MM/dd/yyyy", "M/d/yyyy", "yyyy-MM-dd", "yyyyMMdd"}) {
        const QDate d = QDate::fromString(t.left(QLatin1String(format) == QLatin1String("yyyy-MM-dd") ? 10 : t.size()),
                                          QLatin1String(format));
        if (d.isValid())
            return d;
    }
    return {};
}

int numericValue(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype n = 0;
    while (n < t.size() && n < 9 && t.at(n).isDigit() && t.at(n).unicode() < 128)
        ++n;
    return n == 0 ? 0 : t.left(n).toInt();
}

void OpenTransaction::setValue(Field f, const QString &v)
{
    if (m_values.value(f) == v && m_values.contains(f))
        return;
    m_values.insert(f, v);
    emit changed(f, v);
}

void OpenTransaction::NewSeries()
{
    setValue(SeriesUID, dicom::newUid());
    setValue(SeriesNum, QString::number(SettingsStore::intOf(value(SeriesNum)) + 1));
    setValue(ImgNum, QStringLiteral("0"));
}

void OpenTransaction::clear()
{
    for (int f = 0; f < FieldCount; ++f)
        setValue(Field(f), QString());
}

TransactionRecord OpenTransaction::record() const
{
    TransactionRecord r;
    r.transNo = value(TransNo);
    r.patientId = value(PatientID);
    r.hospNum = value(HospNum);
    r.examType = value(ExamType);
    r.fileNo = value(FileNo);
    r.examId = value(ExamId);
    r.examName = value(ExamName);
    r.docId = value(DocID);
    r.docName = value(DocName);
    r.radId = value(RadId);
    r.radName = value(RadName);
    r.techId = value(TechID);
    r.technologist = value(Technologist);
    r.userId = value(UserId);
    r.studyUid = value(StudyUID);
    r.seriesUid = value(SeriesUID);
    r.lastName = value(LName);
    r.firstName = value(FName);
    r.middleName = value(MName);
    r.gender = value(Gender);
    r.interpretation = value(Interpret);
    r.intBy = value(IntBy);
    r.transDate = parseShownDate(value(TransDate));
    r.birthDate = parseShownDate(value(BDate));
    r.seriesNumber = numericValue(value(SeriesNum));
    r.imageNumber = numericValue(value(ImgNum));
    if (!m_order.isEmpty() && m_order.accession == r.transNo)
        r.order = m_order;
    return r;
}

QString OpenTransaction::GetPatName() const
{
    return value(LName) + QLatin1Char('^') + value(FName) + QLatin1Char('^') + value(MName);
}

int OpenTransaction::takeImageNumbers(int count)
{
    const int first = numericValue(value(ImgNum)) + 1;
    setValue(ImgNum, QString::number(first + count - 1));
    return first;
}

void OpenTransaction::giveBackImageNumbers(int first, int count)
{
    if (value(ImgNum) == QString::number(first + count - 1))
        setValue(ImgNum, QString::number(first - 1));
}

void OpenTransaction::NewTranDefault()
{
    if (m_steps.newTranDefault)
        m_steps.newTranDefault();
}

void OpenTransaction::lookup(Field identifier)
{
    if (m_steps.lookup)
        m_steps.lookup(identifier);
}

QString OpenTransaction::controlName(Field f)
{
    return QStringLiteral("txt") + QString::fromLatin1(QMetaEnum::fromType<Field>().valueToKey(f));
}

OpenTransaction &openTransaction()
{
    return session().transaction();
}

} // namespace orv
