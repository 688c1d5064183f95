#include "OpenTransaction.h"

#include "ExamSession.h"

#include "outside/SettingsStore.h"
#include "outside/dicom/Toolkit.h"

#include <QMetaEnum>

namespace orv {

QString TransactionRecord::patientName() const { return dicomPersonName(lastName, firstName, middleName); }

QString TransactionRecord::shownPatientName() const { return shownPersonName(lastName, firstName, middleName); }

QString TransactionRecord::shownPatientId() const
{
    const QString hosp = hospNum.trimmed(), reg = patientId.trimmed();
    return hosp + (reg.isEmpty() || reg == hosp ? QString() : QStringLiteral(" (") + reg + QLatin1Char(')'));
}

QString dicomPersonName(const QString &last, const QString &first, const QString &middle)
{
    QString name = last.trimmed() + QLatin1Char('^') + first.trimmed() + QLatin1Char('^') + middle.trimmed();
    while (name.endsWith(QLatin1Char('^')))
        name.chop(1);
    return name;
}

QString shownPersonName(const QString &last, const QString &first, const QString &middle)
{
    const QString given = (first.trimmed() + QLatin1Char(' ') + middle.trimmed()).trimmed();
    if (given.isEmpty())
        return last.trimmed();
    return last.trimmed() + QStringLiteral(", ") + given;
}

QString dicomPersonNameFromShown(const QString &shown)
{
    const qsizetype comma = shown.indexOf(QLatin1Char(','));
    if (comma < 0)
        return dicomPersonName(shown, QString(), QString());
    QString given = shown.mid(comma + 1);
    while (given.startsWith(QLatin1Char(' ')))
        given.remove(0, 1);
    // "LAST, FIRST " (the lists' form of an empty middle name) keeps a given name of several words.
    const qsizetype space = given.endsWith(QLatin1Char(' ')) ? -1 : given.lastIndexOf(QLatin1Char(' '));
    return space < 0 ? dicomPersonName(shown.left(comma), given, QString())
                     : dicomPersonName(shown.left(comma), given.left(space), given.mid(space + 1));
}

QString shownDate(const QDate &date) { return date.isValid() ? date.toString(QStringLiteral("MM/dd/yyyy")) : QString(); }

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

void OpenTransaction::NewSeries(bool issued)
{
    const int next = SettingsStore::intOf(value(SeriesNum)) + 1;
    setValue(SeriesUID, dicom::newUid());
    setValue(SeriesNum, QString::number(issued && m_steps.issueSeriesNumber ? qMax(next, m_steps.issueSeriesNumber(next)) : next));
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

QString OpenTransaction::GetPatName() const { return dicomPersonName(value(LName), value(FName), value(MName)); }

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

audit::Subject examSubject(const TransactionRecord &r)
{
    audit::Subject s;
    s.patientId = r.hospNum.trimmed().isEmpty() ? r.patientId.trimmed() : r.hospNum.trimmed();
    s.patientName = r.patientName();
    s.studyUid = r.studyUid.trimmed();
    s.accession = r.transNo.trimmed();
    return s;
}

OpenTransaction &openTransaction()
{
    return session().transaction();
}

} // namespace orv
