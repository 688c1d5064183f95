#include "ProcedureSteps.h"

#include "IdentityStamp.h"

#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "sendqueue/SendQueue.h"
#include "sendqueue/SendQueueRunner.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/dicom/ProcedureStep.h"
#include "outside/dicom/Toolkit.h"

#include <QFile>

namespace orv {

namespace {

const QString kJob = QStringLiteral("procedure step");


// Queues a step message; its file is removed when the record fails.
void queueMessage(Connection &db, const QString &transNo, const QString &stepUid, const QString &service, const QString &label,
                  const dicom::DataSet &message, const dicom::Peer &provider)
{
    const QString path = SendQueue::newCopyPath();
    dicom::saveDataSet(message, path);
    QueueEntry e;
    e.sendId = dicom::newUid();
    e.transNo = transNo;
    e.filePath = path;
    e.sourcePath = path;
    e.label = label;
    e.peer = provider;
    e.service = service;
    e.sopClass = dicom::kProcedureStepClass;
    e.sopInstance = stepUid;
    e.transferSyntax = QStringLiteral("1.2.840.10008.1.2.1");
    SendQueue(db).add({e}, false);
}

} // namespace

QString ProcedureSteps::state(const QString &transNo)
{
    RecordSet rs = m_db.query(QStringLiteral("SELECT TOP 1 state FROM pacs..tblProcedureStep WHERE trans_no = ? ORDER BY started_at DESC"),
                              {transNo});
    return rs.isEmpty() ? QString() : rs.text(QStringLiteral("state"));
}

QString ProcedureSteps::begin(const TransactionRecord &exam, const dicom::Peer &provider, const QString &companyName)
{
    const QString uid = dicom::newUid();
    bool started = false;
    m_db.runInTransaction([&] {
        RecordSet rs = m_db.query(QStringLiteral("SELECT count(*) AS n FROM pacs..tblProcedureStep WHERE trans_no = ? AND state = ?"),
                                  {exam.transNo, StepState::InProgress});
        if (rs.text(QStringLiteral("n")).toInt() > 0)
            return;
        m_db.execute(QStringLiteral("INSERT INTO pacs..tblProcedureStep (pps_uid, trans_no, state, workstation, started_at, ended_at) "
                                    "VALUES (?, ?, ?, ?, ?, 0)"),
                     {uid, exam.transNo, StepState::InProgress, SendQueue::workstation(), SendQueue::now()});
        started = true;
    });
    if (!started)
        return {};
    dicom::DataSet identity;
    writeExamIdentity(identity, exam, companyName);
    const dicom::DataSet message = dicom::inProgressMessage(
        identity, {exam.transNo, provider.callingAe, SendQueue::workstation().left(16), exam.examName, QDateTime::currentDateTime()});
    try {
        queueMessage(m_db, exam.transNo, uid, kStepCreate, StepState::InProgress, message, provider);
    } catch (...) {
        m_db.execute(QStringLiteral("DELETE FROM pacs..tblProcedureStep WHERE pps_uid = ?"), {uid});
        throw;
    }
    return uid;
}

QString ProcedureSteps::end(const QString &transNo, bool completed, const QPair<QString, QString> &reason, const dicom::Peer &provider,
                           const QString &description)
{
    RecordSet rs = m_db.query(QStringLiteral("SELECT pps_uid FROM pacs..tblProcedureStep WHERE trans_no = ? AND state = ?"),
                              {transNo, StepState::InProgress});
    if (rs.isEmpty())
        throw Error(QStringLiteral("The exam \"%1\" has no procedure step in progress.").arg(transNo));
    const QString uid = rs.text(QStringLiteral("pps_uid"));
    const QString state = completed ? StepState::Completed : StepState::Discontinued;
    const dicom::DataSet message = dicom::finalMessage(completed, QDateTime::currentDateTime(), description, reason);
    queueMessage(m_db, transNo, uid, kStepSet, state, message, provider);
    m_db.execute(QStringLiteral("UPDATE pacs..tblProcedureStep SET state = ?, ended_at = ? WHERE pps_uid = ?"), {state, SendQueue::now(), uid});
    return uid;
}

void beginProcedureStep(const QString &transNo)
{
    OpenTransaction &open = session().transaction();
    if (!dicomNodes().procedureStepsOn() || !session().isOpen(transNo) || transNo.trimmed().isEmpty()
        || open.value(OpenTransaction::StepState) == StepState::InProgress)
        return;
    dicom::Peer provider;
    try {
        provider = dicomNodes().procedureStepPeer();
    } catch (const Error &e) {
        AddLog(QStringLiteral("The procedure step of %1 is not reported: %2").arg(transNo, e.description()));
        return;
    }
    // Shown at once, so that further images start no second job; the job finds out whether a
    // step was in progress already.
    const QString before = open.value(OpenTransaction::StepState);
    open.setValue(OpenTransaction::StepState, StepState::InProgress);
    const TransactionRecord exam = open.record();
    const QString company = state().CompanyName;
    SendQueueRunner::queueInBackground(
        transNo, kJob, [=](Connection &db) { ProcedureSteps(db).begin(exam, provider, company); },
        [=](const QString &error) {
            if (error.isEmpty())
                return;
            AddLog(QStringLiteral("The procedure step of %1 cannot be started: %2").arg(transNo, error));
            if (session().isOpen(transNo))
                session().transaction().setValue(OpenTransaction::StepState, before);
        });
}

void endProcedureStep(const QString &transNo, bool completed, const QPair<QString, QString> &reason,
                      std::function<void(const QString &error)> done)
{
    dicom::Peer provider;
    try {
        provider = dicomNodes().procedureStepPeer();
    } catch (const Error &e) {
        done(e.description());
        return;
    }
    const QString description = session().isOpen(transNo) ? session().transaction().record().examName : QString();
    SendQueueRunner::queueInBackground(
        transNo, kJob, [=](Connection &db) { ProcedureSteps(db).end(transNo, completed, reason, provider, description); },
        [=](const QString &error) {
            if (error.isEmpty() && session().isOpen(transNo))
                session().transaction().setValue(OpenTransaction::StepState, completed ? StepState::Completed : StepState::Discontinued);
            done(error);
        });
}

} // namespace orv
