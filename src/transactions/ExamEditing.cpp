#include "ExamEditing.h"

#include "TransactionStore.h"

#include "imagestore/ProcedureSteps.h"
#include "outside/Connection.h"
#include "outside/dicom/Toolkit.h"

#include <QDate>

namespace orv {

namespace ExamEditing {

using F = OpenTransaction::Field;

void newDefaults(OpenTransaction &exam, const QString &employeeCode)
{
    exam.setValue(F::TransDate, QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy")));
    exam.setValue(F::StudyUID, dicom::newUid());
    exam.setValue(F::UserId, employeeCode);
    exam.setValue(F::TechID, employeeCode);
}

void lookUp(Connection &db, OpenTransaction &exam, F id)
{
    F name = F::DocName;
    std::optional<QString> (*find)(Connection &, const QString &) = &TransactionStore::doctorName;
    if (id == F::RadId) {
        name = F::RadName;
    } else if (id == F::TechID) {
        name = F::Technologist;
        find = &TransactionStore::technologistName;
    } else if (id == F::ExamId) {
        name = F::ExamName;
        find = &TransactionStore::examName;
    }
    const QString value = exam.value(id);
    if (value.trimmed().isEmpty() || (id == F::RadId && value == QLatin1String("0")))
        return;
    if (const auto found = find(db, value)) {
        exam.setValue(name, *found);
    } else {
        exam.setValue(id, QString());
        exam.setValue(name, QString());
    }
}

void read(Connection &db, OpenTransaction &exam, const QString &transNo, RecordSet &rs)
{
    const auto text = [&rs](const char *column) { return rs.text(QLatin1String(column)); };
    exam.setValue(F::HospNum, text("hospnum"));
    exam.setValue(F::PatientID, text("patient_id"));
    exam.setValue(F::TransNo, text("trans_no"));
    exam.setValue(F::FileNo, text("file_no"));
    exam.setValue(F::ExamType, text("RevenueID"));
    exam.setValue(F::ExamId, text("exam_id"));
    exam.setValue(F::DocID, text("refdoc_id"));
    exam.setValue(F::RadId, text("radiologist_id"));
    exam.setValue(F::TechID, text("technologist_id"));
    exam.setValue(F::TransDate, text("date_trans"));
    exam.setValue(F::UserId, text("by_trans"));
    exam.setValue(F::Interpret, text("Interpretation"));
    exam.setValue(F::IntBy, TransactionStore::userFullName(db, text("by_interpret")) + QLatin1Char(' ') + text("date_interpret"));
    exam.setValue(F::StudyUID, text("StudyUID"));
    exam.setValue(F::StepState, ProcedureSteps(db).state(transNo));
    // An exam taken from the worklist names its order again in what it stamps now.
    exam.setScheduledOrder(text("order_step_id").isEmpty() && text("order_proc_id").isEmpty()
                               ? ScheduledOrder{}
                               : ScheduledOrder{exam.value(F::TransNo), text("order_proc_id"), text("order_proc_desc"),
                                                text("order_step_id"), text("order_study_uid")});
}

bool fillPatient(Connection &db, OpenTransaction &exam, const QString &key, int useHospPat)
{
    const auto p = TransactionStore::patient(db, key, useHospPat);
    if (!p)
        return false;
    exam.setValue(F::FName, p->first);
    exam.setValue(F::MName, p->middle);
    exam.setValue(F::LName, p->last);
    exam.setValue(F::Gender, p->gender);
    exam.setValue(F::BDate, p->birthDate);
    return true;
}

QString missingRequired(const OpenTransaction &exam)
{
    if (exam.value(F::HospNum).trimmed().isEmpty())
        return QStringLiteral("Patient ID is required!");
    if (exam.value(F::TransNo).trimmed().isEmpty())
        return QStringLiteral("Accession Num is required!");
    return QString();
}

} // namespace ExamEditing

} // namespace orv
