#pragma once

#include "session/OpenTransaction.h"
#include "masterdata/MasterDataStore.h"
#include "outside/dicom/DataSet.h"

#include <QAbstractTableModel>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace orv {

class Connection;

// One answer of the worklist provider as the grid lists it, with what the exam takes from it
// beyond the grid's columns.
struct WorklistAnswer
{
    enum Column { Accession, PatientId, PatientName, Gender, Birthdate, DoctorName, Modality, ProcCode, ProcDesc, Date, Remarks, Hidden };
    QStringList cells; // the twelve grid cells
    QString studyUid;  // Study Instance UID of the answer, empty when it has none
    QString scheduledStepId;

    static WorklistAnswer from(const dicom::DataSet &answer);
    QString cell(Column c) const { return cells.value(c); }
};

// The grid's rows: one per answer, in the order received.
class WorklistModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    static QStringList headers();
    // Column widths in twips; the last column is hidden.
    static QList<int> widthsInTwips();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void clear();
    void append(const QList<orv::WorklistAnswer> &answers);
    const WorklistAnswer &answer(int row) const { return m_rows.at(row); }

private:
    QList<WorklistAnswer> m_rows;
};

// What the operator typed into the search fields.
struct WorklistSearch
{
    QString patientName, patientId, studyDate, modality, accession, branch;
};

// The worklist query, run off the GUI thread as a job of the open transaction: answers are
// handed on in the order received while the windows keep answering. Starting a query cancels
// the one running (C-CANCEL, then the association is released); so does cancel(). A cancelled
// query reports nothing more. GUI thread only.
class WorklistQuery : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~WorklistQuery() override;

    // Reads the provider from the DICOM node settings at this moment; a setting that cannot be
    // used is reported through failed().
    void start(const WorklistSearch &search);
    void cancel();
    bool isRunning() const { return bool(m_cancel); }

signals:
    // Answers in the order received; those that arrive close together come as one list.
    void answered(const QList<orv::WorklistAnswer> &answers);
    // The query ended with `count` answers.
    void finished(int count);
    // The query ended with an error; the answers handed on so far stay.
    void failed(const QString &description);

private:
    std::shared_ptr<std::atomic_bool> m_cancel;
};

// The verify fields of the chosen entry, as the operator checked them.
struct WorklistPatient
{
    QString patientId, lastName, firstName, middleName, birthDate, sex;

    // The fields a chosen answer fills: its Patient ID, its name split at "^" (last, first,
    // middle; missing parts empty), its birth date and sex as sent.
    static WorklistPatient from(const WorklistAnswer &answer);
};

// The key "UseWorklistStudyUID" (application VelmorOrvaline, section DICOM): 1 (the default)
// lets a new transaction take the Study Instance UID of its worklist entry.
bool useWorklistStudyUid();

namespace WorklistAccept {

enum class Result { Accepted, DifferentName, DifferentBirthDate };

// How a worklist patient stands in the department register: Known (the register has the
// worklist's Patient ID as a person's hospital number, or as the registration number of a person
// without one), a Namesake (same last, first and middle name and birth date, no hospital number
// yet: perhaps the same person, registered before the hospital numbered them), or None.
struct RegisterMatch
{
    enum class Kind { None, Known, Namesake };
    Kind kind = Kind::None;
    PatientStore::Patient patient;
};
RegisterMatch findInRegister(Connection &db, const WorklistPatient &patient);

// Takes the chosen entry into a new transaction. The person is found in the register
// (findInRegister): a Known person whose last name or birth date differs stops the accept with
// DifferentName or DifferentBirthDate and nothing is written; a Namesake is taken when
// `sameAsRegistered` confirms it. In the database, as one transaction: the person is registered
// when not found (under the worklist's Patient ID as registration number when that is a free
// number, else the next one) with the Patient ID as hospital number, or the found person gets
// it; the exam (Proc Code) and the referring doctor (the first "^" part of Doctor Name is the
// doctor id, then last, first and middle name) are added when missing. Then the open transaction
// is filled: the editor's defaults of a new transaction, the patient (hospital number = the
// worklist's Patient ID, registration number = the register's, birth date as the editor shows
// dates), the accession number as transaction number, the exam and the doctor with their
// lookups, the radiologist, technologist, user and interpretation emptied; with `takeStudyUid`
// the answer's Study Instance UID; and the entry becomes the transaction's scheduled order.
// Throws orv::Error (nothing written) when a statement fails or a value does not fit the
// database.
Result accept(Connection &db, const WorklistAnswer &answer, const WorklistPatient &patient, const QString &userCode,
              OpenTransaction &transaction, bool takeStudyUid,
              const std::function<bool(const PatientStore::Patient &registered)> &sameAsRegistered = {});

} // namespace WorklistAccept

} // namespace orv

Q_DECLARE_METATYPE(orv::WorklistAnswer)
