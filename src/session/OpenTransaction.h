#pragma once

#include "outside/audit/AuditTrail.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

namespace orv {

// The scheduled procedure an exam was taken from (a modality worklist entry): its identity goes
// into every object stamped for the exam's accession number.
struct ScheduledOrder
{
    QString accession, requestedProcedureId, requestedProcedureDescription, scheduledStepId, studyUid;
    bool isEmpty() const { return accession.isEmpty(); }
};

// One exam transaction as typed values: what a background job takes with it when it starts, so
// that it stamps and files its results under the transaction it was started for, whatever the
// editor shows by the time it ends.
struct TransactionRecord
{
    QString transNo, patientId, hospNum, examType, fileNo, examId, examName, docId, docName, radId, radName,
        techId, technologist, userId, studyUid, seriesUid, lastName, firstName, middleName, gender, interpretation,
        intBy;
    QDate transDate; // invalid when the editor's text is not a date
    QDate birthDate; // invalid when the editor's text is not a date
    int seriesNumber = 0;
    int imageNumber = 0; // the number of the last image stamped
    // The worklist entry the exam was taken from, when its accession number is the transaction
    // number; empty otherwise.
    ScheduledOrder order;

    // The patient's name in DICOM form ("LAST^FIRST^MIDDLE", empty trailing parts left out).
    QString patientName() const;
    // The patient's name as a person reads it: "LAST, FIRST MIDDLE".
    QString shownPatientName() const;
    // The patient's number as a person reads it: the hospital number, with the registration
    // number in parentheses where that differs ("90002 (2)").
    QString shownPatientId() const;
};

// The patient and study of an exam as its images carry them (the hospital number is the Patient
// ID written), for the audit trail.
audit::Subject examSubject(const TransactionRecord &record);

// A person's name in DICOM form: "last^first^middle" without empty trailing parts.
QString dicomPersonName(const QString &last, const QString &first, const QString &middle);
// A person's name as the lists and the editor show it: "LAST, FIRST MIDDLE" (no separator is
// left dangling when a part is empty).
QString shownPersonName(const QString &last, const QString &first, const QString &middle);
// A name shown as shownPersonName() gives it ("SORIANO, BEATRIZ L") in DICOM form
// ("SORIANO^BEATRIZ^L"): the family name before the comma, the middle name the last word after
// it, the given name the words between. A text without a comma is the family name alone.
QString dicomPersonNameFromShown(const QString &shown);
// A date as the editor shows it ("MM/dd/yyyy"); empty for an invalid date.
QString shownDate(const QDate &date);

// A date as the editor shows and the database returns it: "MM/DD/YYYY", "YYYY-MM-DD" (a time
// may follow) or "YYYYMMDD"; invalid for anything else.
QDate parseShownDate(const QString &text);
// The numeric value of a text as the editor counts it: its leading digits (after blanks), 0
// when there are none.
int numericValue(const QString &text);

// The open transaction: the record the editor shows. The editor's fields show and edit its
// texts; record() gives the typed values (dates as dates, numbers as numbers) that stamping,
// capture, sending, the worklist and printing take at the moment they start. Field names are
// the names of the editor's text boxes without the "txt" prefix. GUI thread only.
class OpenTransaction : public QObject
{
    Q_OBJECT
public:
    enum Field {
        TransNo, PatientID, HospNum, ExamType, FileNo, ExamId, ExamName, DocID, DocName, RadId, RadName,
        TechID, Technologist, UserId, TransDate, StudyUID, SeriesUID, SeriesNum, ImgNum,
        LName, FName, MName, Gender, BDate, Interpret, IntBy,
        StepState, // the state of the exam's performed procedure step; "" when it has none
        FieldCount
    };
    Q_ENUM(Field)

    // The text the field shows.
    QString value(Field f) const { return m_values.value(f); }
    void setValue(Field f, const QString &v);
    void clear();

    TransactionRecord record() const;

    // The patient name as "last^first^middle".
    QString GetPatName() const;

    // Advances the image number by `count` and returns the first of the numbers taken; each
    // stamping takes one.
    int takeImageNumbers(int count = 1);
    // Gives back numbers taken by takeImageNumbers(`count`) that returned `first`, when nothing
    // has been taken since (a write that failed leaves no gap).
    void giveBackImageNumbers(int first, int count = 1);
    // Starts a new series: a new series UID, the next series number of the exam (issued by the
    // editor's issueSeriesNumber step where installed, so that a reopened exam never repeats
    // one), image number 0. Pictures whose numbers were taken before keep the series they were
    // taken in. `issued` false: the number counted here alone (a new exam has no stored series).
    void NewSeries(bool issued = true);

    // The control name bound to a field ("txtTransNo").
    static QString controlName(Field f);

    // The worklist entry taken into this transaction; record() carries it while the transaction
    // number is its accession number.
    void setScheduledOrder(const ScheduledOrder &order) { m_order = order; }
    const ScheduledOrder &scheduledOrder() const { return m_order; }

    // The editor's own steps on the record, which the worklist asks for when it fills in a new
    // transaction: the defaults of a new transaction, and the lookup that resolves an identifier
    // field to its name (or erases it). The editor installs them while it is loaded; without an
    // editor they do nothing.
    struct EditorSteps
    {
        std::function<void()> newTranDefault;
        std::function<void(Field)> lookup;
        // The series number a new series takes, given the next one counted here.
        std::function<int(int next)> issueSeriesNumber;
    };
    void setEditorSteps(EditorSteps steps) { m_steps = std::move(steps); }
    void NewTranDefault();
    void lookup(Field identifier);

signals:
    void changed(orv::OpenTransaction::Field field, const QString &value);

private:
    QHash<int, QString> m_values;
    ScheduledOrder m_order;
    EditorSteps m_steps;
};

// The open transaction of this run (the exam session's).
OpenTransaction &openTransaction();

} // namespace orv
