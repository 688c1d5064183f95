#pragma once

#include "session/OpenTransaction.h"
#include "outside/Connection.h"

#include <QDate>
#include <QString>
#include <QVariantList>

#include <optional>

namespace orv {

struct Statement
{
    QString sql;
    QVariantList params;
};

// The filters of the transaction list.
struct SearchFilter
{
    QString text;           // last-name or transaction-number prefix, trimmed
    QString modality;       // AcquireModalityCode; empty lists every modality
    int useHospPat = 0;     // 1: patients from the hospital master
    bool dateSpecified = false;
    QDate date;
    bool pendingOnly = false;
};

// The list statement, from its pieces in their order; the search text and the date are bound.
Statement listStatementFromPieces(const SearchFilter &filter);
// The statement the list runs: the same rows in the same order as listStatementFromPieces on
// every backend, read through indexes where that one reads or sorts every transaction.
Statement searchStatement(Backend backend, const SearchFilter &filter);

struct PatientFields
{
    QString last, first, middle, gender, birthDate;
};

// The statements of the transaction editor and its lookups. Each throws orv::Error with the
// database's description when a statement fails.
namespace TransactionStore {

// Issues the next transaction number: read and advance the counter as one atomic step on every
// backend (the first number is 1). Numbers past 32767 keep counting.
QString NextTransNo(Connection &db);

// "Last, First Middle" of a doctor in the hospital doctor master; nullopt when not found.
std::optional<QString> doctorName(Connection &db, const QString &doctorId);
std::optional<QString> technologistName(Connection &db, const QString &technologistId);
std::optional<QString> examName(Connection &db, const QString &examId);
// The patient block, from the department register (by registration number) or the hospital
// master (by hospital number).
std::optional<PatientFields> patient(Connection &db, const QString &key, int useHospPat);
// The display name of a user code; empty when unknown.
QString userFullName(Connection &db, const QString &userCode);

// The stored row of a transaction number; an empty record set when not stored.
RecordSet load(Connection &db, const QString &transNo);
// Inserts or updates the open transaction's row (check, then insert or update).
void save(Connection &db, const OpenTransaction &t);
// Issues the next series number of a stored transaction as one atomic step: the higher of
// `atLeast` and one past the highest number issued for it so far (on any workstation), recorded
// as the highest issued. A transaction not stored yet gets `atLeast`.
int issueSeriesNumber(Connection &db, const QString &transNo, int atLeast);
// Writes the interpretation, its radiologist, who interpreted and when into the row; false when
// no row has that transaction number (nothing was written).
bool saveInterpretation(Connection &db, const QString &transNo, const QString &interpretation, const QString &radiologistId,
                        const QString &userId, const QString &date);

} // namespace TransactionStore

} // namespace orv
