#pragma once

#include "session/OpenTransaction.h"

#include <QString>

namespace orv {

class Connection;
class RecordSet;

// The editing of the open transaction, without its window: a new exam's defaults, the lookups of
// the identifier fields, a stored exam read into it, and the checks before a save. Each works
// on the open transaction's values; the editor's fields are bound to them and follow.
namespace ExamEditing {

// A new exam: today, a new study UID, the login's employee code as user and technologist. The
// technologist's name is looked up apart.
void newDefaults(OpenTransaction &exam, const QString &employeeCode);

// Looks up the identifier field `id` (DocID, RadId, TechID or ExamId) into its name field: a
// blank identifier runs no query, nor does a radiologist "0"; a found one shows its name; one
// missing from its table is erased with its name. Throws orv::Error.
void lookUp(Connection &db, OpenTransaction &exam, OpenTransaction::Field id);

// The stored exam `transNo`, read from its row of TransactionStore::load: numbers, exam,
// doctors, dates, interpretation and who made it, study UID, procedure step state and the
// worklist order it came from. The names and the patient block are looked up apart. Throws
// orv::Error.
void read(Connection &db, OpenTransaction &exam, const QString &transNo, RecordSet &row);

// The patient block of `key` in the register or the hospital master; false when none is found.
// Throws orv::Error.
bool fillPatient(Connection &db, OpenTransaction &exam, const QString &key, int useHospPat);

// The message for the first required field left empty; empty when none is.
QString missingRequired(const OpenTransaction &exam);

} // namespace ExamEditing

} // namespace orv
