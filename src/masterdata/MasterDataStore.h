#pragma once

#include "outside/Connection.h"

#include <QString>
#include <QVariantList>

#include <optional>

namespace orv {

// A list read: its T-SQL text and its bound values.
struct ListQuery
{
    QString sql;
    QVariantList params;
};

// A typed text as a LIKE pattern that matches it literally ('%', '_', '[' and the escape
// character '!' escaped); the statements that use it say ESCAPE '!'.
QString likeLiteral(const QString &text);

// The statements of the patient, staff and exam windows. Every value is bound; the functions that
// run a statement throw orv::Error with the database's description when it fails.
namespace PatientStore {

struct Patient
{
    QString id, first, middle, last;
    QString birthDate; // MM/DD/YYYY
    QString sex;       // "M" or "F"
    QString hospNum;   // the number the hospital and its worklist know the person by; may be empty
};

// Register list: patient_id, name_last, name_first, name_middle; last names starting with `text`.
ListQuery registerSearch(const QString &text);
// Patient picker: HospNum, RegNum, last, first, middle, birth date, sex (and what the hospital
// lists add). source 1: the department register; otherwise the hospital master, in-patients
// (type 'I', last name containing the text) or out-patients (last name starting with it).
ListQuery pickerSearch(Backend backend, int source, QChar type, const QString &text);
// The picker's statements as written (values bound), which pickerSearch reads faster: the same
// rows, in an order that agrees with theirs and breaks its ties.
ListQuery pickerSearchAsWritten(int source, QChar type, const QString &text);

bool hasTransactions(Connection &db, const QString &id);
void remove(Connection &db, const QString &id);
// The highest patient id plus 1; 1 on an empty register.
QString nextId(Connection &db);
bool idExists(Connection &db, const QString &id);
void add(Connection &db, const Patient &p, const QString &userId);
std::optional<Patient> load(Connection &db, const QString &id);
void update(Connection &db, const Patient &p, const QString &userId);
// The registered person the hospital knows by `hospNum`.
std::optional<Patient> findByHospNum(Connection &db, const QString &hospNum);
// Registered people of that last and first name who have no hospital number yet.
QList<Patient> unlinkedByName(Connection &db, const QString &last, const QString &first);
// Records the hospital number of a registered person.
void linkHospNum(Connection &db, const QString &id, const QString &hospNum);

} // namespace PatientStore

namespace StaffStore {

// (full name, code) of the active doctors whose last name starts with the text, through the
// hospital's search procedure.
ListQuery doctorSearch(const QString &text);
ListQuery radiologistSearch(const QString &text, bool radiologistsOnly);
// technologist_id, name_last, name_first, name_middle.
ListQuery technologistSearch(const QString &text);
void addTechnologist(Connection &db, const QString &id, const QString &last, const QString &first, const QString &middle);
void updateTechnologist(Connection &db, const QString &id, const QString &last, const QString &first, const QString &middle);
// The hospital doctor master (build_file..tbcoDoctor): whether a doctor id is there, and adding one.
bool hospitalDoctorExists(Connection &db, const QString &doctorId);
void addHospitalDoctor(Connection &db, const QString &doctorId, const QString &last, const QString &first,
                       const QString &middle);
// "Last, First Middle" of a department doctor (tblDoctor); radiologists only when asked.
std::optional<QString> doctorName(Connection &db, const QString &doctorId, bool radiologistOnly);

} // namespace StaffStore

namespace ExamStore {

ListQuery examSearch(const QString &modality, const QString &text);
void addExam(Connection &db, const QString &id, const QString &name, const QString &modality);
bool examExists(Connection &db, const QString &id);
void updateExam(Connection &db, const QString &id, const QString &name, const QString &modality);
void deleteExam(Connection &db, const QString &id, const QString &modality);
std::optional<QString> examName(Connection &db, const QString &examId);

// The coded interpretations: examcode_id, exam_id, exam_name, rad_name (, examcode with the
// department's exam table).
ListQuery codedSearch(bool pacsExamCodes, const QString &modality, const QString &text, const QString &radiologistId);
// The interpretation text of a coded interpretation; empty when there is none.
QString examCodeText(Connection &db, const QString &examCodeId);
void deleteExamCode(Connection &db, const QString &examCodeId);
// radiologistId empty: without a radiologist.
void addExamCode(Connection &db, const QString &examId, const QString &text, const QString &radiologistId, const QString &userId);

struct ExamCode
{
    QString examId, text, radiologistId;
};
std::optional<ExamCode> loadExamCode(Connection &db, const QString &examCodeId);
void updateExamCode(Connection &db, const QString &examCodeId, const QString &text, const QString &userId);

} // namespace ExamStore

} // namespace orv
