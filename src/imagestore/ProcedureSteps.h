#pragma once

#include "session/OpenTransaction.h"

#include "outside/Connection.h"
#include "outside/dicom/Peer.h"

#include <QPair>
#include <QString>

#include <functional>

namespace orv {

// The states of an exam's performed procedure step, as stored and as the editor shows them.
namespace StepState {
inline const QString InProgress = QStringLiteral("IN PROGRESS");
inline const QString Completed = QStringLiteral("COMPLETED");
inline const QString Discontinued = QStringLiteral("DISCONTINUED");
} // namespace StepState

// The performed procedure steps of exams (table tblProcedureStep): an exam is in at most one
// step at a time; a step starts when the exam's first image is captured or imported and ends
// when the operator ends the exam. What the provider is told goes through the send queue, so
// that a restart or a provider that is down loses nothing. Works on the connection it is given,
// on that connection's thread.
class ProcedureSteps
{
public:
    explicit ProcedureSteps(Connection &db) : m_db(db) {}

    // Starts a step for the exam unless one is in progress: records it and queues its N-CREATE
    // (IN PROGRESS, with the exam's identity as its objects carry it) for `provider`. Returns
    // the new step's UID; "" when one was in progress already.
    QString begin(const TransactionRecord &exam, const dicom::Peer &provider, const QString &companyName);
    // Ends the exam's step in progress: COMPLETED, or DISCONTINUED with `reason` (DCM code and
    // meaning). Queues the N-SET and returns the step's UID. Throws orv::Error when the exam has
    // no step in progress.
    // `description` names the procedure performed (the protocol of its series).
    QString end(const QString &transNo, bool completed, const QPair<QString, QString> &reason, const dicom::Peer &provider,
                const QString &description);
    // The state of the exam's latest step; "" when it has none.
    QString state(const QString &transNo);

private:
    Connection &m_db;
};

// Starts the open exam's step in the background when steps are reported and none was started
// for it in this run (GUI thread; called whenever images are added to an exam's list). The state
// is shown in the open transaction's StepState when it is done.
void beginProcedureStep(const QString &transNo);
// Ends the exam's step in the background (GUI thread); `done` gets "" or the error's text.
void endProcedureStep(const QString &transNo, bool completed, const QPair<QString, QString> &reason,
                      std::function<void(const QString &error)> done);

} // namespace orv
